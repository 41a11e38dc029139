// Small text helpers every floor shares.
#pragma once

#include <cctype>
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

// The text without blanks, tabs and line ends at either end.
inline std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

// An ASCII letter in lower case; any other byte as it is, whatever the locale
// (a byte of a UTF-8 character is never changed).
constexpr char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// ASCII letters in lower case; other bytes as they are.
inline std::string Lower(std::string s) {
    for (char& c : s) c = LowerAscii(c);
    return s;
}

// lower (already in lower case) and text are equal when text's ASCII letters
// are taken in lower case.
inline bool EqualsLowered(const std::string& lower, const std::string& text) {
    if (lower.size() != text.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (lower[i] != LowerAscii(text[i])) return false;
    return true;
}

}  // namespace telwick
