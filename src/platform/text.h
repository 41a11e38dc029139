// Small text helpers every floor shares.
#pragma once

#include <string>

namespace telwick {

// Every occurrence of from (not empty) replaced by to, left to right; what is
// put in is not looked at again.
inline std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    size_t pos = text.find(from);
    if (pos == std::string::npos) return text;
    std::string out;
    out.reserve(text.size());
    size_t done = 0;
    while (pos != std::string::npos) {
        out.append(text, done, pos - done);
        out.append(to);
        done = pos + from.size();
        pos = text.find(from, done);
    }
    out.append(text, done, std::string::npos);
    return out;
}

}  // namespace telwick
