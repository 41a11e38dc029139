#include "dialogs/frmDatabase.h"

#include <QButtonGroup>
#include <QKeyEvent>

#include "database/modDatabase.h"
#include "dialogs/formsupport.h"
#include "monitor/modMain.h"
#include "platform/messagebox.h"
#include "settings/crypt.h"
#include "settings/registry.h"
#include "ui_frmDatabase.h"

using telwick::dialogs::FromText;
using telwick::dialogs::ToText;

frmDatabase::frmDatabase(QWidget* parent) : QDialog(parent), m_ui(new Ui::frmDatabase) {
    telwick::dialogs::InitResources();
    m_ui->setupUi(this);
    telwick::dialogs::PrepareForm(this);

    // optUser is one group of two: index 0 Windows authentication, 1 a login
    auto* optUser = new QButtonGroup(this);
    optUser->addButton(m_ui->optUser_0, 0);
    optUser->addButton(m_ui->optUser_1, 1);
    connect(optUser, &QButtonGroup::idClicked, this, &frmDatabase::optUser_Click);
    connect(m_ui->OKButton, &QPushButton::clicked, this, &frmDatabase::OKButton_Click);
    connect(m_ui->CancelButton, &QPushButton::clicked, this, &frmDatabase::CancelButton_Click);

    Form_Load();
}

frmDatabase::~frmDatabase() {
    if (!unloaded_) Form_Unload();
}

void frmDatabase::Form_Load() {
    checksBefore_ = modMain::ChecksAllowed;
    modMain::ChecksAllowed = false;
    m_ui->txtServer->setText(FromText(modDatabase::DBServer));
    if (modDatabase::DBTrustedConnection) {
        m_ui->optUser_0->setChecked(true);
    } else {
        m_ui->optUser_1->setChecked(true);
        m_ui->txtUsername->setText(FromText(modDatabase::DBUsername));
        m_ui->txtPassword->setText(FromText(modDatabase::DBPassword));
    }
    optUser_Click(m_ui->optUser_1->isChecked() ? 1 : 0);
}

void frmDatabase::optUser_Click(int) {
    // disabling keeps the text: OK takes the login from disabled boxes too
    const bool login = m_ui->optUser_1->isChecked();
    m_ui->txtUsername->setEnabled(login);
    m_ui->txtPassword->setEnabled(login);
}

void frmDatabase::OKButton_Click() {
    const std::string server = ToText(m_ui->txtServer->text());
    const bool trusted = m_ui->optUser_0->isChecked();
    const std::string username = ToText(m_ui->txtUsername->text());
    const std::string password = ToText(m_ui->txtPassword->text());

    // Protect the login before anything is stored: when the cipher fails,
    // half a set of settings (a new server with the old login) is worse than
    // none, so nothing is written and the dialog stays open.
    const std::string storedUsername = modCrypt::ProtectValue("USR", username);
    const std::string storedPassword = modCrypt::ProtectValue("PWD", password);
    if (storedUsername.empty() || storedPassword.empty()) {
        telwick::platform::ShowMessage(
            "The login could not be protected, so nothing was stored. "
            "Check the installation and try again.",
            ToText(windowTitle()));
        return;
    }

    modDatabase::DBServer = server;
    modDatabase::DBTrustedConnection = trusted;
    modDatabase::DBUsername = username;
    modDatabase::DBPassword = password;

    modRegistry::CreateProgramKey();
    modRegistry::SetSetting("Server", modDatabase::DBServer);
    modRegistry::SetSetting("Trusted_Connection", modDatabase::DBTrustedConnection ? "Yes" : "No");
    modRegistry::SetSetting("Username", storedUsername);
    modRegistry::SetSetting("Password", storedPassword);
    accept();
}

void frmDatabase::CancelButton_Click() { reject(); }

void frmDatabase::Form_Unload() {
    unloaded_ = true;
    // Checks are allowed again, unless this dialog was opened on top of another
    // settings dialog (CheckDB from the configuration list, the tray menu while
    // the list is open): that one still holds them off until it closes.
    modMain::ChecksAllowed = checksBefore_;
}

void frmDatabase::done(int result) {
    if (!unloaded_) Form_Unload();
    QDialog::done(result);
}

void frmDatabase::keyPressEvent(QKeyEvent* event) {
    if (telwick::dialogs::EscapePressesCancel(event, m_ui->CancelButton)) return;
    QDialog::keyPressEvent(event);
}
