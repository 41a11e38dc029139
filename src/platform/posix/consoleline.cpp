#include "platform/consoleline.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

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

void WriteStandardError(std::string_view line) {
    // Whatever the streams of the program still hold goes first, so that the
    // lines keep their order.
    std::fflush(stderr);
    while (!line.empty()) {
        const ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // dropped: nobody reads, or nothing can be written
        line.remove_prefix(static_cast<size_t>(n));
    }
}

}  // namespace telwick::platform
