// The hex form of the protected login.
#include <cstdint>
#include <string>

#include "fuzz_common.h"
#include "settings/crypt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    int32_t separatorLength = static_cast<int8_t>(data[0]);
    std::string text = fuzz::Text(data + 1, size - 1);

    // Any text and any separator length: bytes or a fault, never a crash.
    std::string bytes;
    int32_t fault = fuzz::FaultOf([&] { bytes = modHex::HexToString(text, separatorLength); });
    if (fault == 0 && separatorLength >= 0 && !text.empty()) {
        size_t expected = text.size() == 2 ? 1 : (text.size() + 1) / (static_cast<size_t>(separatorLength) + 2);
        fuzz::Expect(bytes.size() == expected, "HexToString gave the wrong number of bytes");
    }
    if (text.empty()) fuzz::Expect(fault == 0 && bytes.empty(), "the empty text did not give the empty text");

    // Every byte string survives StringToHex and HexToString with a one-character
    // separator, whatever that character is. (The byte count of HexToString,
    // (length + 1) / (separator length + 2), fits only one-character gaps; the
    // program uses no other.)
    if (!text.empty()) {
        const size_t gap = 1;
        std::string separator(gap, static_cast<char>(data[0]));
        std::string hex;
        fuzz::Expect(fuzz::FaultOf([&] { hex = modHex::StringToHex(text, separator); }) == 0,
                     "StringToHex failed on a non-empty text");
        fuzz::Expect(hex.size() == 2 * text.size() + (text.size() - 1) * gap, "StringToHex has the wrong length");
        std::string back;
        fuzz::Expect(fuzz::FaultOf([&] { back = modHex::HexToString(hex, static_cast<int32_t>(gap)); }) == 0,
                     "HexToString failed on what StringToHex wrote");
        fuzz::Expect(back == text, "the bytes did not survive StringToHex and HexToString");
    }
    return 0;
}
