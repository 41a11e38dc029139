// UTF-8 inside the program, UTF-16 at the ODBC edge (SQLWCHAR is two bytes on
// every driver manager we use).
#pragma once

#include <string>

namespace telwick::db::detail {

// Malformed input becomes U+FFFD; nothing is dropped silently.
std::u16string ToUtf16(const std::string& text);
std::string ToUtf8(const char16_t* text, size_t length);
inline std::string ToUtf8(const std::u16string& text) { return ToUtf8(text.data(), text.size()); }

}  // namespace telwick::db::detail
