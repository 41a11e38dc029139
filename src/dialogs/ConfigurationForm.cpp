#include "dialogs/ConfigurationForm.h"

#include <functional>

#include "database/adodb.h"
#include "database/modDatabase.h"
#include "monitor/record.h"
#include "settings/errors.h"
#include "settings/settings.h"

namespace telwick::dialogs {

namespace {
const std::string Module = "frmConfiguration";
}

ConfigurationForm::ConfigurationForm(std::string record) : record_(std::move(record)) {}

int ConfigurationForm::IndexOfKey(ComboIndex combo, const std::string& key) const {
    const auto& items = items_.at(combo);
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].key == key) return static_cast<int>(i);
    return -1;
}

void ConfigurationForm::Form_Load() {
    InitCombos();
    // Add keeps the starting state: open filters, message box only, no path
    if (record_.empty()) return;
    ShowRecord();
}

void ConfigurationForm::InitCombos() {
    using telwick::db::Recordset;
    Recordset rs;  // one recordset serves the three queries

    // Fills one combo; a retry first takes back what the failed try added.
    auto fill = [&](ComboIndex combo, const std::string& sql,
                    const std::function<ComboItem(Recordset&)>& itemOf) {
        auto& items = items_[combo];
        const size_t start = items.size();
        return modMain::Attempt(Module, "InitCombos", [&] {
            items.resize(start);
            rs.Close();
            rs.Open(sql, modDatabase::GetConnection(), telwick::db::adOpenForwardOnly, telwick::db::adLockReadOnly,
                    telwick::db::adCmdUnspecified);
            while (!rs.EOF_()) {
                items.push_back(itemOf(rs));
                rs.MoveNext();
            }
            rs.Close();
        });
    };
    auto descriptions = [](int32_t kind, const char* order) {
        return "SELECT descriptionnr, description FROM t_description WHERE descriptiontypenr = " +
               std::to_string(kind) + " AND lang = " + std::to_string(modSettings::GetLanguage()) + " " + order;
    };
    auto description = [](ComboIndex combo) {
        return [combo](Recordset& r) {
            return ComboItem{ComboKeyPrefix[combo] + std::to_string(r.Integer("descriptionnr")),
                             r.Text("description")};
        };
    };

    if (!fill(cboComputer,
              "SELECT computernr, computername, domainname FROM t_computer WHERE statusnr <> 0 "
              "ORDER BY computername, domainname ",
              [](Recordset& r) {
                  return ComboItem{ComboKeyPrefix[cboComputer] + std::to_string(r.Integer("computernr")),
                                   r.Text("computername") + " (" + r.Text("domainname") + ")"};
              }))
        return;
    if (!fill(cboEventType, descriptions(modMain::EventTypeType, "ORDER BY description "),
              description(cboEventType)))
        return;
    fill(cboEventLevel, descriptions(modMain::EventLevelType, "ORDER BY descriptionnr "),
         description(cboEventLevel));
}

void ConfigurationForm::ShowRecord() {
    // each field on its own: a key that is gone or a value out of range is
    // skipped silently and the next one still comes
    const modMain::Record record = modMain::Record::Parse(record_);
    const std::string* numbers[ComboCount] = {&record.computerNr, &record.eventTypeNr, &record.eventLevelNr};
    for (int c = 0; c < ComboCount; ++c) {
        const auto combo = static_cast<ComboIndex>(c);
        // an empty field asks for the prefix alone, which no item has: open
        fields_.selected[c] = IndexOfKey(combo, ComboKeyPrefix[c] + *numbers[c]);
    }
    const std::string* flags[CheckCount] = {&record.showMsgBox, &record.writeEventLog, &record.executeBatch};
    for (int c = 0; c < CheckCount; ++c) {
        try {
            const int32_t value = modSettings::ReadLong(*flags[c]);
            if (value >= 0 && value <= 2) fields_.checks[c] = value;
        } catch (...) {
        }
    }
    fields_.batchFile = record.batchFile;
}

bool ConfigurationForm::OKButton_Click(const ConfigurationFields& shown) {
    std::string built;
    const bool done = modMain::Attempt(Module, "OKButton", [&] {
        // a selected item's key without its three-letter prefix; none: open
        auto number = [&](ComboIndex combo) -> std::string {
            const int index = shown.selected[combo];
            const auto& items = items_[combo];
            if (index < 0 || static_cast<size_t>(index) >= items.size()) return {};
            return items[static_cast<size_t>(index)].key.substr(3);
        };
        auto flag = [&](CheckIndex box) { return std::to_string(shown.checks[box]); };
        // the path is kept even when "Run batch:" is off
        built = modMain::Record{number(cboComputer),      number(cboEventType),  number(cboEventLevel),
                                flag(chkMessageBox),      flag(chkEventlog),     flag(chkRunBatch),
                                shown.batchFile}
                    .Text();
    });
    if (!done) return false;  // stays open: OK again or Cancel
    record_ = built;
    return true;
}

}  // namespace telwick::dialogs
