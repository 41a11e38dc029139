// One monitoring configuration in memory, with the highest event number it has
// covered and its check against t_eventLog.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "database/adodb.h"

class clsMonitor {
public:
    // Reads the newest event number through GetConnection; a failure there fails
    // the construction (telwick::Fault reaches the creator).
    clsMonitor();
    ~clsMonitor();
    clsMonitor(const clsMonitor&) = delete;
    clsMonitor& operator=(const clsMonitor&) = delete;

    void setComputerNr(int32_t lngData) { computerNr_ = lngData; }
    int32_t computerNr() const { return computerNr_; }
    void setEventTypeNr(int32_t lngData) { eventTypeNr_ = lngData; }
    int32_t eventTypeNr() const { return eventTypeNr_; }
    void setEventLevelNr(int32_t lngData) { eventLevelNr_ = lngData; }
    int32_t eventLevelNr() const { return eventLevelNr_; }
    void setShowMsgBox(bool blnData) { showMsgBox_ = blnData; }
    bool showMsgBox() const { return showMsgBox_; }
    void setWriteEventLog(bool blnData) { writeEventLog_ = blnData; }
    bool writeEventLog() const { return writeEventLog_; }
    void setExecuteBatch(bool blnData) { executeBatch_ = blnData; }
    bool executeBatch() const { return executeBatch_; }
    void setBatchFile(const std::string& strData) { batchFile_ = strData; }
    const std::string& batchFile() const { return batchFile_; }

    // Finds the new matching events and carries out the actions, row by row.
    // Never throws: a failure ends the check quietly.
    void Check();

    // The highest event number covered so far (read-only, for the tests and the
    // list dialog's neighbours). Event numbers are 64-bit, as the database has them.
    int64_t lastEventLogNr() const { return lastEventLogNr_; }
    // Goes on from a number covered before a restart, when it is not above the
    // newest number read at creation (a renumbered table starts at the newest).
    void ResumeFrom(int64_t covered);
    // The query text of the next check for the given newest number (tests).
    std::string BuildQuery(int64_t newest) const;

private:
    // The current maximum (or minimum) of eventlognr; nothing when the table is
    // empty. Throws on failure.
    std::optional<int64_t> ReadNumber(const std::string& query);
    void UpdateLastEventLogNr();

    int32_t computerNr_ = 0;
    int32_t eventTypeNr_ = 0;
    int32_t eventLevelNr_ = 0;
    bool showMsgBox_ = false;
    bool writeEventLog_ = false;
    bool executeBatch_ = false;
    std::string batchFile_;
    int64_t lastEventLogNr_ = 0;
    // The table was empty when last looked at: every row found there later is
    // new, whatever its number.
    bool emptySeen_ = false;
    telwick::db::Recordset rs_;
};
