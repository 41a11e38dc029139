// The program's arguments and the debugger, from /proc.
#include "platform/system.h"

#include <csignal>
#include <fstream>
#include <iterator>

namespace telwick::platform {

std::vector<std::string> CommandArguments() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    size_t pos = all.find('\0');  // end of the program name
    if (pos == std::string::npos) return args;
    for (++pos; pos < all.size();) {
        size_t end = all.find('\0', pos);
        if (end == std::string::npos) end = all.size();
        args.emplace_back(all, pos, end - pos);
        pos = end + 1;
    }
    return args;
}

bool DebuggerAttached() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0) return line.find_first_not_of(" \t0", 10) != std::string::npos;
    }
    return false;
}

void BreakIntoDebugger() { std::raise(SIGTRAP); }

}  // namespace telwick::platform
