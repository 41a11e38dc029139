// What the program learns from the system about its own start: the arguments
// it was given, and whether a debugger watches it.
#pragma once

#include <string>
#include <vector>

namespace telwick::platform {

// The program's arguments after its name, as the system hands them over: on
// Linux the process's own argument list, on Windows its command line split by
// the system's rules (quotes group blanks, backslashes before a quote escape
// it). Texts are UTF-8. Empty when the list cannot be read.
std::vector<std::string> CommandArguments();

// True while a debugger is attached to the process.
bool DebuggerAttached();

// Halts in the attached debugger as at a breakpoint; the program goes on when
// the developer continues it. Only call it when DebuggerAttached().
void BreakIntoDebugger();

}  // namespace telwick::platform
