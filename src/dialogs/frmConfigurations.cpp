#include "dialogs/frmConfigurations.h"

#include <QKeyEvent>
#include <QTreeWidgetItem>

#include <functional>

#include "database/adodb.h"
#include "database/modDatabase.h"
#include "dialogs/formsupport.h"
#include "dialogs/frmConfiguration.h"
#include "monitor/modMain.h"
#include "platform/messagebox.h"
#include "settings/errors.h"
#include "settings/registry.h"
#include "settings/settings.h"
#include "ui_frmConfigurations.h"

using telwick::dialogs::FromText;
using telwick::dialogs::ToText;

namespace {

const std::string Module = "frmConfigurations";

enum Column { ColComputer, ColEventType, ColEventLevel, ColMsgBox, ColEventlog, ColBatch };

QByteArray Bytes(const std::string& text) { return QByteArray(text.data(), qsizetype(text.size())); }
std::string Text(const QVariant& data) { return data.toByteArray().toStdString(); }

}  // namespace

frmConfigurations::frmConfigurations(QWidget* parent) : QDialog(parent), m_ui(new Ui::frmConfigurations) {
    telwick::dialogs::InitResources();
    m_ui->setupUi(this);
    telwick::dialogs::PrepareForm(this);
    for (int column : {ColComputer, ColEventType, ColEventLevel})
        m_ui->lstConfigurations->setColumnWidth(column, telwick::dialogs::TwipsToPixels(2000, this));
    for (int column : {ColMsgBox, ColEventlog, ColBatch})
        m_ui->lstConfigurations->setColumnWidth(column, telwick::dialogs::TwipsToPixels(1000, this));

    connect(m_ui->cmdAdd, &QPushButton::clicked, this, &frmConfigurations::cmdAdd_Click);
    connect(m_ui->cmdEdit, &QPushButton::clicked, this, &frmConfigurations::cmdEdit_Click);
    connect(m_ui->cmdRemove, &QPushButton::clicked, this, &frmConfigurations::cmdRemove_Click);
    connect(m_ui->OKButton, &QPushButton::clicked, this, &frmConfigurations::OKButton_Click);
    connect(m_ui->CancelButton, &QPushButton::clicked, this, &frmConfigurations::CancelButton_Click);

    Form_Load();
}

frmConfigurations::~frmConfigurations() {
    if (!unloaded_) Form_Unload();
}

void frmConfigurations::Form_Load() {
    checksBefore_ = modMain::ChecksAllowed;
    modMain::ChecksAllowed = false;
    InitList();
}

void frmConfigurations::InitList() {
    // by index: the lookups may show dialogs, and nothing there may touch the
    // collection, but an index never dangles
    for (size_t i = 0; i < modMain::Monitors.size(); ++i)
        if (modMain::Monitors[i]) SetRowData(modMain::RecordOfMonitor(*modMain::Monitors[i]), false);
}

void frmConfigurations::SetRowData(const std::string& record, bool edit) {
    QTreeWidgetItem* row = edit ? SelectedRow() : new QTreeWidgetItem(m_ui->lstConfigurations);
    if (!row) return;
    auto field = [&record](int index) { return modMain::ParseValue(record, index, ";"); };
    const std::string computer = field(1), eventType = field(2), eventLevel = field(3);

    // The record's own values first, so that a row whose lookups are cut short
    // by a database failure still saves this configuration unchanged.
    row->setData(ColComputer, ComputerNrRole, Bytes(computer));
    row->setData(ColComputer, EventTypeNrRole, Bytes(eventType));
    row->setData(ColComputer, EventLevelNrRole, Bytes(eventLevel));
    row->setData(ColComputer, BatchFileRole, Bytes(field(7)));
    row->setText(ColMsgBox, FromText(field(4)));
    row->setText(ColEventlog, FromText(field(5)));
    row->setText(ColBatch, FromText(field(6)));

    telwick::db::Recordset rs;  // one recordset serves the three lookups
    struct Lookup {
        int column;
        const std::string& field;
        std::function<std::string(int32_t)> sql;
        const char* name;
    };
    auto description = [](int kind) {
        return [kind](int32_t nr) {
            return "SELECT description FROM t_description WHERE descriptiontypenr = " + std::to_string(kind) +
                   " AND lang = " + std::to_string(modSettings::GetLanguage()) +
                   " AND descriptionnr = " + std::to_string(nr) + " ";
        };
    };
    const Lookup lookups[] = {
        {ColComputer, computer,
         [](int32_t nr) {
             return "SELECT computername FROM t_computer WHERE computernr = " + std::to_string(nr) + " ";
         },
         "computername"},
        {ColEventType, eventType, description(18), "description"},
        {ColEventLevel, eventLevel, description(19), "description"},
    };
    for (const Lookup& lookup : lookups) {
        if (!modSettings::IsNumeric(lookup.field)) {
            row->setText(lookup.column, QStringLiteral("*"));
            continue;
        }
        const bool done = modMain::Attempt(Module, "SetRowData", [&] {
            rs.Close();
            // the parsed number goes into the statement, never the field text
            rs.Open(lookup.sql(modSettings::ReadLong(lookup.field)), modDatabase::GetConnection(),
                    telwick::db::adOpenForwardOnly, telwick::db::adLockReadOnly, telwick::db::adCmdUnspecified);
            // no row: the cell keeps its text
            if (!rs.EOF_()) row->setText(lookup.column, FromText(rs.Text(lookup.name)));
            rs.Close();
        });
        if (!done) break;
    }
}

