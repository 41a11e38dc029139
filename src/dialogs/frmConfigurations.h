// The configuration list: every monitoring configuration in memory, with Add,
// Edit and Remove, saved as a whole by OK. Checks are off while it is open;
// closing it closes the shared connection.
#pragma once

#include <QDialog>
#include <QScopedPointer>

#include <string>

namespace Ui {
class frmConfigurations;
}
class QTreeWidgetItem;

class frmConfigurations : public QDialog {
    Q_OBJECT

public:
    explicit frmConfigurations(QWidget* parent = nullptr);
    ~frmConfigurations() override;

    void done(int result) override;

    // The hidden data of a row, beside its six texts.
    enum RowRole { ComputerNrRole = Qt::UserRole, EventTypeNrRole, EventLevelNrRole, BatchFileRole };

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Form_Load();
    void InitList();
    void SetRowData(const std::string& record, bool edit);
    void cmdAdd_Click();
    void cmdEdit_Click();
    void cmdRemove_Click();
    void OKButton_Click();
    void CancelButton_Click();
    void Form_Unload();

    // The row Edit works on: the current row when it is selected, else the
    // first selected one; nullptr when none is.
    QTreeWidgetItem* SelectedRow() const;
    // The record of a row, from its hidden data and its flag texts.
    static std::string RecordOfRow(const QTreeWidgetItem* row);
    void ShowEditor();

    const QScopedPointer<Ui::frmConfigurations> m_ui;
    bool unloaded_ = false;
    bool checksBefore_ = true;  // ChecksAllowed when the dialog loaded
};
