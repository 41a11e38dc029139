// Run-time faults: a number and a description, thrown as C++ exceptions and
// caught by the procedures that have a handler.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace telwick {

// Fault numbers as the program reports them.
namespace FaultNr {
constexpr int32_t InvalidCall = 5;  // invalid procedure call or argument
constexpr int32_t Overflow = 6;
constexpr int32_t OutOfMemory = 7;
constexpr int32_t OutOfRange = 9;  // subscript out of range
constexpr int32_t TypeMismatch = 13;
constexpr int32_t FileNotFound = 53;
constexpr int32_t PermissionDenied = 70;
constexpr int32_t ObjectRequired = 424;    // no connection where one was needed
constexpr int32_t Database = -2147467259;  // 0x80004005, what the data layer raises
constexpr int32_t EventLog = 109;          // the event-log entry could not be written
}  // namespace FaultNr

class Fault : public std::runtime_error {
public:
    Fault(int32_t number, const std::string& description)
        : std::runtime_error(description), number_(number), description_(description) {}
    int32_t number() const noexcept { return number_; }
    const std::string& description() const noexcept { return description_; }

private:
    int32_t number_;
    std::string description_;
};

}  // namespace telwick
