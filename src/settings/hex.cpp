#include "settings/crypt.h"

#include "platform/fault.h"

#include <cstring>

namespace modHex {

namespace {

// HexDigits: the two digit characters of every byte value. HexValues: the byte
// value of every pair of characters with codes 48-70, 0 where the pair is no
// uppercase hexadecimal number.
bool tablesBuilt = false;
char HexDigits[256][2];
unsigned char HexValues[23][23];

void InitHexTables() {
    tablesBuilt = true;
    static const char digits[] = "0123456789ABCDEF";
    std::memset(HexValues, 0, sizeof HexValues);
    for (int b = 0; b < 256; ++b) {
        HexDigits[b][0] = digits[b >> 4];
        HexDigits[b][1] = digits[b & 15];
        HexValues[HexDigits[b][0] - 48][HexDigits[b][1] - 48] = static_cast<unsigned char>(b);
    }
}

[[noreturn]] void OutOfRange() { throw telwick::Fault(telwick::FaultNr::OutOfRange, "Subscript out of range"); }

}  // namespace

std::string StringToHex(const std::string& bytes, const std::string& separator) {
    if (!tablesBuilt) InitHexTables();
    if (bytes.empty() || separator.empty())
        throw telwick::Fault(telwick::FaultNr::InvalidCall, "Invalid procedure call or argument");
    const size_t n = bytes.size(), s = separator.size();
    // One allocation at the final size, filled with the separator's first
    // character; then only the digit places are written.
    std::string out(2 * n + (n - 1) * s, separator[0]);
    char* p = out.data();
    for (size_t i = 0; i < n; ++i, p += s + 2) {
        const char* d = HexDigits[static_cast<unsigned char>(bytes[i])];
        p[0] = d[0];
        p[1] = d[1];
    }
    return out;
}

std::string HexToString(const std::string& text, int32_t separatorLength) {
    if (text.empty()) return {};
    if (!tablesBuilt) InitHexTables();
    const int64_t step = static_cast<int64_t>(separatorLength) + 2;
    if (step <= 0) throw telwick::Fault(telwick::FaultNr::InvalidCall, "Invalid procedure call or argument");
    const int64_t length = static_cast<int64_t>(text.size());
    const int64_t count = length == 2 ? 1 : (length + 1) / step;
    if (count <= 0) OutOfRange();  // too short for one pair
    std::string out(static_cast<size_t>(count), '\0');
    for (int64_t i = 0; i < count; ++i) {
        const int64_t p = i * step;
        if (p + 1 >= length) OutOfRange();
        const int hi = static_cast<unsigned char>(text[static_cast<size_t>(p)]) - 48;
        const int lo = static_cast<unsigned char>(text[static_cast<size_t>(p) + 1]) - 48;
        if (hi < 0 || hi > 22 || lo < 0 || lo > 22) OutOfRange();
        out[static_cast<size_t>(i)] = static_cast<char>(HexValues[hi][lo]);
    }
    return out;
}

}  // namespace modHex
