#include "dialogs/DatabaseForm.h"

#include "database/modDatabase.h"
#include "monitor/modMain.h"
#include "platform/messagebox.h"
#include "settings/crypt.h"
#include "settings/registry.h"

namespace telwick::dialogs {

DatabaseForm::~DatabaseForm() {
    if (loaded_ && !unloaded_) Form_Unload();
}

DatabaseFields DatabaseForm::Form_Load() {
    loaded_ = true;
    checksBefore_ = modMain::ChecksAllowed;
    modMain::ChecksAllowed = false;
    DatabaseFields fields;
    fields.server = modDatabase::DBServer;
    if (modDatabase::DBTrustedConnection) {
        fields.optUser = 0;  // the login boxes stay empty
    } else {
        fields.optUser = 1;
        fields.username = modDatabase::DBUsername;
        fields.password = modDatabase::DBPassword;
    }
    return fields;
}

bool DatabaseForm::OKButton_Click(const DatabaseFields& typed) {
    // Protect the login before anything is stored: when the cipher fails,
    // half a set of settings (a new server with the old login) is worse than
    // none, so nothing is written and the dialog stays open.
    const std::string storedUsername = modCrypt::ProtectValue("USR", typed.username);
    const std::string storedPassword = modCrypt::ProtectValue("PWD", typed.password);
    if (storedUsername.empty() || storedPassword.empty()) {
        platform::ShowMessage(
            "The login could not be protected, so nothing was stored. "
            "Check the installation and try again.",
            DatabaseCaption);
        return false;
    }

    // The login is taken whatever the choice, from disabled boxes too.
    modDatabase::DBServer = typed.server;
    modDatabase::DBTrustedConnection = typed.optUser == 0;
    modDatabase::DBUsername = typed.username;
    modDatabase::DBPassword = typed.password;

    modRegistry::CreateProgramKey();
    modRegistry::SetSetting("Server", modDatabase::DBServer);
    modRegistry::SetSetting("Trusted_Connection", modDatabase::DBTrustedConnection ? "Yes" : "No");
    modRegistry::SetSetting("Username", storedUsername);
    modRegistry::SetSetting("Password", storedPassword);
    return true;
}

void DatabaseForm::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    // Checks are allowed again, unless this dialog was opened on top of another
    // settings dialog (CheckDB from the configuration list, the tray menu while
    // the list is open): that one still holds them off until it closes.
    modMain::ChecksAllowed = checksBefore_;
}

}  // namespace telwick::dialogs
