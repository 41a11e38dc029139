// One monitor: its window of event numbers and its check, row by row.
#include "monitor/clsMonitor.h"

#include <algorithm>
#include <limits>

#include "database/modDatabase.h"
#include "monitor/modMain.h"
#include "platform/fault.h"
#include "platform/lifecycle.h"
#include "platform/messagebox.h"
#include "platform/process.h"
#include "platform/syslog.h"
#include "settings/settings.h"

namespace {

const std::string NewestQuery = "SELECT MAX(eventlognr) FROM t_eventLog";
const std::string LowestQuery = "SELECT MIN(eventlognr) FROM t_eventLog";
constexpr int32_t EventLogNumber = 110;

// The placeholders "%1" to "%5" that text holds, as bits 1 to 5. (Message
// texts are short: a plain walk over the bytes beats a search call per "%".)
unsigned Placeholders(const std::string& text) {
    unsigned bits = 0;
    for (size_t i = 1; i < text.size(); ++i)
        if (text[i - 1] == '%' && text[i] >= '1' && text[i] <= '5') bits |= 1u << (text[i] - '0');
    return bits;
}

// Every "%" + n (n from 5 down to 1) replaced by field n of the parameter list,
// on the text as it grows: a placeholder that a later field brings in is
// replaced by the fields after it. The text is changed in place: a row whose
// fields are no longer than their placeholders costs no allocation.
void FillPlaceholders(std::string& text, const std::string& parameter) {
    unsigned present = Placeholders(text);
    for (char n = '5'; n >= '1' && present; --n) {
        if (!(present & (1u << (n - '0')))) continue;
        const std::string field = modMain::ParseValue(parameter, n - '0', modMain::RecordSeparator);
        // Left to right; what is put in is not looked at again for this n.
        for (size_t pos = 0; pos + 1 < text.size();) {
            if (text[pos] == '%' && text[pos + 1] == n) {
                text.replace(pos, 2, field);
                pos += field.size();
            } else {
                ++pos;
            }
        }
        // A field can bring placeholders in, or make one with a "%" before it
        // (an empty one with what follows it); other fields change nothing else.
        if (field.empty() || field.find('%') != std::string::npos || (field[0] >= '1' && field[0] <= '5'))
            present = Placeholders(text);
    }
}

// The message boxes of one check, held to the limit "MaxMessageBoxes" sets: the
// rows beyond it get their other actions as usual, and one box at the end of
// the check tells how many more matched and shows the newest of them.
class BoxLimit {
public:
    explicit BoxLimit(int32_t limit) : limit_(limit) {}
    void Show(int64_t eventLogNr, const std::string& message) {
        if (limit_ <= 0 || shown_ < limit_) {
            ++shown_;
            telwick::platform::ShowMessage(message, "Telwick", telwick::platform::Buttons::Ok);
            return;
        }
        ++heldBack_;
        newestNr_ = eventLogNr;
        newest_ = message;
    }
    void Summarize() {
        // A stop does not wait for a box that nobody asked to see.
        if (heldBack_ == 0 || telwick::platform::StopRequested()) return;
        const std::string text = std::to_string(heldBack_) + (heldBack_ == 1 ? " more event" : " more events") +
                                 " matched. The newest of them, event " + std::to_string(newestNr_) + ": " +
                                 newest_;
        heldBack_ = 0;
        telwick::platform::ShowMessage(text, "Telwick", telwick::platform::Buttons::Ok);
    }

private:
    int32_t limit_;
    int32_t shown_ = 0;
    int64_t heldBack_ = 0;
    int64_t newestNr_ = 0;
    std::string newest_;
};

}  // namespace

clsMonitor::clsMonitor() {
    lastEventLogNr_ = 0;
    UpdateLastEventLogNr();
}

clsMonitor::~clsMonitor() = default;

