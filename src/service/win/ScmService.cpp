#include "service/win/ScmService.h"

#include "platform/consoleline.h"
#include "platform/lifecycle.h"
#include "platform/syslog.h"
#include "service/win/windowthread.h"

#include <sddl.h>

#include <string>
#include <vector>

namespace telwick::service::win {

namespace {

constexpr wchar_t ServiceNameW[] = L"Telwick";
constexpr wchar_t DisplayNameW[] = L"Corvane Monitoring Service";
constexpr wchar_t DescriptionW[] =
    L"Watches the Corvane event database and reports new events: message boxes, application log entries, "
    L"batch programs.";
// Information, warning and error entries.
constexpr DWORD TypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

// The one service of the process, for the service manager's callbacks that
// carry no context (ServiceMain, the console's handler).
std::atomic<ScmService*> instance{nullptr};

class ScHandle {
public:
    explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ScHandle() {
        if (handle_) CloseServiceHandle(handle_);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    SC_HANDLE handle_;
};

// The service's access list: the default one, except that the interactive
// and service logons may no longer send the user-defined controls (they may
// still query it). What a user-defined control does (a reload) is then for
// the same callers as stop, pause and continue: SYSTEM and the administrators.
bool LimitUserDefinedControls(SC_HANDLE service) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;CCLCSWLORC;;;IU)"
            L"(A;;CCLCSWLORC;;;SU)",
            SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    const bool set = SetServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, descriptor) != 0;
    LocalFree(descriptor);
    return set;
}

bool RegisterEventSource(const std::wstring& executable) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, EventSourceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const DWORD types = TypesSupported;
    const bool ok =
        RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(executable.c_str()),
                       static_cast<DWORD>((executable.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
        RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), sizeof(types)) ==
            ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

bool RemoveEventSource() {
    const LSTATUS r = RegDeleteKeyW(HKEY_LOCAL_MACHINE, EventSourceKey);
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

// Waits until the service has stopped, at most about the given time.
bool WaitStopped(SC_HANDLE service, DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    SERVICE_STATUS status{};
    while (QueryServiceStatus(service, &status)) {
        if (status.dwCurrentState == SERVICE_STOPPED) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(50);
    }
    return false;
}

}  // namespace

std::wstring ExecutablePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring ServiceCommandLine(const std::wstring& executable) {
    if (executable.find_first_of(L" \t") == std::wstring::npos) return executable;
    return L"\"" + executable + L"\"";
}

ScmService::ScmService() : finished_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) { instance = this; }

ScmService::~ScmService() {
    if (dispatcher_.joinable()) {
        // The dispatcher returns once the service manager heard "stopped".
        Finish(0);
        dispatcher_.join();
    }
    SetConsoleCtrlHandler(ConsoleHandler, FALSE);
    ScmService* self = this;
    instance.compare_exchange_strong(self, nullptr);
    if (finished_) CloseHandle(finished_);
}

// --- registering ------------------------------------------------------------------

bool ScmService::Install() {
    const std::wstring exe = ExecutablePath();
    if (exe.empty()) return false;
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager) return false;
    // LocalSystem, started on demand: the program sets neither account nor
    // start type of its own (the installer makes it automatic).
    DWORD type = SERVICE_WIN32_OWN_PROCESS;
    if (interactive_) type |= SERVICE_INTERACTIVE_PROCESS;
    ScHandle service(CreateServiceW(manager.get(), ServiceNameW, DisplayNameW, SERVICE_ALL_ACCESS, type,
                                    SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, ServiceCommandLine(exe).c_str(),
                                    nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) return false;
    SERVICE_DESCRIPTIONW description{const_cast<LPWSTR>(DescriptionW)};
    ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description);
    if (!LimitUserDefinedControls(service.get()) || !RegisterEventSource(exe)) {
        // All or nothing: a service whose entries Event Viewer cannot read,
        // or that anyone logged on could make reload, is not installed.
        DeleteService(service.get());
        return false;
    }
    return true;
}

