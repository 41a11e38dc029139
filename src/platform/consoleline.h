// Lines for standard error (the fallback of the system log, message boxes
// without a display, Qt's own messages): one entry stays one line.
#pragma once

#include <string>
#include <string_view>

namespace telwick::platform {

// The text with every control character written out: CR, LF and TAB as \r, \n
// and \t, the others (and DEL) as \xHH. Everything else, UTF-8 and backslashes
// included, stays as it is.
std::string EscapeControlCharacters(std::string_view text);

}  // namespace telwick::platform
