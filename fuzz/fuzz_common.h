// Small helpers shared by the fuzz targets: a failed expectation aborts, so
// that libFuzzer keeps the input that broke it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "platform/fault.h"

namespace fuzz {

[[noreturn]] inline void Fail(const std::string& what) {
    std::fprintf(stderr, "expectation failed: %s\n", what.c_str());
    std::abort();
}

inline void Expect(bool condition, const std::string& what) {
    if (!condition) Fail(what);
}

// Runs f; a telwick::Fault is an accepted outcome and its number is returned
// (0 when f ran through). Any other exception is a finding.
template <class F>
int32_t FaultOf(F&& f) {
    try {
        f();
        return 0;
    } catch (const telwick::Fault& fault) {
        if (fault.number() == 0) Fail("a fault with number 0");
        return fault.number();
    } catch (const std::exception& e) {
        Fail(std::string("unexpected exception: ") + e.what());
    } catch (...) {
        Fail("unexpected exception of unknown type");
    }
}

inline std::string Text(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace fuzz