QTreeWidgetItem* frmConfigurations::SelectedRow() const {
    QTreeWidgetItem* current = m_ui->lstConfigurations->currentItem();
    if (current && current->isSelected()) return current;
    for (int i = 0; i < m_ui->lstConfigurations->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = m_ui->lstConfigurations->topLevelItem(i);
        if (row->isSelected()) return row;
    }
    return nullptr;
}

std::string frmConfigurations::RecordOfRow(const QTreeWidgetItem* row) {
    using modMain::EscapeValue;
    return EscapeValue(Text(row->data(ColComputer, ComputerNrRole))) + ";" +
           EscapeValue(Text(row->data(ColComputer, EventTypeNrRole))) + ";" +
           EscapeValue(Text(row->data(ColComputer, EventLevelNrRole))) + ";" +
           EscapeValue(ToText(row->text(ColMsgBox))) + ";" + EscapeValue(ToText(row->text(ColEventlog))) + ";" +
           EscapeValue(ToText(row->text(ColBatch))) + ";" +
           EscapeValue(Text(row->data(ColComputer, BatchFileRole))) + ";";
}

void frmConfigurations::ShowEditor() {
    frmConfiguration editor(this);
    editor.exec();
}

void frmConfigurations::cmdAdd_Click() {
    modMain::ConfigValue.clear();
    ShowEditor();
    if (!modMain::ConfigValue.empty()) SetRowData(modMain::ConfigValue, false);
}

void frmConfigurations::cmdEdit_Click() {
    const QTreeWidgetItem* row = SelectedRow();
    if (!row) return;
    modMain::ConfigValue = RecordOfRow(row);
    ShowEditor();
    // the close box leaves the record as it was: the row is filled again from it
    if (!modMain::ConfigValue.empty()) SetRowData(modMain::ConfigValue, true);
}

void frmConfigurations::cmdRemove_Click() {
    using telwick::platform::Answer;
    using telwick::platform::Buttons;
    if (telwick::platform::ShowMessage(modMain::GetMessageText(1), ToText(windowTitle()), Buttons::YesNo) !=
        Answer::Yes)
        return;
    QTreeWidget* list = m_ui->lstConfigurations;
    for (int i = list->topLevelItemCount() - 1; i >= 0; --i)
        if (list->topLevelItem(i)->isSelected()) delete list->takeTopLevelItem(i);
}

void frmConfigurations::OKButton_Click() {
    // A step that fails and is given up leaves the dialog open; what was
    // written stays written, and OK writes the whole list anew.
    auto step = [](const std::function<void()>& f) { return modMain::Attempt(Module, "OKButton", f); };

    if (!step([] { modRegistry::CreateProgramKey(); })) return;
    int i = 0;
    QTreeWidget* list = m_ui->lstConfigurations;
    for (int r = 0; r < list->topLevelItemCount(); ++r, ++i) {
        const std::string record = RecordOfRow(list->topLevelItem(r));
        if (!step([&] { modRegistry::SetSetting("config" + std::to_string(i), record); })) return;
    }
    // empty the stale records behind them, up to the first empty one
    if (!step([&] {
            while (!modRegistry::GetSetting("config" + std::to_string(i)).empty()) {
                modRegistry::SetSetting("config" + std::to_string(i), "");
                ++i;
            }
        }))
        return;
    if (!step([] { modMain::LoadMonitorings(); })) return;
    accept();
}

void frmConfigurations::CancelButton_Click() { reject(); }

void frmConfigurations::Form_Unload() {
    unloaded_ = true;
    modDatabase::CloseSharedConnection();
    // allowed again, unless another settings dialog below this one still holds
    // the checks off
    modMain::ChecksAllowed = checksBefore_;
}

void frmConfigurations::done(int result) {
    if (!unloaded_) Form_Unload();
    QDialog::done(result);
}

void frmConfigurations::keyPressEvent(QKeyEvent* event) {
    if (telwick::dialogs::EscapePressesCancel(event, m_ui->CancelButton)) return;
    QDialog::keyPressEvent(event);
}
