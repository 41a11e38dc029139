// Lines on standard error on Windows: a console gets the text as UTF-16 (it
// would show UTF-8 bytes in its own code page), a pipe or file gets UTF-8
// bytes, as on Linux. A service started by the service manager has no
// standard error at all: the line is dropped.
#include "platform/consoleline.h"

#include "platform/win/wide.h"

#include <algorithm>
#include <cstdio>

namespace telwick::platform {

void WriteStandardError(std::string_view line) {
    // Whatever the streams of the program still hold goes first, so that the
    // lines keep their order.
    std::fflush(stderr);
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    if (GetConsoleMode(err, &mode)) {
        std::wstring wide = win::Widen(line);
        std::wstring_view rest = wide;
        while (!rest.empty()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(rest.size(), 8192));
            if (!WriteConsoleW(err, rest.data(), chunk, &written, nullptr) || written == 0) return;
            rest.remove_prefix(written);
        }
        return;
    }
    while (!line.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(line.size(), 1 << 20));
        if (!WriteFile(err, line.data(), chunk, &written, nullptr) || written == 0) return;  // dropped
        line.remove_prefix(written);
    }
}

}  // namespace telwick::platform
