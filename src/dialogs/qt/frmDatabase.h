// The database connection dialog on the Qt desktop; its behaviour is
// DatabaseForm's.
#pragma once

#include <QDialog>
#include <QScopedPointer>

#include "dialogs/DatabaseForm.h"

namespace Ui {
class frmDatabase;
}

class frmDatabase : public QDialog {
    Q_OBJECT

public:
    explicit frmDatabase(QWidget* parent = nullptr);
    ~frmDatabase() override;

    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void optUser_Click(int index);
    void OKButton_Click();

    const QScopedPointer<Ui::frmDatabase> m_ui;
    telwick::dialogs::DatabaseForm form_;
};
