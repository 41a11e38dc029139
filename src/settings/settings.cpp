#include "settings/settings.h"

#include "platform/fault.h"
#include "settings/registry.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace modSettings {

namespace {

bool Ignored(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool Digit(char c) { return c >= '0' && c <= '9'; }

// Roughly the power of ten of the first significant digit of a gathered number
// without its sign (digits, point, "e", exponent): enough to tell a number too
// large for a double from one too small.
int64_t DecimalExponent(std::string_view text) {
    const size_t e = text.find('e');
    int64_t exponent = 0;
    if (e != std::string_view::npos) {
        bool negative = false;
        for (char c : text.substr(e + 1)) {
            if (c == '-') negative = true;
            if (Digit(c) && exponent < 1000000000) exponent = exponent * 10 + (c - '0');
        }
        if (negative) exponent = -exponent;
        text = text.substr(0, e);
    }
    const size_t point = std::min(text.find('.'), text.size());
    const size_t first = text.find_first_not_of("0.");
    if (first == std::string_view::npos) return 0;
    const int64_t place =
        first < point ? static_cast<int64_t>(point - first) - 1 : -static_cast<int64_t>(first - point);
    return place + exponent;
}

// The gathered number as a double, correctly rounded and independent of the
// locale the program runs in. One too large becomes an infinity (an overflow for
// ToLong), one too small 0.
double ParseNumber(const std::string& number) {
    const char* first = number.data();
    const char* last = first + number.size();
    bool negative = false;
    if (first != last && (*first == '+' || *first == '-')) negative = *first++ == '-';
    double value = 0.0;
    if (std::from_chars(first, last, value).ec == std::errc::result_out_of_range)
        value = DecimalExponent(std::string_view(first, static_cast<size_t>(last - first))) > 0 ? HUGE_VAL : 0.0;
    return negative ? -value : value;
}

int32_t languageCache = 0;

}  // namespace

double NumericValue(const std::string& text) {
    // Gather the number without the ignored characters, then let the C library
    // turn it into a double (correctly rounded).
    std::string number;
    enum { Sign, Mantissa, Fraction, ExpSign, Exponent } state = Sign;
    bool mantissaDigits = false, exponentDigits = false;
    size_t exponentAt = 0;
    for (char c : text) {
        if (Ignored(c)) continue;
        if (state == Sign && (c == '+' || c == '-')) {
            number += c;
            state = Mantissa;
        } else if ((state == Sign || state == Mantissa) && Digit(c)) {
            number += c;
            mantissaDigits = true;
            state = Mantissa;
        } else if ((state == Sign || state == Mantissa) && c == '.') {
            number += c;
            state = Fraction;
        } else if (state == Fraction && Digit(c)) {
            number += c;
            mantissaDigits = true;
        } else if ((state == Mantissa || state == Fraction) && mantissaDigits &&
                   (c == 'e' || c == 'E' || c == 'd' || c == 'D')) {
            exponentAt = number.size();
            number += 'e';
            state = ExpSign;
        } else if (state == ExpSign && (c == '+' || c == '-')) {
            number += c;
            state = Exponent;
        } else if ((state == ExpSign || state == Exponent) && Digit(c)) {
            number += c;
            exponentDigits = true;
            state = Exponent;
        } else {
            break;
        }
    }
    if (!mantissaDigits) return 0.0;
    // An exponent marker without digits ("1e", "1e+") does not belong to the number.
    if (exponentAt != 0 && !exponentDigits) number.resize(exponentAt);
    return ParseNumber(number);
}

int32_t ToLong(double value) {
    // To nearest, halves to the even neighbour, whatever rounding mode the
    // floating-point unit happens to be in.
    double r = std::floor(value);
    const double rest = value - r;  // exact below 2^52; larger values are whole
    if (rest > 0.5 || (rest == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
    if (!std::isfinite(r) || r < -2147483648.0 || r > 2147483647.0)
        throw telwick::Fault(telwick::FaultNr::Overflow, "Overflow");
    return static_cast<int32_t>(r);
}

int32_t ReadLong(const std::string& text) { return ToLong(NumericValue(text)); }

bool IsNumeric(const std::string& text) {
    size_t i = 0, n = text.size();
    auto blank = [&](size_t k) { return text[k] == ' ' || text[k] == '\t'; };
    while (i < n && blank(i)) ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    bool digits = false;
    while (i < n && Digit(text[i])) ++i, digits = true;
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && Digit(text[i])) ++i, digits = true;
    }
    if (!digits) return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
        bool exp = false;
        while (i < n && Digit(text[i])) ++i, exp = true;
        if (!exp) return false;
    }
    while (i < n && blank(i)) ++i;
    return i == n;
}

int32_t GetLanguage() {
    if (languageCache != 0) return languageCache;
    languageCache = ReadLong(modRegistry::GetSetting("Language"));
    if (languageCache == 0) {
        // Repair without creating keys; a failed write changes nothing for this run.
        modRegistry::SetSetting("Language", "1");
        languageCache = 1;
    }
    return languageCache;
}

void ResetLanguageCache() { languageCache = 0; }

}  // namespace modSettings
