// A service for the tests of the service control manager's side: the real
// ScmService and window thread with requests that write what they were asked
// into probe.log beside the program. "-install" and "-uninstall" as
// telwick.exe. A file "hang" beside it holds the window's thread in the pause
// request for a minute, as a driver call to a server that does not answer.
// First: it keeps StartService the control's name (see there).
#include "service/win/ScmService.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "service/ServiceControl.h"
#include "service/win/windowthread.h"

namespace win = telwick::service::win;

namespace {

std::wstring Beside(const wchar_t* name) {
    std::wstring path = win::ExecutablePath();
    return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

void Log(const char* what) {
    std::ofstream(Beside(L"probe.log").c_str(), std::ios::app) << what << "\n";
}

class Requests : public telwick::service::ServiceRequests {
public:
    bool OnStart() override {
        Log("start");
        return GetFileAttributesW(Beside(L"fail").c_str()) == INVALID_FILE_ATTRIBUTES;
    }
    void OnStop() override {
        Log("stop");
        win::EndMessageLoop(0);
    }
    bool OnPause() override {
        Log("pause");
        if (GetFileAttributesW(Beside(L"hang").c_str()) != INVALID_FILE_ATTRIBUTES) Sleep(60000);
        return true;
    }
    bool OnContinue() override {
        Log("continue");
        return true;
    }
    std::string StatusText() const override { return "probe"; }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    win::ScmService control;
    const std::wstring tail = argc > 1 ? argv[1] : L"";
    if (tail == L"-install" || tail == L"-uninstall") {
        control.setInteractive(true);
        const bool ok = tail == L"-install" ? control.Install() : control.Uninstall();
        std::fprintf(stderr, "%s\n", ok ? "ok" : "failed");
        return ok ? 0 : 1;
    }
    if (!win::CreateHiddenWindow()) return 2;
    Requests requests;
    control.setControlsAccepted(telwick::service::AcceptPauseContinue);
    control.StartService(&requests);
    const int status = win::RunMessageLoop();
    Log("ended");
    control.Finish(status);
    return status;
}
