// The road from a stored configuration record to a monitor: the fields are
// split, read as numbers and flags, and the monitor is built against a real
// (empty) SQLite database, as when the service loads its monitors.
#include <sqlite3.h>
#include <unistd.h>

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "database/modDatabase.h"
#include "fuzz_common.h"
#include "monitor/modMain.h"
#include "platform/lifecycle.h"
#include "settings/crypt.h"
#include "settings/registry.h"
#include "settings/settings.h"

namespace {

std::string Folder() {
    if (const char* work = std::getenv("TELWICK_FUZZ_WORK")) return work;
    static std::string made;
    if (made.empty()) {
        char tmpl[] = "/tmp/telwick-fuzz-XXXXXX";
        if (!mkdtemp(tmpl)) fuzz::Fail("no temporary folder");
        made = tmpl;
    }
    return made;
}

void MakeDatabase(const std::string& path) {
    std::ifstream schema(std::string(TELWICK_SCHEMA_DIR) + "/sqlite.sql");
    std::stringstream text;
    text << schema.rdbuf();
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) fuzz::Fail("cannot make the database");
    char* error = nullptr;
    if (sqlite3_exec(db, text.str().c_str(), nullptr, nullptr, &error) != SQLITE_OK)
        fuzz::Fail(std::string("schema: ") + (error ? error : "?"));
    sqlite3_exec(
        db,
        "INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr, parameter) VALUES (1,1,1,1,'a;b')",
        nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    const std::string folder = Folder();
    const std::string database = folder + "/corvane.db";
    MakeDatabase(database);
    setenv("TELWICK_REGISTRY", (folder + "/registry.db").c_str(), 1);
    setenv("TELWICK_SYSLOG_SOCKET", (folder + "/no-logger").c_str(), 1);
    telwick::platform::SetEndProgramHandler([](int) { fuzz::Fail("the program was ended"); });
    modRegistry::CreateProgramKey();
    modRegistry::SetSetting("Server", database);
    modCrypt::SetPassphrase();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string record = fuzz::Text(data, size);

    std::unique_ptr<clsMonitor> monitor;
    int32_t fault = fuzz::FaultOf([&] { monitor = modMain::MonitorFromRecord(record); });
    if (fault != 0) {
        // Only a number field outside 32 bits may refuse a record.
        fuzz::Expect(fault == 6, "a record was refused with fault " + std::to_string(fault));
        return 0;
    }
    fuzz::Expect(monitor != nullptr, "no monitor and no fault");
    fuzz::Expect(monitor->lastEventLogNr() == 1, "the new monitor does not start at the newest event");

    // Each property is its field, read the way the stored form says.
    const modMain::Record fields = modMain::Record::Parse(record);
    fuzz::Expect(monitor->computerNr() == modSettings::ReadLong(fields.computerNr), "computer number");
    fuzz::Expect(monitor->eventTypeNr() == modSettings::ReadLong(fields.eventTypeNr), "event type number");
    fuzz::Expect(monitor->eventLevelNr() == modSettings::ReadLong(fields.eventLevelNr), "event level number");
    fuzz::Expect(monitor->showMsgBox() == (fields.showMsgBox == "1"), "message box flag");
    fuzz::Expect(monitor->writeEventLog() == (fields.writeEventLog == "1"), "event-log flag");
    fuzz::Expect(monitor->executeBatch() == (fields.executeBatch == "1"), "batch flag");
    fuzz::Expect(monitor->batchFile() == fields.batchFile, "batch file");
    // Written and read again, the fields stay as they were.
    fuzz::Expect(modMain::Record::Parse(fields.Text()) == fields, "the fields changed on the way through the stored form");

    // The record the configuration list writes for it gives the same monitor.
    const std::string again = modMain::RecordOfMonitor(*monitor);
    std::unique_ptr<clsMonitor> copy;
    fuzz::Expect(fuzz::FaultOf([&] { copy = modMain::MonitorFromRecord(again); }) == 0,
                 "the written record of a monitor could not be read");
    fuzz::Expect(
        copy->computerNr() == monitor->computerNr() && copy->eventTypeNr() == monitor->eventTypeNr() &&
            copy->eventLevelNr() == monitor->eventLevelNr() && copy->showMsgBox() == monitor->showMsgBox() &&
            copy->writeEventLog() == monitor->writeEventLog() && copy->executeBatch() == monitor->executeBatch(),
        "the written record gives another monitor");
    if (monitor->batchFile().find(modMain::EscapeToken) == std::string::npos)
        fuzz::Expect(copy->batchFile() == monitor->batchFile(),
                     "the batch path changed on the way through the record");
    return 0;
}
