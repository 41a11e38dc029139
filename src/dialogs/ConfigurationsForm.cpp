#include "dialogs/ConfigurationsForm.h"

#include <functional>

#include "database/adodb.h"
#include "database/modDatabase.h"
#include "monitor/modMain.h"
#include "monitor/record.h"
#include "platform/messagebox.h"
#include "settings/errors.h"
#include "settings/registry.h"
#include "settings/settings.h"

namespace telwick::dialogs {

namespace {
const std::string Module = "frmConfigurations";
}

std::string ConfigurationRow::Record() const {
    if (!stored.empty()) return stored;
    return modMain::Record{computerNr,         eventTypeNr,        eventLevelNr, texts[ColMsgBox],
                           texts[ColEventlog], texts[ColBatch], batchFile}
        .Text();
}

ConfigurationsForm::~ConfigurationsForm() {
    if (loaded_ && !unloaded_) Form_Unload();
}

void ConfigurationsForm::Form_Load() {
    loaded_ = true;
    checksBefore_ = modMain::ChecksAllowed;
    modMain::ChecksAllowed = false;
    // InitList, in the order of the stored records: a monitor's row from the
    // monitor, the records no monitor stands for as they are stored. By index:
    // the lookups may show dialogs, and nothing there may touch the
    // collection, but an index never dangles.
    const std::vector<modMain::StoredRecord> records =
        modMain::RecordsBehindMonitors().value_or(std::vector<modMain::StoredRecord>(
            modMain::Monitors.size(), modMain::StoredRecord{std::string(), true}));
    size_t next = 0;
    for (const modMain::StoredRecord& record : records) {
        if (!record.loaded) {
            SetRowData(record.text, -1, true);
        } else if (next < modMain::Monitors.size()) {
            if (modMain::Monitors[next]) SetRowData(modMain::RecordOfMonitor(*modMain::Monitors[next]), -1);
            ++next;
        }
    }
}

void ConfigurationsForm::SetRowData(const std::string& text, int index, bool keep) {
    if (index < 0) {
        rows_.emplace_back();
        index = static_cast<int>(rows_.size() - 1);
        view_.RowAdded(static_cast<size_t>(index));
    }
    if (static_cast<size_t>(index) >= rows_.size()) return;
    const size_t at = static_cast<size_t>(index);
    const modMain::Record record = modMain::Record::Parse(text);

    // The record's own values first, so that a row whose lookups are cut short
    // by a database failure still saves this configuration unchanged.
    {
        ConfigurationRow& row = rows_[at];
        row.computerNr = record.computerNr;
        row.eventTypeNr = record.eventTypeNr;
        row.eventLevelNr = record.eventLevelNr;
        row.batchFile = record.batchFile;
        row.texts[ColMsgBox] = record.showMsgBox;
        row.texts[ColEventlog] = record.writeEventLog;
        row.texts[ColBatch] = record.executeBatch;
        row.stored = keep ? text : std::string();
        row.problem = keep ? modMain::RecordProblem(text) : std::string();
    }
    view_.RowChanged(at);

    telwick::db::Recordset rs;  // one recordset serves the three lookups
    struct Lookup {
        ListColumn column;
        const std::string& field;
        std::function<std::string(int32_t)> sql;
        const char* name;
    };
    auto description = [](int32_t kind) {
        return [kind](int32_t nr) {
            return "SELECT description FROM t_description WHERE descriptiontypenr = " + std::to_string(kind) +
                   " AND lang = " + std::to_string(modSettings::GetLanguage()) +
                   " AND descriptionnr = " + std::to_string(nr) + " ";
        };
    };
    const Lookup lookups[] = {
        {ColComputer, record.computerNr,
         [](int32_t nr) {
             return "SELECT computername FROM t_computer WHERE computernr = " + std::to_string(nr) + " ";
         },
         "computername"},
        {ColEventType, record.eventTypeNr, description(modMain::EventTypeType), "description"},
        {ColEventLevel, record.eventLevelNr, description(modMain::EventLevelType), "description"},
    };
    for (const Lookup& lookup : lookups) {
        // a number outside 32 bits names nothing: the cell says what it holds
        const bool inRange = modMain::NumberInRange(lookup.field);
        if (!inRange || !modSettings::IsNumeric(lookup.field)) {
            rows_[at].texts[lookup.column] =
                inRange ? std::string("*") : UnreadablePrefix + modMain::ShownField(lookup.field);
            view_.RowChanged(at);
            continue;
        }
        const bool done = modMain::Attempt(Module, "SetRowData", [&] {
            rs.Close();
            // the parsed number goes into the statement, never the field text
            rs.Open(lookup.sql(modSettings::ReadLong(lookup.field)), modDatabase::GetConnection(),
                    telwick::db::adOpenForwardOnly, telwick::db::adLockReadOnly, telwick::db::adCmdUnspecified);
            // no row: the cell keeps its text
            if (!rs.EOF_() && at < rows_.size()) {
                rows_[at].texts[lookup.column] = rs.Text(lookup.name);
                view_.RowChanged(at);
            }
            rs.Close();
        });
        if (!done) break;
    }
}

void ConfigurationsForm::cmdAdd_Click() {
    const std::string record = view_.EditRecord("");
    if (!record.empty()) SetRowData(record, -1);
}

void ConfigurationsForm::cmdEdit_Click(int selectedRow) {
    if (selectedRow < 0 || static_cast<size_t>(selectedRow) >= rows_.size()) return;
    const ConfigurationRow& row = rows_[static_cast<size_t>(selectedRow)];
    if (!row.problem.empty()) {
        platform::ShowMessage("This configuration cannot be read: " + row.problem +
                                  ". It is saved as it is stored; Remove takes it away.",
                              ConfigurationsCaption, platform::Buttons::Ok);
        return;
    }
    const std::string given = row.Record();
    const bool kept = !row.stored.empty();
    const std::string record = view_.EditRecord(given);
    // the close box hands the record back as it was: the row is filled again
    // from it, and a stored record stays as it is stored
    if (!record.empty()) SetRowData(record, selectedRow, kept && record == given);
}

void ConfigurationsForm::cmdRemove_Click(const std::vector<size_t>& selectedRows) {
    using platform::Answer;
    using platform::Buttons;
    if (platform::ShowMessage(modMain::GetMessageText(1), ConfigurationsCaption, Buttons::YesNo) != Answer::Yes)
        return;
    std::vector<bool> selected(rows_.size(), false);
    for (size_t i : selectedRows)
        if (i < rows_.size()) selected[i] = true;
    for (size_t i = rows_.size(); i-- > 0;) {
        if (!selected[i]) continue;
        rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(i));
        view_.RowRemoved(i);
    }
}

bool ConfigurationsForm::OKButton_Click() {
    // A step that fails and is given up leaves the dialog open; what was
    // written stays written, and OK writes the whole list anew.
    auto step = [](const std::function<void()>& f) { return modMain::Attempt(Module, "OKButton", f); };

    if (!step([] { modRegistry::CreateProgramKey(); })) return false;
    int i = 0;
    for (size_t r = 0; r < rows_.size(); ++r, ++i) {
        const std::string record = rows_[r].Record();
        if (!step([&] { modRegistry::SetSetting("config" + std::to_string(i), record); })) return false;
    }
    // empty the stale records behind them, up to the first empty one
    if (!step([&] {
            while (!modRegistry::GetSetting("config" + std::to_string(i)).empty()) {
                modRegistry::SetSetting("config" + std::to_string(i), "");
                ++i;
            }
        }))
        return false;
    if (!step([] { modMain::LoadMonitorings(); })) return false;
    return true;
}

void ConfigurationsForm::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    modDatabase::CloseSharedConnection();
    // allowed again, unless another settings dialog below this one still holds
    // the checks off
    modMain::ChecksAllowed = checksBefore_;
}

}  // namespace telwick::dialogs
