// The batch program on Windows: a file test, and the program started with
// CreateProcessW, without a window and without waiting for it. A batch file
// runs in cmd.exe (the one of the system folder, not whatever %ComSpec% says)
// with the message written so that cmd.exe's second parse starts nothing else
// (batchline.h); any other program gets the message as its one argument.
// The handles of the started program are closed at once: nothing is left to
// reap on Windows.
#include "platform/process.h"

#include "platform/fault.h"
#include "platform/win/batchline.h"
#include "platform/win/wide.h"

#include <string>
#include <vector>

namespace telwick::platform {

namespace {

std::wstring SystemCmd() {
    wchar_t dir[MAX_PATH];
    const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return L"C:\\Windows\\System32\\cmd.exe";
    return std::wstring(dir, n) + L"\\cmd.exe";
}

int32_t FaultNumberOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return FaultNr::FileNotFound;
    case ERROR_ACCESS_DENIED: return FaultNr::PermissionDenied;
    default: return FaultNr::InvalidCall;
    }
}

std::string Describe(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide = n && text ? std::wstring(text, n) : std::wstring();
    if (text) LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ')) wide.pop_back();
    return wide.empty() ? "error " + std::to_string(error) : win::Narrow(wide);
}

}  // namespace

bool FileExists(const std::string& path) {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesW(win::Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void StartProgram(const std::string& path, const std::string& argument) {
    std::wstring application;
    std::wstring commandLine;
    if (win::IsBatchFile(path)) {
        const std::string tail = win::BatchCommandLine(path, argument);
        if (tail.empty()) throw Fault(FaultNr::InvalidCall, "Cannot start " + path + ": the path cannot be passed to cmd.exe");
        application = SystemCmd();
        commandLine = L"cmd.exe " + win::Widen(tail);
    } else {
        application = win::Widen(path);
        commandLine = win::Widen(win::QuoteProgramArgument(path) + " " + win::QuoteProgramArgument(argument));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    // CreateProcessW may write into the command line: a copy of our own.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    // No handle of ours is inherited (the service's standard error stays its
    // own); no console window either; the program gets the system's usual
    // error dialogs back (ours are off, see hardening).
    if (!CreateProcessW(application.c_str(), buffer.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | CREATE_DEFAULT_ERROR_MODE, nullptr,
                        nullptr, &startup, &info)) {
        const DWORD error = GetLastError();
        throw Fault(FaultNumberOf(error), "Cannot start " + path + ": " + Describe(error));
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
}

void ReapPrograms() {}

}  // namespace telwick::platform
