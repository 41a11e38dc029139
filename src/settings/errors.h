// The one error reporter, the message texts and the handler convention.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/fault.h"

namespace modMain {

// Action codes of ReportError.
constexpr int32_t ActionLeave = 0;
constexpr int32_t ActionRetry = 1;

// Silent (answer 0) unless "-debug" occurs anywhere in the command tail; in debug
// mode it shows "Error '...' number N occured in M (P) " in a message box, then
// halts for the developer (a break into the attached debugger, else the process ends) and
// answers 1 if execution goes on.
int32_t ReportError(const std::string& module, const std::string& procedure, int32_t number,
                    const std::string& description);

// 1, 2, 3: the three texts; anything else: empty.
std::string GetMessageText(int32_t number);

// The whole command tail (the arguments after the program name, joined by one
// blank). main() sets it; until then it comes from the system (platform/system.h).
void SetCommandTail(const std::string& tail);
const std::string& CommandTail();
bool DebugMode();  // "-debug" anywhere in the tail, case-sensitive

// The handler convention: run one step; a Fault (or any std::exception, which
// is reported as a fault of its own) goes to ReportError with the module and
// procedure names; answer 1 runs the step again, answer 0 gives up. Returns
// true when the step ran through.
bool Attempt(const std::string& module, const std::string& procedure, const std::function<void()>& step);

}  // namespace modMain
