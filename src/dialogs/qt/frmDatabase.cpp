#include "dialogs/qt/frmDatabase.h"

#include <QButtonGroup>
#include <QKeyEvent>

#include "dialogs/qt/formsupport.h"
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
    connect(m_ui->CancelButton, &QPushButton::clicked, this, &frmDatabase::reject);

    const telwick::dialogs::DatabaseFields fields = form_.Form_Load();
    m_ui->txtServer->setText(FromText(fields.server));
    (fields.optUser == 1 ? m_ui->optUser_1 : m_ui->optUser_0)->setChecked(true);
    m_ui->txtUsername->setText(FromText(fields.username));
    m_ui->txtPassword->setText(FromText(fields.password));
    optUser_Click(fields.optUser);
}

frmDatabase::~frmDatabase() = default;

void frmDatabase::optUser_Click(int) {
    // disabling keeps the text: OK takes the login from disabled boxes too
    const bool login = telwick::dialogs::DatabaseForm::LoginEnabled(m_ui->optUser_1->isChecked() ? 1 : 0);
    m_ui->txtUsername->setEnabled(login);
    m_ui->txtPassword->setEnabled(login);
}

void frmDatabase::OKButton_Click() {
    telwick::dialogs::DatabaseFields typed;
    typed.server = ToText(m_ui->txtServer->text());
    typed.optUser = m_ui->optUser_0->isChecked() ? 0 : 1;
    typed.username = ToText(m_ui->txtUsername->text());
    typed.password = ToText(m_ui->txtPassword->text());
    if (form_.OKButton_Click(typed)) accept();
}

void frmDatabase::done(int result) {
    form_.Form_Unload();
    QDialog::done(result);
}

void frmDatabase::keyPressEvent(QKeyEvent* event) {
    if (telwick::dialogs::EscapePressesCancel(event, m_ui->CancelButton)) return;
    QDialog::keyPressEvent(event);
}
