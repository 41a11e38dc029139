// The database connection dialog: the server and how to log in to it. OK
// stores the values in the settings (the login protected) and in the cache of
// modDatabase; Cancel changes nothing. Checks are off while it is open.
#pragma once

#include <QDialog>
#include <QScopedPointer>

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
    void Form_Load();
    void optUser_Click(int index);
    void OKButton_Click();
    void CancelButton_Click();
    void Form_Unload();

    const QScopedPointer<Ui::frmDatabase> m_ui;
    bool unloaded_ = false;
    bool checksBefore_ = true;  // ChecksAllowed when the dialog loaded
};
