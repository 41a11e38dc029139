// Message boxes: the one way the program shows a text and asks a question.
// The core only talks to this seam; the service installs the desktop host, and
// without one every box becomes a line on standard error.
#pragma once

#include <string>

namespace telwick::platform {

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

MessageBoxHost& MessageBoxes();                // the installed host (console by default)
void SetMessageBoxHost(MessageBoxHost* host);  // nullptr restores the console host
Answer ShowMessage(const std::string& text, const std::string& title = "Telwick", Buttons buttons = Buttons::Ok);

// True when DISPLAY or WAYLAND_DISPLAY is set.
bool HasDisplay();

}  // namespace telwick::platform
