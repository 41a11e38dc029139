// The message boxes of the Windows program. On the desktop: a modal box
// titled as asked, OK or Yes/No (Yes the default), no icon inside, owned by
// the window of the thread that is active (a dialog), while the thread's other
// windows go on receiving their messages (the timer, the tray, the service
// requests). A text too long for the screen shows the beginning that fits, and
// the whole text in a read-only box that scrolls, behind "Show Details...".
// Without a desktop of its own (a service in session 0) the box goes to the
// user at the console with WTSSendMessageW without waiting for an answer, and
// answers at once with its default button; with nobody logged on there it is
// one line on standard error, as the console host writes it.
#pragma once

#include "platform/messagebox.h"

namespace telwick::platform::win {

class DesktopMessageBox : public MessageBoxHost {
public:
    // A box that ends without a click (the program is stopping, Esc) answers
    // No to a question.
    Answer Show(const std::string& text, const std::string& title, Buttons buttons) override;
};

// True when the process has a desktop a person sees (its window station is
// visible): false for a service in session 0.
bool HasVisibleDesktop();

// The longest text handed to WTSSendMessageW: the box of another session
// cannot scroll, so a longer text is cut there and ends in " …".
constexpr size_t SessionMessageLimit = 2000;

}  // namespace telwick::platform::win
