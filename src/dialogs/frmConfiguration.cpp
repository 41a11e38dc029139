#include "dialogs/frmConfiguration.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>

#include <functional>

#include "database/adodb.h"
#include "database/modDatabase.h"
#include "dialogs/formsupport.h"
#include "dialogs/imagecombo.h"
#include "monitor/modMain.h"
#include "settings/errors.h"
#include "settings/settings.h"
#include "ui_frmConfiguration.h"

using telwick::dialogs::FromText;
using telwick::dialogs::ToText;

namespace {
const std::string Module = "frmConfiguration";
}

const QString frmConfiguration::BrowseFilter =
    QStringLiteral("Batch file (*.bat;*.cmd)|*.bat;*.cmd|All files (*.*)|*.*");

QStringList frmConfiguration::BrowseNameFilters() {
#ifdef Q_OS_WIN
    return telwick::dialogs::NameFiltersFromCommonDialog(BrowseFilter);
#else
    // here a batch program is as often a shell script
    return telwick::dialogs::NameFiltersFromCommonDialog(BrowseFilter, {QStringLiteral("*.sh")});
#endif
}

frmConfiguration::frmConfiguration(QWidget* parent) : QDialog(parent), m_ui(new Ui::frmConfiguration) {
    telwick::dialogs::InitResources();
    m_ui->setupUi(this);
    telwick::dialogs::PrepareForm(this);
    m_ui->cboComputer->setItemIcon(QIcon(QStringLiteral(":/telwick/computer.png")));
    m_ui->cboEventType->setItemIcon(QIcon(QStringLiteral(":/telwick/eventtype.png")));
    m_ui->cboEventLevel->setItemIcon(QIcon(QStringLiteral(":/telwick/eventlevel.png")));

    // a greyed box (value 2 from a record) becomes a plain two-state box once
    // the user clicks it
    for (QCheckBox* box : {m_ui->chkMessageBox, m_ui->chkEventlog, m_ui->chkRunBatch})
        connect(box, &QCheckBox::clicked, box, [box] { box->setTristate(false); });
    // also when the record sets the box on opening
    connect(m_ui->chkRunBatch, &QCheckBox::stateChanged, this, &frmConfiguration::chkRunBatch_Click);
    connect(m_ui->cmdBrowse, &QPushButton::clicked, this, &frmConfiguration::cmdBrowse_Click);
    connect(m_ui->OKButton, &QPushButton::clicked, this, &frmConfiguration::OKButton_Click);
    connect(m_ui->CancelButton, &QPushButton::clicked, this, &frmConfiguration::CancelButton_Click);

    Form_Load();
}

frmConfiguration::~frmConfiguration() = default;

void frmConfiguration::Form_Load() {
    InitCombos();
    // Add keeps the starting state: open filters, message box only, no path
    if (modMain::ConfigValue.empty()) return;
    ShowRecord(modMain::ConfigValue);
}

void frmConfiguration::InitCombos() {
    using telwick::db::Recordset;
    Recordset rs;  // one recordset serves the three queries

    // Fills one combo; a retry first takes back what the failed try added.
    auto fill = [&](ImageCombo* combo, const std::function<std::string()>& sql,
                    const std::function<void(ImageCombo*, Recordset&)>& addRow) {
        const int start = combo->count();
        return modMain::Attempt(Module, "InitCombos", [&] {
            while (combo->count() > start) combo->removeItem(combo->count() - 1);
            rs.Close();
            rs.Open(sql(), modDatabase::GetConnection(), telwick::db::adOpenForwardOnly,
                    telwick::db::adLockReadOnly, telwick::db::adCmdUnspecified);
            while (!rs.EOF_()) {
                addRow(combo, rs);
                rs.MoveNext();
            }
            rs.Close();
        });
    };
    auto descriptions = [](int kind, const char* order) {
        return [kind, order] {
            return "SELECT descriptionnr, description FROM t_description WHERE descriptiontypenr = " +
                   std::to_string(kind) + " AND lang = " + std::to_string(modSettings::GetLanguage()) + " " +
                   order;
        };
    };
    auto addDescription = [](const char* prefix) {
        return [prefix](ImageCombo* combo, Recordset& r) {
            combo->AddItem(QString::fromLatin1(prefix) + QString::number(r.Integer("descriptionnr")),
                           FromText(r.Text("description")));
        };
    };

    if (!fill(
            m_ui->cboComputer,
            [] {
                return std::string(
                    "SELECT computernr, computername, domainname FROM t_computer WHERE statusnr <> 0 "
                    "ORDER BY computername, domainname ");
            },
            [](ImageCombo* combo, Recordset& r) {
                combo->AddItem(QStringLiteral("COM") + QString::number(r.Integer("computernr")),
                               FromText(r.Text("computername") + " (" + r.Text("domainname") + ")"));
            }))
        return;
    if (!fill(m_ui->cboEventType, descriptions(18, "ORDER BY description "), addDescription("EVT"))) return;
    fill(m_ui->cboEventLevel, descriptions(19, "ORDER BY descriptionnr "), addDescription("EVL"));
}

