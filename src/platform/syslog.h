// The application event log of this platform: the system's logger.
#pragma once

#include <cstdint>
#include <string>

namespace telwick::platform {

constexpr int16_t EventInformation = 4;
constexpr int16_t EventError = 1;

// One entry in the system's logger, in the form it understands: where the
// journal runs, a native journal entry (MESSAGE the text byte for byte, PRIORITY
// 6 for information and 3 for error, SYSLOG_IDENTIFIER Telwick, SYSLOG_FACILITY
// 3, SYSLOG_PID, TELWICK_EVENT_ID the number); otherwise /dev/log in the local
// form of syslog(3), "<PRI>Mmm dd hh:mm:ss Telwick[PID]: text". With
// $TELWICK_SYSLOG_SOCKET set, one RFC 5424 record to that socket instead
// (facility daemon, APP-NAME Telwick, MSGID the number). On a stream socket a
// record ends with a NUL, as syslog(3) writes it.
// No logger there, or one that refuses the entry or stalls for more than about
// two seconds: one line "Telwick[" + number + "]: " + text (control characters
// escaped) on standard error. Either way the entry counts as written, so a
// logger never costs a caller its other work. Never throws.
bool WriteEventLog(int16_t type, int32_t number, const std::string& text);

// For what the operator must hear of whether or not a logger listens (a damaged
// hive, monitors that could not be loaded): one line "Telwick: " + text on
// standard error (control characters written out) and one entry as above.
void ReportToOperator(int16_t type, int32_t number, const std::string& text);

}  // namespace telwick::platform
