// Lines on standard error that carry text from elsewhere (event texts come from
// remote computers; the system log's fallback, message boxes without a display,
// Qt's own messages): one entry stays one line, and the terminal or journal
// that shows it gets no control characters from it.
#pragma once

#include <string>
#include <string_view>

namespace telwick::platform {

// The text with every control character written out: CR, LF and TAB as \r, \n
// and \t, the others (and DEL) as \xHH. Everything else, UTF-8 and backslashes
// included, stays as it is.
std::string EscapeControlCharacters(std::string_view text);

// Writes line (which should end with "\n") to standard error in one piece. A
// write that fails (a closed pipe, a full disk) is dropped.
void WriteStandardError(std::string_view line);

}  // namespace telwick::platform
