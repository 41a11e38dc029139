// The process-wide state of the program and the stored configuration records.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "monitor/clsMonitor.h"
#include "monitor/record.h"

namespace modMain {

// False at program start; the start request and the settings dialogs clear it.
extern bool ChecksAllowed;
// The loaded monitors, in the order of the stored records.
extern std::vector<std::unique_ptr<clsMonitor>> Monitors;

// The opt-in settings, read at every load of the monitors. ResumeOn: "Resume"
// is "1"; each monitor whose record is unchanged goes on from the number it had
// covered before. MaxMessageBoxes: a positive "MaxMessageBoxes" limits the
// message boxes of one check; 0 (missing, 0, not a number) sets no limit.
extern bool ResumeOn;
extern int32_t MaxMessageBoxes;
// The rows that all checks have acted on since the program started.
extern int64_t EventsActedOn;

// The limit that a "MaxMessageBoxes" text sets: its number when it is numeric
// and positive (capped to 32 bits), else 0.
int32_t MessageBoxLimit(const std::string& text);

// With Resume on: the covered numbers that changed since they were last kept
// go to the hive, all in one transaction. Nothing without Resume.
void KeepPositions();

// Rebuilds Monitors from "config0", "config1", ... up to the first empty value.
// A record with a number outside 32 bits is skipped with one line on standard
// error and one error entry (114); with "-debug" in the command tail it goes to
// ReportError instead, as the failures below do. A failure of the database goes
// to ReportError ("modMain", "LoadMonitorings") and ends the load: the monitors
// loaded so far stay, the first failure writes one line and one error entry
// (115), and LoadPendingMonitorings goes on from the failed record later. False
// then.
// With Resume on, an unchanged record goes on from its kept position, and the
// positions of the new monitors are kept at once.
bool LoadMonitorings();
// Whether records wait to be loaded after a failed load.
bool MonitoringsPending();
// Goes on with a failed load (nothing to do when none failed); once all is
// loaded, one information entry (116). True when nothing waits any more.
bool LoadPendingMonitorings();
// The stored records behind Monitors, in the order of their names: each one
// the load read, loaded (a monitor of Monitors, in the same order) or skipped
// as unreadable, then, after a failed load, the records still waiting (read
// now). Nothing when Monitors was changed by anything but the load.
struct StoredRecord {
    std::string text;  // as stored
    bool loaded;       // a monitor stands for it
};
std::optional<std::vector<StoredRecord>> RecordsBehindMonitors();
// What keeps a record from becoming a monitor (a number field outside the
// 32-bit range), in words, or the empty text when nothing does.
std::string RecordProblem(const std::string& record);
// Whether a number field reads as a 32-bit number (any text that is not a
// number reads as 0).
bool NumberInRange(const std::string& field);
// A field as a message shows it: printable ASCII as it is, other bytes as
// \xNN, and no more than 40 characters of it.
std::string ShownField(const std::string& field);
// Builds one monitor from a record (its construction reads the newest number).
std::unique_ptr<clsMonitor> MonitorFromRecord(const std::string& record);
// The record of a monitor, as the configuration list builds it: numbers of 0
// as empty fields, flags as "1" and "0".
Record RecordOf(const clsMonitor& monitor);
std::string RecordOfMonitor(const clsMonitor& monitor);

// Whether a running check may go on with its next row: false once a stop,
// pause, "Enabled" off or a settings dialog came in meanwhile (for example while
// a message box waited). The service installs its test; by default it is
// "no stop requested".
void SetCheckGuard(std::function<bool()> mayGoOn);
bool CheckMayGoOn();

}  // namespace modMain
