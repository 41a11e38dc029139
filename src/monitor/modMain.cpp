// The process-wide state of the program, the stored configuration records and
// the loading of the monitors from them.
#include "monitor/modMain.h"

#include <limits>
#include <set>

#include "monitor/positions.h"
#include "settings/errors.h"
#include "platform/lifecycle.h"
#include "settings/registry.h"
#include "settings/settings.h"

namespace modMain {

bool ChecksAllowed = false;
std::string ConfigValue;
std::vector<std::unique_ptr<clsMonitor>> Monitors;
bool ResumeOn = false;
int32_t MaxMessageBoxes = 0;
int64_t EventsActedOn = 0;

namespace {

const std::string EscapeToken = "[trdoppu]";
const std::string Separator = ";";

std::function<bool()> checkGuard;
// One entry per monitor of Monitors, in the same order, while Resume is on.
modPositions::Keeper positions;

// Every occurrence of from (not empty) replaced by to, left to right; what is
// put in is not looked at again.
std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to) {
    size_t pos = text.find(from);
    if (pos == std::string::npos) return text;
    std::string out;
    out.reserve(text.size());
    size_t done = 0;
    while (pos != std::string::npos) {
        out.append(text, done, pos - done);
        out.append(to);
        done = pos + from.size();
        pos = text.find(from, done);
    }
    out.append(text, done, std::string::npos);
    return out;
}

}  // namespace

std::string ParseValue(const std::string& value, int32_t index, const std::string& separator) {
    // Positions count from 1 as in the stored form's description: a field runs
    // from start up to, not including, end. They are plain sizes, so a long
    // parameter list splits like a short one.
    size_t start = 1;
    size_t end = 0;
    for (int32_t count = 1; count <= index; ++count) {
        size_t found = value.find(separator, start - 1);
        if (found == std::string::npos) {
            if (count < index) return {};  // fewer fields than asked for
            end = value.size() + 1;
        } else {
            end = found + 1;
            if (count < index) start = end + 1;
        }
    }
    if (start < end && start > 0 && end > 0)
        return ReplaceAll(value.substr(start - 1, end - start), EscapeToken, Separator);
    return {};
}

std::string EscapeValue(const std::string& text) { return ReplaceAll(text, Separator, EscapeToken); }

std::unique_ptr<clsMonitor> MonitorFromRecord(const std::string& record) {
    auto monitor = std::make_unique<clsMonitor>();
    monitor->setComputerNr(modSettings::ReadLong(ParseValue(record, 1, Separator)));
    monitor->setEventTypeNr(modSettings::ReadLong(ParseValue(record, 2, Separator)));
    monitor->setEventLevelNr(modSettings::ReadLong(ParseValue(record, 3, Separator)));
    monitor->setShowMsgBox(ParseValue(record, 4, Separator) == "1");
    monitor->setWriteEventLog(ParseValue(record, 5, Separator) == "1");
    monitor->setExecuteBatch(ParseValue(record, 6, Separator) == "1");
    monitor->setBatchFile(ParseValue(record, 7, Separator));
    return monitor;
}

std::string RecordOfMonitor(const clsMonitor& monitor) {
    auto number = [](int32_t n) { return n == 0 ? std::string() : std::to_string(n); };
    auto flag = [](bool on) { return on ? std::string("1") : std::string("0"); };
    return number(monitor.computerNr()) + ";" + number(monitor.eventTypeNr()) + ";" +
           number(monitor.eventLevelNr()) + ";" + flag(monitor.showMsgBox()) + ";" +
           flag(monitor.writeEventLog()) + ";" + flag(monitor.executeBatch()) + ";" +
           EscapeValue(monitor.batchFile()) + ";";
}

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

void LoadMonitorings() {
    // The old monitors go first (their positions kept, should the last write
    // have failed); every new one starts at the newest event, or, with Resume
    // on and its record unchanged, where it stood.
    KeepPositions();
    Monitors.clear();
    positions.Clear();
    ResumeOn = modRegistry::GetSetting("Resume") == "1";
    MaxMessageBoxes = MessageBoxLimit(modRegistry::GetSetting("MaxMessageBoxes"));
    std::map<std::string, modPositions::Kept> kept;
    if (ResumeOn) kept = modPositions::ReadAll();
    else modPositions::ForgetAll();
    std::set<std::string> loaded;
    bool whole = true;
    for (int32_t i = 0;; ++i) {
        const std::string name = "config" + std::to_string(i);
        const std::string record = modRegistry::GetSetting(name);
        if (record.empty()) break;
        std::unique_ptr<clsMonitor> monitor;
        if (!Attempt("modMain", "LoadMonitorings", [&] { monitor = MonitorFromRecord(record); })) {
            whole = false;  // the monitors loaded so far stay
            break;
        }
        if (ResumeOn) {
            std::optional<int64_t> written;
            if (auto found = kept.find(name); found != kept.end() && found->second.record == record) {
                monitor->ResumeFrom(found->second.covered);
                written = found->second.covered;
            }
            positions.Track(name, record, written);
            loaded.insert(name);
        }
        Monitors.push_back(std::move(monitor));
    }
    if (!ResumeOn) return;
    // Positions of records that are gone would wait for a record of the same
    // text to come back under that name; they go, unless the load ended early
    // (the records behind may still be there).
    if (whole) {
        std::vector<std::string> stale;
        for (const auto& [name, position] : kept)
            if (!loaded.count(name)) stale.push_back(name);
        positions.RemoveLater(std::move(stale));
    }
    KeepPositions();
}

void SetCheckGuard(std::function<bool()> mayGoOn) { checkGuard = std::move(mayGoOn); }

bool CheckMayGoOn() {
    if (checkGuard) return checkGuard();
    return !telwick::platform::StopRequested();
}

}  // namespace modMain
