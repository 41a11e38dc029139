// The service control manager's side with a real service (scm_probe.exe
// beside this program: the real ScmService and window thread): registering
// it and its event source, start, pause, continue and stop through the service
// control manager (ControlService: Wine's sc has no pause), a stop within the
// wait hint even when the window's thread is held, a failed start, removal.
// First: it keeps StartService the control's name (see there).
#include "service/win/ScmService.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// How long a stop took, recorded; the goal is the wait hint the service manager
// is given, and the bound five times it: room for Wine on a loaded machine, and
// still far below a stop that waits for a held request (a minute).
void ExpectStopWithinBound(std::chrono::steady_clock::time_point asked) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked).count();
    ::testing::Test::RecordProperty("stop_ms", static_cast<int>(ms));
    EXPECT_LT(ms, 5 * static_cast<long long>(telwick::service::win::WaitHintMs));
}

fs::path Folder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path();
}

fs::path Probe() { return Folder() / "scm_probe.exe"; }

// Runs the probe with the argument and waits; its exit status.
DWORD RunProbe(const std::wstring& argument) {
    std::wstring line = L"\"" + Probe().wstring() + L"\" " + argument;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(Probe().c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return 0xFFFFFFFF;
    WaitForSingleObject(info.hProcess, 60000);
    DWORD status = 0xFFFFFFFF;
    GetExitCodeProcess(info.hProcess, &status);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return status;
}

std::string ProbeLog() {
    std::ifstream in(Folder() / "probe.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Service {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceW(manager, L"Telwick", SERVICE_ALL_ACCESS) : nullptr;
    ~Service() {
        if (service) CloseServiceHandle(service);
        if (manager) CloseServiceHandle(manager);
    }
    DWORD State() {
        SERVICE_STATUS status{};
        return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
    }
    // Waits for the state; false when it did not come within the time.
    bool WaitFor(DWORD state, std::chrono::milliseconds patience = 20s) {
        const auto end = std::chrono::steady_clock::now() + patience;
        while (State() != state) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }
    bool Control(DWORD control) {
        SERVICE_STATUS status{};
        return ControlService(service, control, &status) != 0;
    }
};

std::wstring QueryString(HKEY key, const wchar_t* name) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return L"(none)";
    return buffer;
}

class ScmServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        RunProbe(L"-uninstall");  // what an earlier run left
        for (const char* name : {"probe.log", "hang", "fail"}) fs::remove(Folder() / name);
        ASSERT_EQ(RunProbe(L"-install"), 0u);
    }
    void TearDown() override {
        fs::remove(Folder() / "hang");
        EXPECT_EQ(RunProbe(L"-uninstall"), 0u);
        Service gone;
        EXPECT_EQ(gone.service, nullptr) << "the service is still registered";
        HKEY key = nullptr;
        EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, telwick::service::win::EventSourceKey, 0, KEY_READ, &key),
                  ERROR_SUCCESS)
            << "the event source is still registered";
        if (key) RegCloseKey(key);
    }
};

}  // namespace

