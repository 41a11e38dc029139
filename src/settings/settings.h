// The settings tree: the numeric reading of settings and records, and the
// language number.
#pragma once

#include <cstdint>
#include <string>

namespace modSettings {

// The text's leading number: optional sign, digits, optional fraction after a
// point, optional exponent; blanks, tabs and line feeds anywhere are ignored;
// reading stops at the first character that cannot continue the number; a text
// that does not begin with a number gives 0.
double NumericValue(const std::string& text);

// Rounds to the nearest 32-bit integer, halves to the even neighbour. Outside
// the 32-bit range (or not a finite number) it throws telwick::Fault 6 (overflow).
int32_t ToLong(double value);

// ToLong(NumericValue(text)).
int32_t ReadLong(const std::string& text);

// True when the text is a number in the sense of a numeric test of a field
// (optional blanks, sign, digits with an optional fraction and exponent, nothing
// else): "12" and " 3.5" are numeric, "", "7x" and "abc" are not.
bool IsNumeric(const std::string& text);

// The language number: cached for the process; read from "Language"; 0 (missing,
// empty, non-numeric, "0") is repaired to 1 and "1" written back without creating
// keys. A reading outside 32 bits throws (overflow) to the caller.
int32_t GetLanguage();
void ResetLanguageCache();  // for tests

}  // namespace modSettings
