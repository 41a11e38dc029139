// The program: loads the hidden window, which reads the command tail and
// either installs or removes the service, or runs it until it is stopped.
#include <QApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dialogs/dialogs.h"
#include "platform/hardening.h"
#include "platform/lifecycle.h"
#include "platform/messagebox.h"
#include "platform/qt/QtMessageBox.h"
#include "service/posix/SystemdService.h"
#include "service/qt/frmSystemTray.h"
#include "service/posix/stderrlines.h"
#include "settings/errors.h"

int main(int argc, char** argv) {
    // The process holds the database login in clear text once it has read it:
    // no core dump of it, and no other process of the user may read its memory.
    telwick::ProtectProcessSecrets();
    // A closed standard error (its reader gone) must not end the service: a
    // write that fails is dropped. Started programs get the default back.
    std::signal(SIGPIPE, SIG_IGN);
    telwick::service::EnableStopGuard();

    std::string tail;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) tail += ' ';
        tail += argv[i];
    }
    modMain::SetCommandTail(tail);

    // Standard error carries our own lines: Qt's messages come through one
    // handler, and Qt gets the private runtime folder it asks for.
    telwick::service::InstallQtMessageHandler(modMain::DebugMode());
    telwick::service::PrepareRuntimeDirectory();

    // Without a desktop Qt would give up looking for one: run on the offscreen
    // platform, where every message box becomes a line on standard error.
    const bool display = telwick::platform::HasDisplay();
    if (!display) setenv("QT_QPA_PLATFORM", "offscreen", 1);

    QApplication app(argc, argv);
    QApplication::setApplicationName("Telwick");
    QApplication::setQuitOnLastWindowClosed(false);

    telwick::platform::qt::QtMessageBox boxes;
    if (display) telwick::platform::SetMessageBoxHost(&boxes);
    telwick::dialogs::InstallDatabaseDialog();

    frmSystemTray window;
    // Every window of the program, message boxes included, carries its icon.
    QApplication::setWindowIcon(window.windowIcon());
    // The program may be ended from deep inside a check or a dialog (no server,
    // the database given up): release what the window holds and go at once,
    // without returning into the code that asked.
    telwick::platform::SetEndProgramHandler([&window](int status) {
        window.Form_Unload();
        std::fflush(nullptr);
        std::_Exit(status);
    });

    int status = window.Form_Load();
    if (status < 0) {
        status = QApplication::exec();
        // Only now, with no check or dialog left on the stack.
        window.Form_Unload();
    }

    telwick::platform::SetEndProgramHandler(nullptr);
    telwick::platform::SetMessageBoxHost(nullptr);
    return status;
}
