#include "platform/consoleline.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace telwick::platform {

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