void frmConfiguration::ShowRecord(const std::string& record) {
    // each step on its own: a key that is gone or a value out of range is
    // skipped silently and the next step still runs
    auto step = [](const std::function<void()>& f) {
        try {
            f();
        } catch (...) {
        }
    };
    auto field = [&record](int index) { return modMain::ParseValue(record, index, ";"); };
    auto check = [&](QCheckBox* box, int index) {
        step([&] { telwick::dialogs::SetCheckValue(box, modSettings::ReadLong(field(index))); });
    };

    step([&] { m_ui->cboComputer->SelectKey(QStringLiteral("COM") + FromText(field(1))); });
    step([&] { m_ui->cboEventType->SelectKey(QStringLiteral("EVT") + FromText(field(2))); });
    step([&] { m_ui->cboEventLevel->SelectKey(QStringLiteral("EVL") + FromText(field(3))); });
    check(m_ui->chkMessageBox, 4);
    check(m_ui->chkEventlog, 5);
    check(m_ui->chkRunBatch, 6);
    step([&] { m_ui->txtBatch->setText(FromText(field(7))); });
}

void frmConfiguration::chkRunBatch_Click() {
    const bool run = m_ui->chkRunBatch->checkState() == Qt::Checked;
    m_ui->txtBatch->setEnabled(run);
    m_ui->cmdBrowse->setEnabled(run);
}

void frmConfiguration::cmdBrowse_Click() {
    QFileDialog cdlBrowse(this);
    cdlBrowse.setObjectName(QStringLiteral("cdlBrowse"));
    cdlBrowse.setAcceptMode(QFileDialog::AcceptOpen);
    cdlBrowse.setFileMode(QFileDialog::ExistingFile);
    const QStringList filters = BrowseNameFilters();
    cdlBrowse.setNameFilters(filters);
    cdlBrowse.selectNameFilter(filters.first());  // opens on the batch files
    const QString current = m_ui->txtBatch->text();
    if (!current.isEmpty()) {
        const QFileInfo info(current);
        if (info.dir().exists()) cdlBrowse.setDirectory(info.dir());
    }
    if (cdlBrowse.exec() != QDialog::Accepted) return;
    const QStringList chosen = cdlBrowse.selectedFiles();
    if (!chosen.isEmpty() && !chosen.first().isEmpty())
        m_ui->txtBatch->setText(QDir::toNativeSeparators(chosen.first()));
}

void frmConfiguration::OKButton_Click() {
    std::string record;
    const bool built = modMain::Attempt(Module, "OKButton", [&] {
        // a selected item's key without its three-letter prefix; none: open
        auto number = [](const ImageCombo* combo) {
            return modMain::EscapeValue(ToText(combo->SelectedKey().mid(3))) + ";";
        };
        auto flag = [](const QCheckBox* box) { return std::to_string(telwick::dialogs::CheckValue(box)) + ";"; };
        record = number(m_ui->cboComputer) + number(m_ui->cboEventType) + number(m_ui->cboEventLevel) +
                 flag(m_ui->chkMessageBox) + flag(m_ui->chkEventlog) + flag(m_ui->chkRunBatch) +
                 // the path is kept even when "Run batch:" is off
                 modMain::EscapeValue(ToText(m_ui->txtBatch->text())) + ";";
    });
    if (!built) return;  // stays open: OK again or Cancel
    modMain::ConfigValue = record;
    accept();
}

void frmConfiguration::CancelButton_Click() {
    modMain::ConfigValue.clear();
    reject();
}

void frmConfiguration::keyPressEvent(QKeyEvent* event) {
    // the close box leaves ConfigValue alone
    if (telwick::dialogs::EscapePressesCancel(event, m_ui->CancelButton)) return;
    QDialog::keyPressEvent(event);
}
