#include "settings/errors.h"

#include "platform/lifecycle.h"
#include "platform/messagebox.h"

#include <csignal>
#include <fstream>
#include <iterator>
#include <new>

namespace modMain {

namespace {

bool tailSet = false;
std::string tail;

// The arguments after the program name, joined by single blanks.
std::string TailFromProc() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string result;
    size_t pos = all.find('\0');  // end of the program name
    if (pos == std::string::npos) return result;
    bool first = true;
    for (++pos; pos < all.size(); first = false) {
        size_t end = all.find('\0', pos);
        if (end == std::string::npos) end = all.size();
        if (!first) result += ' ';
        result.append(all, pos, end - pos);
        pos = end + 1;
    }
    return result;
}

bool DebuggerAttached() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0) return std::stol(line.substr(10)) != 0;
    }
    return false;
}

}  // namespace

void SetCommandTail(const std::string& text) {
    tail = text;
    tailSet = true;
}

const std::string& CommandTail() {
    if (!tailSet) SetCommandTail(TailFromProc());
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
    if (DebuggerAttached())
        std::raise(SIGTRAP);
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
