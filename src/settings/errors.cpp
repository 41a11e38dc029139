#include "settings/errors.h"

#include "platform/lifecycle.h"
#include "platform/messagebox.h"
#include "platform/system.h"

#include <new>

namespace modMain {

namespace {

bool tailSet = false;
std::string tail;

// The arguments after the program name, joined by single blanks.
std::string TailFromSystem() {
    std::string result;
    bool first = true;
    for (const auto& arg : telwick::platform::CommandArguments()) {
        if (!first) result += ' ';
        result += arg;
        first = false;
    }
    return result;
}

}  // namespace

void SetCommandTail(const std::string& text) {
    tail = text;
    tailSet = true;
}

const std::string& CommandTail() {
    if (!tailSet) SetCommandTail(TailFromSystem());
    return tail;
}

bool DebugMode() { return CommandTail().find("-debug") != std::string::npos; }

int32_t ReportError(const std::string& module, const std::string& procedure, int32_t number,
                    const std::string& description) {
    if (!DebugMode()) return ActionLeave;
    const std::string text = "Error '" + description + "' number " + std::to_string(number) + " occured in " +
                             module + " (" + procedure + ") ";
    telwick::platform::ShowMessage(text, "Telwick", telwick::platform::Buttons::Ok);
    // Halt for the developer: break into the debugger, or end when there is none.
    if (telwick::platform::DebuggerAttached())
        telwick::platform::BreakIntoDebugger();
    else
        telwick::platform::EndProgram(1);
    return ActionRetry;
}

std::string GetMessageText(int32_t number) {
    switch (number) {
    case 1: return "Remove selected configuration(s)?";
    case 2: return "Database connection lost. Open a new connection?";
    case 3: return "Database connection failed. Cannot continue.";
    default: return "";
    }
}

bool Attempt(const std::string& module, const std::string& procedure, const std::function<void()>& step) {
    for (;;) {
        int32_t number = 0;
        std::string description;
        try {
            step();
            return true;
        } catch (const telwick::Fault& f) {
            number = f.number();
            description = f.description();
        } catch (const std::bad_alloc&) {
            number = telwick::FaultNr::OutOfMemory;
            description = "Out of memory";
        } catch (const std::exception& e) {
            number = telwick::FaultNr::InvalidCall;
            description = e.what();
        }
        // Reported outside the catch blocks, so that whatever the reporter
        // throws (a test's end handler) leaves this procedure cleanly.
        if (ReportError(module, procedure, number, description) != ActionRetry) return false;
    }
}

}  // namespace modMain
