// The small seams between the core and the platform: message boxes, the system
// log, starting the batch program, the end of the program and the state of the
// service. The core only talks to these; the service installs the Qt versions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace telwick::platform {

// --- message boxes -----------------------------------------------------------
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

class MessageBoxHost {
public:
    virtual ~MessageBoxHost() = default;
    // Modal; answers Ok for Buttons::Ok, Yes or No for Buttons::YesNo.
    virtual Answer Show(const std::string& text, const std::string& title, Buttons buttons) = 0;
};

// Without a display: one line "[" + title + "] " + text on standard error,
// answered at once with the default button (Ok, Yes).
class ConsoleMessageBox : public MessageBoxHost {
public:
    Answer Show(const std::string& text, const std::string& title, Buttons buttons) override;
};

MessageBoxHost& MessageBoxes();              // the installed host (console by default)
void SetMessageBoxHost(MessageBoxHost* host);  // nullptr restores the console host
Answer ShowMessage(const std::string& text, const std::string& title = "Telwick",
                   Buttons buttons = Buttons::Ok);

// True when DISPLAY or WAYLAND_DISPLAY is set.
bool HasDisplay();

// --- system log --------------------------------------------------------------
constexpr int16_t EventInformation = 4;
constexpr int16_t EventError = 1;

// One RFC 5424 datagram to $TELWICK_SYSLOG_SOCKET (default /dev/log): facility
// daemon, severity 6 for information and 3 for error, APP-NAME Telwick, MSGID
// the event number, the text as MSG. No logger there: one line
// "Telwick[" + number + "]: " + text on standard error, counted as written.
// A logger that stops reading is waited for at most about two seconds; then the
// entry counts as failed and false is returned. Never throws.
bool WriteEventLog(int16_t type, int32_t number, const std::string& text);

// --- the batch program -------------------------------------------------------
bool FileExists(const std::string& path);  // a regular file (or link to one) is there
// Starts path with argv {path, argument}, no shell, standard streams on
// /dev/null, without waiting. Throws telwick::Fault when it cannot be started.
void StartProgram(const std::string& path, const std::string& argument);
// Reaps the started programs that have ended; never blocks.
void ReapPrograms();

// --- the end of the program and the service state ------------------------------
// Ends the program at once with the given status. The service installs a handler
// that releases its window first; tests install one that throws.
[[noreturn]] void EndProgram(int status);
void SetEndProgramHandler(std::function<void(int)> handler);  // must not return normally

// A stop has been asked for (signal, menu "Exit"): long waits give up, and no
// further checks start.
bool StopRequested();
void SetStopRequested(bool stop);

// Waits about the given milliseconds while the events of the thread (service
// requests among them) are still handled; returns early when a stop is asked for.
// Falls back to a plain sleep when no Qt application object exists.
void WaitHandlingEvents(int milliseconds);

}  // namespace telwick::platform
