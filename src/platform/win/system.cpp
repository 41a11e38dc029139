// The program's arguments and the debugger, from the system.
#include "platform/system.h"

#include <windows.h>
// after windows.h, whose types it uses
#include <shellapi.h>

#include "platform/win/wideutf8.h"

namespace telwick::platform {

std::vector<std::string> CommandArguments() {
    // The system's own splitting of its command line: blanks separate, quotes
    // group, 2n backslashes before a quote give n and a quote that groups,
    // 2n + 1 give n and a quote of the text.
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> result;
    if (!args) return result;
    for (int i = 1; i < count; ++i) result.push_back(win::Narrow(args[i], wcslen(args[i])));
    LocalFree(args);
    return result;
}

bool DebuggerAttached() { return IsDebuggerPresent() != FALSE; }

void BreakIntoDebugger() { DebugBreak(); }

}  // namespace telwick::platform
