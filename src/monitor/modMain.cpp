// The process-wide state of the program, the stored configuration records and
// the loading of the monitors from them.
#include "monitor/modMain.h"

#include <limits>
#include <map>
#include <optional>
#include <set>

#include "monitor/positions.h"
#include "platform/fault.h"
#include "platform/lifecycle.h"
#include "platform/syslog.h"
#include "settings/errors.h"
#include "settings/registry.h"
#include "settings/settings.h"

namespace modMain {

bool ChecksAllowed = false;
std::vector<std::unique_ptr<clsMonitor>> Monitors;
bool ResumeOn = false;
int32_t MaxMessageBoxes = 0;
int64_t EventsActedOn = 0;

namespace {


std::function<bool()> checkGuard;
// One entry per monitor of Monitors, in the same order, while Resume is on.
modPositions::Keeper positions;

// The entries of the loading: a record skipped, the monitors not loaded, and
// loaded after all.
constexpr int32_t RecordSkippedEntry = 114;
constexpr int32_t LoadFailedEntry = 115;
constexpr int32_t LoadedAfterAllEntry = 116;
// The record at which a failed load stopped, tried again by the next check;
// -1 while nothing is left to load.
int32_t pendingRecord = -1;
// With Resume on: the positions the hive held when the load began, and the
// records loaded since, for the records that a failed load leaves for later.
std::map<std::string, modPositions::Kept> keptAtLoad;
std::set<std::string> loadedNames;
// One entry per record that the load has read, in the order of the names.
struct ReadRecord {
    std::string text;
    const clsMonitor* monitor;  // the monitor made from it, nullptr when it was skipped
};
std::vector<ReadRecord> readRecords;

}  // namespace

std::string ShownField(const std::string& field) {
    static const char Hex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < field.size() && i < 40; ++i) {
        const auto c = static_cast<unsigned char>(field[i]);
        if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += Hex[c >> 4];
            out += Hex[c & 15];
        }
    }
    if (field.size() > 40) out += "...";
    return out;
}

bool NumberInRange(const std::string& field) {
    try {
        (void)modSettings::ReadLong(field);
        return true;
    } catch (const telwick::Fault&) {
        return false;
    }
}

std::string RecordProblem(const std::string& record) {
    static const char* const Names[] = {"computer", "event type", "event level"};
    for (int32_t field = 1; field <= 3; ++field) {
        const std::string text = ParseValue(record, field, RecordSeparator);
        if (!NumberInRange(text))
            return std::string("its ") + Names[field - 1] + " number \"" + ShownField(text) +
                   "\" is outside the range of -2147483648 to 2147483647";
    }
    return {};
}

namespace {

// Loads the records from "config" + first on, appending to Monitors. A record
// that cannot be read is skipped with a message; a failure of the database ends
// the load, and the records from the failed one on wait for the next try.
bool LoadFrom(int32_t first) {
    for (int32_t i = first;; ++i) {
        const std::string name = "config" + std::to_string(i);
        const std::string record = modRegistry::GetSetting(name);
        if (record.empty()) break;
        // With -debug an unreadable record goes to the error reporter like
        // every other failure of the load below, and the developer's halt holds
        // the program there; otherwise it is skipped and the operator is told.
        if (const std::string problem = RecordProblem(record); !problem.empty() && !DebugMode()) {
            telwick::platform::ReportToOperator(
                telwick::platform::EventError, RecordSkippedEntry,
                "The monitoring record " + name + " was skipped: " + problem + ".");
            readRecords.push_back({record, nullptr});
            continue;
        }
        std::unique_ptr<clsMonitor> monitor;
        std::string failure;
        if (!Attempt("modMain", "LoadMonitorings", [&] {
                try {
                    monitor = MonitorFromRecord(record);
                } catch (const std::exception& e) {
                    failure = e.what();
                    throw;
                }
            })) {
            // The monitors loaded so far stay; the rest is tried again.
            if (pendingRecord < 0)
                telwick::platform::ReportToOperator(telwick::platform::EventError, LoadFailedEntry,
                                                    "The monitors could not be loaded (" + name + ": " + failure +
                                                        "); Telwick tries again at every check.");
            pendingRecord = i;
            return false;
        }
        if (ResumeOn) {
            std::optional<int64_t> written;
            if (auto found = keptAtLoad.find(name); found != keptAtLoad.end() && found->second.record == record) {
                monitor->ResumeFrom(found->second.covered);
                written = found->second.covered;
            }
            positions.Track(name, record, written);
            loadedNames.insert(name);
        }
        readRecords.push_back({record, monitor.get()});
        Monitors.push_back(std::move(monitor));
    }
    if (ResumeOn) {
        // Positions of records that are gone would wait for a record of the
        // same text to come back under that name; they go once all is loaded.
        std::vector<std::string> stale;
        for (const auto& [name, position] : keptAtLoad)
            if (!loadedNames.count(name)) stale.push_back(name);
        positions.RemoveLater(std::move(stale));
        KeepPositions();
    }
    if (pendingRecord >= 0) {
        pendingRecord = -1;
        telwick::platform::WriteEventLog(
            telwick::platform::EventInformation, LoadedAfterAllEntry,
            "The monitors are loaded: " + std::to_string(Monitors.size()) + " monitor(s).");
    }
    return true;
}

}  // namespace

