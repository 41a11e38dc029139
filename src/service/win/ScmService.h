// The service control on Windows: the service control manager. "-install"
// registers the service "Telwick" (display name "Corvane Monitoring Service",
// its own process, LocalSystem, started on demand) and the event source of
// the application log; "-uninstall" stops and removes both, and leaves the
// settings. Dispatching runs StartServiceCtrlDispatcherW on a thread of its
// own; each request of the service manager is handed to the window's thread
// and answered from there, so the window's thread never waits for the
// service manager and the service manager never waits for a check.
#pragma once

// Include this header before <windows.h> and before ServiceControl.h:
// <windows.h> names StartServiceW StartService, and the control's operation
// ServiceControl::StartService must keep its name in both.
#include <windows.h>
#ifdef StartService
#undef StartService
#endif

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "service/ServiceControl.h"

namespace telwick::service::win {

// What the service manager is told to wait for at most for each pending
// state (start, stop, pause, continue), in milliseconds.
constexpr DWORD WaitHintMs = 3000;
// After a stop request the window's thread has this long to end its loop; if
// it is held in a call that no flag reaches (a driver waiting on a server that
// does not answer), the process reports itself stopped and ends here, inside
// the wait hint.
constexpr DWORD StopGraceMs = 2000;

// The service's own control: reload the monitors from the settings (the
// records saved in an administrator's session). Only callers allowed to
// control the service may send it: its access list gives the user-defined
// controls to SYSTEM and the administrators only.
constexpr DWORD ReloadControl = 128;

// Asks the installed service to reload its monitors (OpenServiceW with
// SERVICE_USER_DEFINED_CONTROL, ControlService). False when it is not
// installed, not running, or refuses; nothing else happens then.
bool AskServiceToReload();

// Where the event source is registered.
inline const wchar_t* const EventSourceKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Telwick";

// The program's own path, in quotes when it holds a blank (the service
// manager would otherwise try C:\Program.exe first).
std::wstring ServiceCommandLine(const std::wstring& executable);
std::wstring ExecutablePath();

class ScmService : public ServiceControl {
public:
    ScmService();
    ~ScmService() override;
    ScmService(const ScmService&) = delete;
    ScmService& operator=(const ScmService&) = delete;

    std::string displayName() const override { return DisplayName; }
    void setInteractive(bool interactive) override { interactive_ = interactive; }
    void setDebug(bool debug) override { debug_ = debug; }
    void setControlsAccepted(int32_t controls) override { controls_ = controls; }

    bool Install() override;
    bool Uninstall() override;

    void StartService(ServiceRequests* requests) override;
    void StopService() override;

    bool LogEvent(int16_t type, int32_t number, const std::string& text) override;

    // Called by main once the window's loop has returned and the window is
    // unloaded: the service manager hears "stopped" (with the failure status
    // when the start failed) and the dispatcher's thread ends.
    void Finish(int status);
    // What a reload control does; it runs as an event of the window's thread.
    // Without one the control is refused.
    void setReloadHandler(std::function<void()> reload) { reload_ = std::move(reload); }

    bool debug() const { return debug_; }
    // True once the service manager dispatched us (not run from a console).
    bool underServiceManager() const { return handle_ != nullptr; }

private:
    static void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
    static DWORD WINAPI Handler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
    static BOOL WINAPI ConsoleHandler(DWORD event);
    void Dispatch();
    void RunServiceMain();
    DWORD HandleControl(DWORD control);
    void Report(DWORD state, DWORD exitCode = NO_ERROR, DWORD specific = 0);
    void RaiseStart();
    void RaiseStop();
    void ArmStopGuard();

    ServiceRequests* requests_ = nullptr;
    bool interactive_ = false;
    bool debug_ = false;
    int32_t controls_ = 0;
    std::function<void()> reload_;

    std::thread dispatcher_;
    std::mutex statusMutex_;
    SERVICE_STATUS_HANDLE handle_ = nullptr;
    SERVICE_STATUS status_{};
    HANDLE finished_ = nullptr;   // set by Finish: ServiceMain returns
    std::atomic<bool> startFailed_{false};
    std::atomic<bool> stopGuardArmed_{false};
};

}  // namespace telwick::service::win
