// The numeric reading of settings and record fields.
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_common.h"
#include "settings/settings.h"

namespace {

bool Same(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return a == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text = fuzz::Text(data, size);

    double value = 0;
    fuzz::Expect(fuzz::FaultOf([&] { value = modSettings::NumericValue(text); }) == 0,
                 "NumericValue raised a fault");

    // Blanks, tabs and line feeds are ignored wherever they stand.
    std::string packed;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n') packed += c;
    fuzz::Expect(Same(modSettings::NumericValue(packed), value), "blanks, tabs or line feeds changed the number");

    // ReadLong: the nearest 32-bit integer (halves to even), or fault 6.
    int32_t read = 0;
    int32_t fault = fuzz::FaultOf([&] { read = modSettings::ReadLong(text); });
    std::fesetround(FE_TONEAREST);
    double nearest = std::nearbyint(value);
    bool fits = std::isfinite(value) && nearest >= -2147483648.0 && nearest <= 2147483647.0;
    if (fits) {
        fuzz::Expect(fault == 0, "ReadLong failed on a number inside 32 bits");
        fuzz::Expect(read == static_cast<int32_t>(nearest), "ReadLong rounded wrongly");
    } else {
        fuzz::Expect(fault == 6, "ReadLong outside 32 bits did not raise overflow (6)");
    }

    bool numeric = false;
    fuzz::FaultOf([&] { numeric = modSettings::IsNumeric(text); });
    (void)numeric;
    return 0;
}