bool ScmService::Uninstall() {
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return false;
    ScHandle service(OpenServiceW(manager.get(), ServiceNameW, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) return false;  // not installed, or not ours to remove
    // A running service is stopped first, so that it is gone, not only marked
    // for deletion.
    SERVICE_STATUS status{};
    if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED) {
        ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        WaitStopped(service.get(), WaitHintMs + 2000);
    }
    const bool removed = DeleteService(service.get()) != 0;
    const bool sourceRemoved = RemoveEventSource();
    return removed && sourceRemoved;
}

// --- dispatching ------------------------------------------------------------------

void ScmService::StartService(ServiceRequests* requests) {
    requests_ = requests;
    if (debug_) {
        // An ordinary process: the start comes at once, Ctrl+C stops.
        SetConsoleCtrlHandler(ConsoleHandler, TRUE);
        PostToWindowThread([this] { RaiseStart(); });
        return;
    }
    dispatcher_ = std::thread([this] { Dispatch(); });
}

void ScmService::Dispatch() {
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(ServiceNameW), &ScmService::ServiceMain}, {nullptr, nullptr}};
    if (StartServiceCtrlDispatcherW(table)) return;
    const DWORD error = GetLastError();
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
        // Not started by the service manager (a user's session, a console):
        // the program runs as an ordinary process, as without systemd.
        SetConsoleCtrlHandler(ConsoleHandler, TRUE);
        PostToWindowThread([this] { RaiseStart(); });
        return;
    }
    platform::WriteStandardError("Telwick: cannot connect to the service control manager (error " +
                                 std::to_string(error) + ")\n");
}

void WINAPI ScmService::ServiceMain(DWORD, LPWSTR*) {
    if (ScmService* self = instance.load()) self->RunServiceMain();
}

void ScmService::RunServiceMain() {
    {
        std::lock_guard lock(statusMutex_);
        handle_ = RegisterServiceCtrlHandlerExW(ServiceNameW, &ScmService::Handler, this);
        if (!handle_) return;
        status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    }
    Report(SERVICE_START_PENDING);
    // Installed by other means (an installer) the service may have the
    // default access list: the service (its owner) narrows it itself.
    {
        ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        ScHandle service(manager ? OpenServiceW(manager.get(), ServiceNameW, READ_CONTROL | WRITE_DAC) : nullptr);
        if (service) LimitUserDefinedControls(service.get());
    }
    if (!PostToWindowThread([this] { RaiseStart(); })) {
        Report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, 1);
        return;
    }
    // The thread of ServiceMain stays until the service has stopped.
    WaitForSingleObject(finished_, INFINITE);
}

DWORD WINAPI ScmService::Handler(DWORD control, DWORD, LPVOID, LPVOID context) {
    return static_cast<ScmService*>(context)->HandleControl(control);
}

BOOL WINAPI ScmService::ConsoleHandler(DWORD event) {
    ScmService* self = instance.load();
    if (!self) return FALSE;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: self->HandleControl(SERVICE_CONTROL_STOP); return TRUE;
    default: return FALSE;
    }
}

