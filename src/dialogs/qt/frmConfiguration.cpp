#include "dialogs/qt/frmConfiguration.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>

#include "dialogs/qt/formsupport.h"
#include "dialogs/qt/imagecombo.h"
#include "ui_frmConfiguration.h"

using telwick::dialogs::FromText;
using telwick::dialogs::ToText;
namespace logic = telwick::dialogs;

const QString frmConfiguration::BrowseFilter =
    QString::fromLatin1(telwick::dialogs::BrowseFilter);

QStringList frmConfiguration::BrowseNameFilters() {
#ifdef Q_OS_WIN
    return telwick::dialogs::NameFiltersFromCommonDialog(BrowseFilter);
#else
    // here a batch program is as often a shell script
    return telwick::dialogs::NameFiltersFromCommonDialog(BrowseFilter, {QStringLiteral("*.sh")});
#endif
}

frmConfiguration::frmConfiguration(std::string record, QWidget* parent)
    : QDialog(parent), m_ui(new Ui::frmConfiguration), form_(std::move(record)) {
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

    form_.Form_Load();
    const logic::ConfigurationFields& fields = form_.fields();
    for (int c = 0; c < logic::ComboCount; ++c) {
        const auto index = static_cast<logic::ComboIndex>(c);
        for (const logic::ComboItem& item : form_.items(index))
            Combo(index)->AddItem(FromText(item.key), FromText(item.text));
        if (fields.selected[c] >= 0) Combo(index)->setCurrentIndex(fields.selected[c]);
    }
    QCheckBox* boxes[logic::CheckCount] = {m_ui->chkMessageBox, m_ui->chkEventlog, m_ui->chkRunBatch};
    for (int c = 0; c < logic::CheckCount; ++c) telwick::dialogs::SetCheckValue(boxes[c], fields.checks[c]);
    m_ui->txtBatch->setText(FromText(fields.batchFile));
    chkRunBatch_Click();
}

frmConfiguration::~frmConfiguration() = default;

ImageCombo* frmConfiguration::Combo(logic::ComboIndex index) const {
    switch (index) {
    case logic::cboComputer: return m_ui->cboComputer;
    case logic::cboEventType: return m_ui->cboEventType;
    default: return m_ui->cboEventLevel;
    }
}

void frmConfiguration::chkRunBatch_Click() {
    const bool run = logic::ConfigurationForm::BatchEnabled(telwick::dialogs::CheckValue(m_ui->chkRunBatch));
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
    logic::ConfigurationFields shown;
    for (int c = 0; c < logic::ComboCount; ++c) {
        // the item whose key is selected; none: an open filter
        const auto index = static_cast<logic::ComboIndex>(c);
        shown.selected[c] = form_.IndexOfKey(index, ToText(Combo(index)->SelectedKey()));
    }
    shown.checks = {telwick::dialogs::CheckValue(m_ui->chkMessageBox), telwick::dialogs::CheckValue(m_ui->chkEventlog),
                    telwick::dialogs::CheckValue(m_ui->chkRunBatch)};
    shown.batchFile = ToText(m_ui->txtBatch->text());
    if (form_.OKButton_Click(shown)) accept();  // else it stays open: OK again or Cancel
}

void frmConfiguration::CancelButton_Click() {
    form_.CancelButton_Click();
    reject();
}

void frmConfiguration::keyPressEvent(QKeyEvent* event) {
    // the close box leaves the record as it was given
    if (telwick::dialogs::EscapePressesCancel(event, m_ui->CancelButton)) return;
    QDialog::keyPressEvent(event);
}
