// The configuration list on the Qt desktop; its behaviour is
// ConfigurationsForm's, the rows drawn in a report-style list.
#pragma once

#include <QDialog>
#include <QScopedPointer>

#include <string>

#include "dialogs/ConfigurationsForm.h"

namespace Ui {
class frmConfigurations;
}
class QTreeWidgetItem;

class frmConfigurations : public QDialog, private telwick::dialogs::ConfigurationsView {
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
    // ConfigurationsView
    void RowAdded(size_t index) override;
    void RowChanged(size_t index) override;
    void RowRemoved(size_t index) override;
    std::string EditRecord(const std::string& record) override;

    // The row Edit works on: the current row when it is selected, else the
    // first selected one; -1 when none is.
    int SelectedRow() const;

    const QScopedPointer<Ui::frmConfigurations> m_ui;
    telwick::dialogs::ConfigurationsForm form_;
};