std::optional<int64_t> clsMonitor::ReadNumber(const std::string& query) {
    telwick::db::Connection* connection = modDatabase::GetConnection();
    rs_.Open(query, connection, telwick::db::adOpenForwardOnly, telwick::db::adLockReadOnly,
             telwick::db::adCmdUnspecified);
    std::optional<int64_t> number;
    if (!rs_.EOF_() && !rs_.IsNull(0)) number = rs_.Integer(0);
    rs_.Close();
    return number;
}

void clsMonitor::ResumeFrom(int64_t covered) {
    if (covered < lastEventLogNr_) lastEventLogNr_ = static_cast<decltype(lastEventLogNr_)>(covered);
}

void clsMonitor::UpdateLastEventLogNr() {
    // The newest number as the database has it, below 0 as well as above. An
    // empty table keeps the number, and whatever is stored in it later is new.
    if (const std::optional<int64_t> newest = ReadNumber(NewestQuery))
        lastEventLogNr_ = *newest;
    else
        emptySeen_ = true;
}

std::string clsMonitor::BuildQuery(int64_t newest) const {
    std::string q = "SELECT EVL.*, DES.description AS message FROM t_eventLog AS EVL ";
    q += "INNER JOIN t_description AS DES ON EVL.messagenr = DES.descriptionnr AND DES.descriptiontypenr = ";
    q += std::to_string(modMain::MessageTextType);
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
    BoxLimit boxes(modMain::MaxMessageBoxes);
    try {
        telwick::platform::ReapPrograms();  // batch programs started by earlier checks
        // The window: above the number covered so far, up to the newest number
        // of this moment. The covered number moves with the rows, so that a
        // check that ends early leaves the rest of its window to the next one.
        const std::optional<int64_t> max = ReadNumber(NewestQuery);
        if (!max) {
            emptySeen_ = true;
        } else if (emptySeen_) {
            // The table was empty at the last look, so every row in it now came
            // since, whatever its number (the numbering may have started again,
            // or start below 0): the window opens just below the lowest row, or
            // where it was when that is lower.
            if (const std::optional<int64_t> lowest = ReadNumber(LowestQuery)) {
                if (*lowest > std::numeric_limits<int64_t>::min())
                    lastEventLogNr_ = std::min(lastEventLogNr_, *lowest - 1);
                emptySeen_ = false;
            }
        }
        // A newest number below the covered one means the table was renumbered
        // (rows deleted, the numbering started again lower). Its rows up to the
        // newest number cannot be told from old ones that were reported
        // already, so this window is empty and the covered number comes down to
        // the newest one: what is stored after it is reported by the next check.
        const int64_t newest = max.value_or(lastEventLogNr_);
        const std::string query = BuildQuery(newest);
        rs_.Open(query, modDatabase::GetConnection(), telwick::db::adOpenForwardOnly, telwick::db::adLockReadOnly,
                 telwick::db::adCmdUnspecified);

        bool cutShort = false;
        while (!rs_.EOF_()) {
            // A stop, pause or switch-off that came in meanwhile (while a message
            // box waited, say) ends the check; the rows not handled come later.
            if (!modMain::CheckMayGoOn()) {
                cutShort = true;
                break;
            }
            const int64_t eventLogNr = rs_.Integer("eventlognr");
            std::string message = rs_.Text("message");
            FillPlaceholders(message, rs_.Text("parameter"));

            // From here on this row counts as handled, whatever its actions do.
            lastEventLogNr_ = std::max(lastEventLogNr_, eventLogNr);
            ++modMain::EventsActedOn;

            // An entry the logger does not take goes to standard error; the row's
            // other actions run all the same.
            if (writeEventLog_)
                telwick::platform::WriteEventLog(telwick::platform::EventInformation, EventLogNumber, message);
            if (executeBatch_ && telwick::platform::FileExists(batchFile_))
                telwick::platform::StartProgram(batchFile_, message);
            if (showMsgBox_) boxes.Show(eventLogNr, message);

            rs_.MoveNext();
        }
        rs_.Close();
        if (!cutShort) lastEventLogNr_ = newest;  // lower than before after a renumbering
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
    try {
        boxes.Summarize();
    } catch (const std::exception&) {
    }
}
