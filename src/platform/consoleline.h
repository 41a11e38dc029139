// Lines on standard error that carry text from elsewhere (event texts come from
// remote computers): one entry stays one line, and the terminal or journal that
// shows it gets no control characters from it.
#pragma once

#include <string>
#include <string_view>

namespace telwick::platform {

// The text as part of one line: CR and LF become a blank, every other control
// character (and DEL) is written as \xHH; tabs and all other bytes stay.
std::string OneLine(std::string_view text);

// Writes line (which should end with "\n") to standard error in one piece. A
// write that fails (a closed pipe, a full disk) is dropped.
void WriteStandardError(std::string_view line);

}  // namespace telwick::platform
