// One monitor: its window of event numbers and its check, row by row.
#include "monitor/clsMonitor.h"

#include <algorithm>
#include <limits>

#include "platform/fault.h"
#include "database/modDatabase.h"
#include "monitor/modMain.h"
#include "platform/messagebox.h"
#include "platform/syslog.h"
#include "platform/process.h"
#include "settings/settings.h"

namespace {

const std::string NewestQuery = "SELECT MAX(eventlognr) FROM t_eventLog";
constexpr int32_t MessageTextType = 17;
constexpr int32_t EventLogNumber = 110;

int32_t ToInt32(int64_t value) {
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        throw telwick::Fault(telwick::FaultNr::Overflow, "Overflow");
    return static_cast<int32_t>(value);
}

// Every "%" + n (n from 5 down to 1) replaced by field n of the parameter list,
// on the text as it grows: a placeholder that a later field brings in is
// replaced by the fields after it.
void FillPlaceholders(std::string& text, const std::string& parameter) {
    for (char n = '5'; n >= '1'; --n) {
        const char token[] = {'%', n, '\0'};
        size_t pos = text.find(token);
        if (pos == std::string::npos) continue;
        const std::string field = modMain::ParseValue(parameter, n - '0', ";");
        std::string out;
        out.reserve(text.size() + field.size());
        size_t done = 0;
        while (pos != std::string::npos) {
            out.append(text, done, pos - done);
            out.append(field);
            done = pos + 2;
            pos = text.find(token, done);
        }
        out.append(text, done, std::string::npos);
        text.swap(out);
    }
}

}  // namespace

clsMonitor::clsMonitor() {
    lastEventLogNr_ = 0;
    UpdateLastEventLogNr();
}

clsMonitor::~clsMonitor() = default;

int32_t clsMonitor::ReadNewest(int32_t fallback) {
    telwick::db::Connection* connection = modDatabase::GetConnection();
    rs_.Open(NewestQuery, connection, telwick::db::adOpenForwardOnly, telwick::db::adLockReadOnly,
             telwick::db::adCmdUnspecified);
    int32_t newest = fallback;
    if (!rs_.EOF_() && !rs_.IsNull(0)) newest = ToInt32(rs_.Integer(0));
    rs_.Close();
    return newest;
}

void clsMonitor::UpdateLastEventLogNr() {
    // An empty table keeps the number; it never goes back.
    lastEventLogNr_ = std::max(lastEventLogNr_, ReadNewest(lastEventLogNr_));
}

std::string clsMonitor::BuildQuery(int32_t newest) const {
    std::string q = "SELECT EVL.*, DES.description AS message FROM t_eventLog AS EVL ";
    q += "INNER JOIN t_description AS DES ON EVL.messagenr = DES.descriptionnr AND DES.descriptiontypenr = ";
    q += std::to_string(MessageTextType);
    q += " AND DES.lang = ";
    q += std::to_string(modSettings::GetLanguage());
    q += " ";
    q += "WHERE 1=1 ";
    if (computerNr_ > 0) q += "AND EVL.computernr = " + std::to_string(computerNr_) + " ";
    if (eventTypeNr_ > 0) q += "AND EVL.eventtypenr = " + std::to_string(eventTypeNr_) + " ";
    if (eventLevelNr_ > 0) q += "AND EVL.levelnr = " + std::to_string(eventLevelNr_) + " ";
    q += "AND eventlognr > " + std::to_string(lastEventLogNr_) + " ";
    q += "AND eventlognr <= " + std::to_string(newest) + " ";
    q += "ORDER BY eventlognr ";
    return q;
}

void clsMonitor::Check() {
    try {
        telwick::platform::ReapPrograms();  // batch programs started by earlier checks
        // The window: above the number covered so far, up to the newest number
        // of this moment. The covered number moves with the rows, so that a
        // check that ends early leaves the rest of its window to the next one.
        const int32_t newest = std::max(lastEventLogNr_, ReadNewest(lastEventLogNr_));
        const std::string query = BuildQuery(newest);
        rs_.Open(query, modDatabase::GetConnection(), telwick::db::adOpenForwardOnly,
                 telwick::db::adLockReadOnly, telwick::db::adCmdUnspecified);

        bool cutShort = false;
        while (!rs_.EOF_()) {
            // A stop, pause or switch-off that came in meanwhile (while a message
            // box waited, say) ends the check; the rows not handled come later.
            if (!modMain::CheckMayGoOn()) {
                cutShort = true;
                break;
            }
            const int32_t eventLogNr = ToInt32(rs_.Integer("eventlognr"));
            std::string message = rs_.Text("message");
            FillPlaceholders(message, rs_.Text("parameter"));

            // From here on this row counts as handled, whatever its actions do.
            lastEventLogNr_ = std::max(lastEventLogNr_, eventLogNr);

            // An entry the logger does not take goes to standard error; the row's
            // other actions run all the same.
            if (writeEventLog_)
                telwick::platform::WriteEventLog(telwick::platform::EventInformation, EventLogNumber, message);
            if (executeBatch_ && telwick::platform::FileExists(batchFile_))
                telwick::platform::StartProgram(batchFile_, message);
            if (showMsgBox_) telwick::platform::ShowMessage(message, "Telwick", telwick::platform::Buttons::Ok);

            rs_.MoveNext();
        }
        rs_.Close();
        if (!cutShort) lastEventLogNr_ = newest;
        modDatabase::CloseSharedConnection();
    } catch (const std::exception&) {
        // A check ends quietly; it leaves nothing open behind it, so the next one
        // starts clean. (What is not a std::exception, such as the end of the
        // program, passes on.)
        try {
            rs_.Close();
        } catch (const std::exception&) {
        }
        try {
            modDatabase::CloseSharedConnection();
        } catch (const std::exception&) {
        }
    }
}
