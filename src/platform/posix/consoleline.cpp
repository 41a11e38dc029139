#include "platform/consoleline.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace telwick::platform {

std::string OneLine(std::string_view text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r' || c == '\n') {
            out += ' ';
        } else if ((c < 0x20 && c != '\t') || c == 0x7f) {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += ch;
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
