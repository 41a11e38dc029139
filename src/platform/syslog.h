// The application event log of this platform: the system's logger.
#pragma once

#include <cstdint>
#include <string>

namespace telwick::platform {

constexpr int16_t EventInformation = 4;
constexpr int16_t EventError = 1;

// One RFC 5424 datagram to $TELWICK_SYSLOG_SOCKET (default /dev/log): facility
// daemon, severity 6 for information and 3 for error, APP-NAME Telwick, MSGID
// the event number, the text as MSG. No logger there: one line
// "Telwick[" + number + "]: " + text on standard error, counted as written.
// A logger that stops reading is waited for at most about two seconds; then the
// entry counts as failed and false is returned. Never throws.
bool WriteEventLog(int16_t type, int32_t number, const std::string& text);

}  // namespace telwick::platform