std::unique_ptr<clsMonitor> MonitorFromRecord(const std::string& stored) {
    const Record record = Record::Parse(stored);
    auto monitor = std::make_unique<clsMonitor>();
    monitor->setComputerNr(modSettings::ReadLong(record.computerNr));
    monitor->setEventTypeNr(modSettings::ReadLong(record.eventTypeNr));
    monitor->setEventLevelNr(modSettings::ReadLong(record.eventLevelNr));
    monitor->setShowMsgBox(record.showMsgBox == "1");
    monitor->setWriteEventLog(record.writeEventLog == "1");
    monitor->setExecuteBatch(record.executeBatch == "1");
    monitor->setBatchFile(record.batchFile);
    return monitor;
}

Record RecordOf(const clsMonitor& monitor) {
    auto number = [](int32_t n) { return n == 0 ? std::string() : std::to_string(n); };
    auto flag = [](bool on) { return on ? std::string("1") : std::string("0"); };
    return Record{number(monitor.computerNr()),  number(monitor.eventTypeNr()),   number(monitor.eventLevelNr()),
                  flag(monitor.showMsgBox()),    flag(monitor.writeEventLog()),   flag(monitor.executeBatch()),
                  monitor.batchFile()};
}

std::string RecordOfMonitor(const clsMonitor& monitor) { return RecordOf(monitor).Text(); }

int32_t MessageBoxLimit(const std::string& text) {
    if (!modSettings::IsNumeric(text)) return 0;
    // Rounded as every numeric setting is (halves to the even neighbour).
    const double value = modSettings::NumericValue(text);
    if (!(value > 0)) return 0;
    if (value >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return modSettings::ToLong(value);
}

void KeepPositions() {
    if (!ResumeOn) return;
    std::vector<int64_t> covered;
    covered.reserve(Monitors.size());
    for (const auto& monitor : Monitors) covered.push_back(monitor->lastEventLogNr());
    positions.Save(covered);
}

bool LoadMonitorings() {
    // The old monitors go first (their positions kept, should the last write
    // have failed); every new one starts at the newest event, or, with Resume
    // on and its record unchanged, where it stood.
    KeepPositions();
    Monitors.clear();
    positions.Clear();
    ResumeOn = modRegistry::GetSetting("Resume") == "1";
    MaxMessageBoxes = MessageBoxLimit(modRegistry::GetSetting("MaxMessageBoxes"));
    keptAtLoad.clear();
    loadedNames.clear();
    readRecords.clear();
    if (ResumeOn)
        keptAtLoad = modPositions::ReadAll();
    else
        modPositions::ForgetAll();
    return LoadFrom(0);
}

bool MonitoringsPending() { return pendingRecord >= 0; }

std::optional<std::vector<StoredRecord>> RecordsBehindMonitors() {
    // Monitors changed by anything but the load (its release at the end, a
    // test) leave the map without meaning.
    std::vector<StoredRecord> records;
    size_t next = 0;
    for (const ReadRecord& read : readRecords) {
        if (read.monitor) {
            if (next >= Monitors.size() || Monitors[next].get() != read.monitor) return std::nullopt;
            ++next;
        }
        records.push_back({read.text, read.monitor != nullptr});
    }
    if (next != Monitors.size()) return std::nullopt;
    if (pendingRecord >= 0) {
        for (int32_t i = pendingRecord;; ++i) {
            std::string text = modRegistry::GetSetting("config" + std::to_string(i));
            if (text.empty()) break;
            records.push_back({std::move(text), false});
        }
    }
    return records;
}

bool LoadPendingMonitorings() { return pendingRecord < 0 || LoadFrom(pendingRecord); }

void SetCheckGuard(std::function<bool()> mayGoOn) { checkGuard = std::move(mayGoOn); }

bool CheckMayGoOn() {
    if (checkGuard) return checkGuard();
    return !telwick::platform::StopRequested();
}

}  // namespace modMain
