// The message boxes of a desktop: modal Qt boxes with the program's title,
// OK or Yes/No (Yes the default), no icon.
#pragma once

#include "platform.h"

namespace telwick::service {

class QtMessageBox : public telwick::platform::MessageBoxHost {
public:
    // A box that ends without a click (the program is stopping) answers No to
    // a question, like the Esc key.
    telwick::platform::Answer Show(const std::string& text, const std::string& title,
                                   telwick::platform::Buttons buttons) override;
};

}  // namespace telwick::service