// On the dispatcher's thread (or the console's): marks the request at once
// (a check ends before its next row, waits give up) and hands it to the
// window's thread.
DWORD ScmService::HandleControl(DWORD control) {
    switch (control) {
    case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        platform::SetStopRequested(true);
        Report(SERVICE_STOP_PENDING);
        ArmStopGuard();
        PostToWindowThread([this] { RaiseStop(); });
        return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
        if (!(controls_ & AcceptPauseContinue)) return ERROR_CALL_NOT_IMPLEMENTED;
        platform::SetPauseRequested(true);
        Report(SERVICE_PAUSE_PENDING);
        PostToWindowThread([this] {
            if (!requests_ || platform::StopRequested()) return;
            Report(requests_->OnPause() ? SERVICE_PAUSED : SERVICE_RUNNING);
        });
        return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
        if (!(controls_ & AcceptPauseContinue)) return ERROR_CALL_NOT_IMPLEMENTED;
        platform::SetPauseRequested(false);
        Report(SERVICE_CONTINUE_PENDING);
        PostToWindowThread([this] {
            if (!requests_ || platform::StopRequested()) return;
            Report(requests_->OnContinue() ? SERVICE_RUNNING : SERVICE_PAUSED);
        });
        return NO_ERROR;
    case ReloadControl:
        // The service manager let it through only for callers allowed to
        // control the service.
        if (!reload_ || platform::StopRequested()) return ERROR_CALL_NOT_IMPLEMENTED;
        PostToWindowThread([this] {
            if (!platform::StopRequested()) reload_();
        });
        return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void ScmService::Report(DWORD state, DWORD exitCode, DWORD specific) {
    std::lock_guard lock(statusMutex_);
    if (!handle_) return;
    // Once stopping, only "stopped" may follow.
    if (status_.dwCurrentState == SERVICE_STOPPED) return;
    if (status_.dwCurrentState == SERVICE_STOP_PENDING && state != SERVICE_STOPPED && state != SERVICE_STOP_PENDING)
        return;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
                         state == SERVICE_PAUSE_PENDING || state == SERVICE_CONTINUE_PENDING;
    status_.dwCurrentState = state;
    status_.dwWin32ExitCode = exitCode;
    status_.dwServiceSpecificExitCode = specific;
    status_.dwCheckPoint = pending ? status_.dwCheckPoint + 1 : 0;
    status_.dwWaitHint = pending ? WaitHintMs : 0;
    // A stop is taken in every state but starting and stopping: a pause or
    // continue held up on the window's thread does not hold the stop up.
    status_.dwControlsAccepted = 0;
    if (state != SERVICE_START_PENDING && state != SERVICE_STOP_PENDING && state != SERVICE_STOPPED)
        status_.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    if ((state == SERVICE_RUNNING || state == SERVICE_PAUSED) && (controls_ & AcceptPauseContinue))
        status_.dwControlsAccepted |= SERVICE_ACCEPT_PAUSE_CONTINUE;
    SetServiceStatus(handle_, &status_);
}

// --- the requests on the window's thread -------------------------------------------

void ScmService::RaiseStart() {
    if (!requests_) return;
    if (requests_->OnStart()) {
        Report(SERVICE_RUNNING);
        return;
    }
    if (platform::StopRequested()) return;  // a stop overtook the start
    // The service manager sees a failed start: the loop ends with status 1
    // and Finish reports it (the reason went to the event log as entry 109).
    startFailed_ = true;
    EndMessageLoop(1);
}

void ScmService::RaiseStop() {
    if (requests_) requests_->OnStop();
}

void ScmService::StopService() {
    // "Exit" from the menu: the same way as the service manager's stop.
    HandleControl(SERVICE_CONTROL_STOP);
}

bool ScmService::LogEvent(int16_t type, int32_t number, const std::string& text) {
    return platform::WriteEventLog(type, number, text);
}

void ScmService::ArmStopGuard() {
    if (stopGuardArmed_.exchange(true)) return;
    HANDLE finished = finished_;
    std::thread([this, finished] {
        if (WaitForSingleObject(finished, StopGraceMs) != WAIT_TIMEOUT) return;
        platform::WriteStandardError(
            "Telwick: a stop came while a call did not return (a database server that does not answer?); "
            "ended at once, without the usual unload\n");
        Report(SERVICE_STOPPED);
        TerminateProcess(GetCurrentProcess(), 0);
    }).detach();
}

void ScmService::Finish(int status) {
    if (status != 0 || startFailed_)
        Report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, static_cast<DWORD>(status != 0 ? status : 1));
    else
        Report(SERVICE_STOPPED);
    if (finished_) SetEvent(finished_);
}

bool AskServiceToReload() {
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle service(manager ? OpenServiceW(manager.get(), ServiceNameW, SERVICE_USER_DEFINED_CONTROL) : nullptr);
    SERVICE_STATUS status{};
    return service && ControlService(service.get(), ReloadControl, &status);
}

}  // namespace telwick::service::win