TEST_F(ScmServiceTest, InstallRegistersTheServiceAndItsEventSource) {
    Service s;
    ASSERT_NE(s.service, nullptr);
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigW(s.service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                    static_cast<DWORD>(buffer.size()), &needed));
    const auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    EXPECT_STREQ(config->lpDisplayName, L"Corvane Monitoring Service");
    EXPECT_EQ(config->dwServiceType, DWORD(SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS));
    EXPECT_EQ(config->dwStartType, DWORD(SERVICE_DEMAND_START));
    EXPECT_EQ(std::wstring(config->lpBinaryPathName),
              telwick::service::win::ServiceCommandLine(Probe().wstring()));

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, telwick::service::win::EventSourceKey, 0, KEY_READ, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, L"EventMessageFile"), Probe().wstring());
    DWORD types = 0, size = sizeof(types);
    RegQueryValueExW(key, L"TypesSupported", nullptr, nullptr, reinterpret_cast<BYTE*>(&types), &size);
    EXPECT_EQ(types, 7u);
    RegCloseKey(key);
    // Event Viewer shows an entry by formatting the message of its number from
    // EventMessageFile with the entry's text: every number the program writes
    // shows the text as written.
    HMODULE messages = LoadLibraryExW(Probe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(messages, nullptr);
    for (DWORD id = 109; id <= 116; ++id) {
        for (const wchar_t* text : {L"Disk C: is 95% full", L"%1 %%2 100%", L"two\r\nlines", L""}) {
            DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>(text)};
            wchar_t shown[256] = {};
            const DWORD n =
                FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, messages, id, 0, shown,
                               256, reinterpret_cast<va_list*>(inserts));
            EXPECT_EQ(std::wstring(shown, n), std::wstring(text)) << "entry " << id;
        }
    }
    FreeLibrary(messages);
    // A second install of the same service fails and says so.
    EXPECT_EQ(RunProbe(L"-install"), 1u);
}

TEST_F(ScmServiceTest, StartPauseContinueAndStopGoThroughTheWindowsThread) {
    Service s;
    ASSERT_TRUE(StartServiceW(s.service, 0, nullptr));
    ASSERT_TRUE(s.WaitFor(SERVICE_RUNNING));
    ASSERT_TRUE(s.Control(SERVICE_CONTROL_PAUSE));
    ASSERT_TRUE(s.WaitFor(SERVICE_PAUSED));
    ASSERT_TRUE(s.Control(SERVICE_CONTROL_CONTINUE));
    ASSERT_TRUE(s.WaitFor(SERVICE_RUNNING));
    const auto asked = std::chrono::steady_clock::now();
    ASSERT_TRUE(s.Control(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(s.WaitFor(SERVICE_STOPPED));
    ExpectStopWithinBound(asked);
    EXPECT_EQ(ProbeLog(), "start\npause\ncontinue\nstop\nended\n");
}

TEST_F(ScmServiceTest, AStopEndsWithinTheWaitHintWhileTheWindowsThreadIsHeld) {
    std::ofstream(Folder() / "hang") << "";
    Service s;
    ASSERT_TRUE(StartServiceW(s.service, 0, nullptr));
    ASSERT_TRUE(s.WaitFor(SERVICE_RUNNING));
    ASSERT_TRUE(s.Control(SERVICE_CONTROL_PAUSE));  // held for a minute in the request
    ASSERT_TRUE(s.WaitFor(SERVICE_PAUSE_PENDING));
    const auto asked = std::chrono::steady_clock::now();
    ASSERT_TRUE(s.Control(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(s.WaitFor(SERVICE_STOPPED));
    ExpectStopWithinBound(asked);
    EXPECT_EQ(ProbeLog(), "start\npause\n");  // ended at once, without the unload
}

TEST_F(ScmServiceTest, AFailedStartIsAStoppedServiceWithItsOwnExitCode) {
    std::ofstream(Folder() / "fail") << "";
    Service s;
    ASSERT_TRUE(StartServiceW(s.service, 0, nullptr));
    ASSERT_TRUE(s.WaitFor(SERVICE_STOPPED));
    SERVICE_STATUS status{};
    QueryServiceStatus(s.service, &status);
    EXPECT_EQ(status.dwWin32ExitCode, DWORD(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(status.dwServiceSpecificExitCode, 1u);
    fs::remove(Folder() / "fail");
}

TEST_F(ScmServiceTest, UninstallStopsARunningServiceFirst) {
    {
        Service s;
        ASSERT_TRUE(StartServiceW(s.service, 0, nullptr));
        ASSERT_TRUE(s.WaitFor(SERVICE_RUNNING));
    }
    EXPECT_EQ(RunProbe(L"-uninstall"), 0u);
    EXPECT_EQ(ProbeLog(), "start\nstop\nended\n");
    EXPECT_EQ(RunProbe(L"-install"), 0u);  // for TearDown
}
