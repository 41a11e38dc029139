// telwick.exe: loads the hidden window, which reads the command tail and
// either installs or removes the service, or runs it until it is stopped.
// A program of the Windows subsystem: as a service, or in a user's session
// with its icon, it opens no console window.
// Before <windows.h>, whose macros carry the names of the form's message
// numbers.
#include "service/SystemTrayForm.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "dialogs/dialogs.h"
#include "platform/hardening.h"
#include "platform/consoleline.h"
#include "platform/lifecycle.h"
#include "platform/messagebox.h"
#include "platform/win/messagebox.h"
#include "service/win/ScmService.h"
#include "service/win/traywindow.h"
#include "service/win/windowthread.h"
#include "settings/errors.h"

namespace {

bool Usable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// Started from a console without redirection, a program of the Windows
// subsystem has no standard error: it writes to the console it came from.
// Redirected (a script, a test) it has one already; as a service it has none.
void UseParentConsole() {
    if (Usable(GetStdHandle(STD_ERROR_HANDLE))) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (!Usable(console)) return;
    SetStdHandle(STD_ERROR_HANDLE, console);
    if (!Usable(GetStdHandle(STD_OUTPUT_HANDLE))) SetStdHandle(STD_OUTPUT_HANDLE, console);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The process holds the database login in clear text once it has read it:
    // no crash dialog, no heap in a crash report, and no other process of the
    // user may read its memory.
    telwick::ProtectProcessSecrets();
    UseParentConsole();

    namespace platform = telwick::platform;
    namespace win = telwick::service::win;

    // "-install" and "-uninstall" from a console or a script: the result is
    // one line on standard error, as on Linux. Otherwise the boxes of the
    // desktop (from session 0: a box for the user at the console).
    const std::string& tail = modMain::CommandTail();
    const bool registering = tail == "-install" || tail == "-uninstall";
    platform::win::DesktopMessageBox desktopBoxes;
    if (!(registering && Usable(GetStdHandle(STD_ERROR_HANDLE)))) platform::SetMessageBoxHost(&desktopBoxes);
    telwick::dialogs::InstallDatabaseDialog();

    if (!win::CreateHiddenWindow()) {
        platform::WriteStandardError("Telwick: cannot create the hidden window (error " +
                                     std::to_string(GetLastError()) + ")\n");
        return 1;
    }
    win::ScmService control;
    win::TrayWindow view;
    telwick::service::SystemTrayForm form(view, control);
    view.Attach(form);
    // Records saved in an administrator's session reach the service: it loads
    // the monitors again before its next check.
    control.setReloadHandler([&view] { view.RequestReload(); });

    // The program may be ended from deep inside a check or a dialog (no server,
    // the database given up): release what the window holds, tell the service
    // manager, and go at once, without returning into the code that asked.
    platform::SetEndProgramHandler([&form, &control](int status) {
        form.Form_Unload();
        control.Finish(status);
        std::fflush(nullptr);
        std::_Exit(status);
    });

    int status = form.Form_Load();
    if (status < 0) {
        status = win::RunMessageLoop();
        // Only now, with no check or dialog left on the stack.
        form.Form_Unload();
    }
    control.Finish(status);

    platform::SetEndProgramHandler(nullptr);
    platform::SetMessageBoxHost(nullptr);
    return status;
}
