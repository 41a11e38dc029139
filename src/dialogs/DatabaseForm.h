// The database connection dialog as behaviour, the same on every system: what
// the fields show when it opens, which boxes the option buttons enable, what
// OK stores and what Cancel leaves. A view draws the controls, hands the typed
// texts to OKButton_Click and closes when it answers true.
#pragma once

#include <string>

namespace telwick::dialogs {

inline constexpr const char* DatabaseCaption = "Database connection";

// The texts and choices of the dialog's controls.
struct DatabaseFields {
    std::string server;    // txtServer
    int optUser = 0;       // 0: Windows authentication, 1: a login of the server
    std::string username;  // txtUsername
    std::string password;  // txtPassword (shown masked)
};

class DatabaseForm {
public:
    DatabaseForm() = default;
    // Unloads when the view did not (a dialog destroyed while open).
    ~DatabaseForm();
    DatabaseForm(const DatabaseForm&) = delete;
    DatabaseForm& operator=(const DatabaseForm&) = delete;

    // Checks off; the fields from the settings cache: the server, and the
    // login only when a login (not Windows authentication) is chosen.
    DatabaseFields Form_Load();
    // optUser_Click: the login boxes are enabled exactly for a login; disabling
    // keeps their texts.
    static bool LoginEnabled(int optUser) { return optUser == 1; }
    // Stores the fields as typed (no check of them) in the cache and the
    // settings, the login protected. True: close the dialog. False when the
    // login could not be protected: nothing was stored, a message box said so,
    // and the dialog stays open.
    bool OKButton_Click(const DatabaseFields& typed);
    // Nothing is stored.
    void CancelButton_Click() {}
    // Checks allowed again (unless another settings dialog beneath still holds
    // them off). Runs once, whatever closed the dialog.
    void Form_Unload();

private:
    bool loaded_ = false;
    bool unloaded_ = false;
    bool checksBefore_ = true;  // ChecksAllowed when the dialog loaded
};

}  // namespace telwick::dialogs
