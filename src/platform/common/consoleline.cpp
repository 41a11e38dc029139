// The escaping of console lines, the same on every system.
#include "platform/consoleline.h"

namespace telwick::platform {

std::string EscapeControlCharacters(std::string_view text) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b != 0x7F) {
            out.push_back(c);
            continue;
        }
        out.push_back('\\');
        switch (c) {
        case '\n': out.push_back('n'); break;
        case '\r': out.push_back('r'); break;
        case '\t': out.push_back('t'); break;
        default:
            out.push_back('x');
            out.push_back(Hex[b >> 4]);
            out.push_back(Hex[b & 0xF]);
        }
    }
    return out;
}

}  // namespace telwick::platform
