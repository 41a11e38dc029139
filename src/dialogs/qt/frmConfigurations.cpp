#include "dialogs/qt/frmConfigurations.h"

#include <QKeyEvent>
#include <QTreeWidgetItem>

#include <vector>

#include "dialogs/qt/formsupport.h"
#include "dialogs/qt/frmConfiguration.h"
#include "ui_frmConfigurations.h"

using telwick::dialogs::FromText;
using namespace telwick::dialogs;

namespace {
QByteArray Bytes(const std::string& text) { return QByteArray(text.data(), qsizetype(text.size())); }
}  // namespace

frmConfigurations::frmConfigurations(QWidget* parent)
    : QDialog(parent), m_ui(new Ui::frmConfigurations), form_(*this) {
    InitResources();
    m_ui->setupUi(this);
    PrepareForm(this);
    for (int column = 0; column < ColumnCount; ++column)
        m_ui->lstConfigurations->setColumnWidth(column, TwipsToPixels(ListColumns[column].twips, this));

    connect(m_ui->cmdAdd, &QPushButton::clicked, this, [this] { form_.cmdAdd_Click(); });
    connect(m_ui->cmdEdit, &QPushButton::clicked, this, [this] { form_.cmdEdit_Click(SelectedRow()); });
    connect(m_ui->cmdRemove, &QPushButton::clicked, this, [this] {
        std::vector<size_t> selected;
        QTreeWidget* list = m_ui->lstConfigurations;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->isSelected()) selected.push_back(static_cast<size_t>(i));
        form_.cmdRemove_Click(selected);
    });
    connect(m_ui->OKButton, &QPushButton::clicked, this, [this] {
        if (form_.OKButton_Click()) accept();
    });
    connect(m_ui->CancelButton, &QPushButton::clicked, this, &frmConfigurations::reject);

    form_.Form_Load();
}

frmConfigurations::~frmConfigurations() = default;

void frmConfigurations::RowAdded(size_t) {
    new QTreeWidgetItem(m_ui->lstConfigurations);
}

void frmConfigurations::RowChanged(size_t index) {
    QTreeWidgetItem* item = m_ui->lstConfigurations->topLevelItem(static_cast<int>(index));
    if (!item || index >= form_.rows().size()) return;
    const ConfigurationRow& row = form_.rows()[index];
    // a record that cannot be read says why wherever the pointer rests on it
    const QString why = row.problem.empty() ? QString() : FromText("Cannot be read: " + row.problem + ".");
    for (int column = 0; column < ColumnCount; ++column) {
        item->setText(column, FromText(row.texts[static_cast<size_t>(column)]));
        item->setToolTip(column, why);
    }
    item->setData(ColComputer, ComputerNrRole, Bytes(row.computerNr));
    item->setData(ColComputer, EventTypeNrRole, Bytes(row.eventTypeNr));
    item->setData(ColComputer, EventLevelNrRole, Bytes(row.eventLevelNr));
    item->setData(ColComputer, BatchFileRole, Bytes(row.batchFile));
}

void frmConfigurations::RowRemoved(size_t index) {
    delete m_ui->lstConfigurations->takeTopLevelItem(static_cast<int>(index));
}

std::string frmConfigurations::EditRecord(const std::string& record) {
    frmConfiguration editor(record, this);
    editor.exec();
    return editor.record();
}

int frmConfigurations::SelectedRow() const {
    QTreeWidget* list = m_ui->lstConfigurations;
    QTreeWidgetItem* current = list->currentItem();
    if (current && current->isSelected()) return list->indexOfTopLevelItem(current);
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->isSelected()) return i;
    return -1;
}

void frmConfigurations::done(int result) {
    form_.Form_Unload();
    QDialog::done(result);
}

void frmConfigurations::keyPressEvent(QKeyEvent* event) {
    if (EscapePressesCancel(event, m_ui->CancelButton)) return;
    QDialog::keyPressEvent(event);
}
