// The message boxes of a desktop: modal Qt boxes with the program's title and
// window icon, OK or Yes/No (Yes the default), no icon inside. A box fits the
// screen: wide enough for its title, at most two thirds of the screen high; the
// whole of a longer text is behind "Show Details...".
#pragma once

#include "platform/messagebox.h"

namespace telwick::platform::qt {

class QtMessageBox : public MessageBoxHost {
public:
    // A box that ends without a click (the program is stopping) answers No to
    // a question, like the Esc key.
    Answer Show(const std::string& text, const std::string& title, Buttons buttons) override;
};

}  // namespace telwick::platform::qt
