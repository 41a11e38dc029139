#include "service/win/windowthread.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/lifecycle.h"

namespace telwick::service::win {

namespace {

// Private messages of the hidden window.
constexpr UINT WM_RUN_POSTED = WM_APP + 1;  // lParam: a std::function<void()>* to run and delete
constexpr UINT WM_END_LOOP = WM_APP + 2;    // wParam: the status

constexpr wchar_t WindowClass[] = L"TelwickHiddenWindow";

// Guards the window handle against a poster on another thread while the loop
// ends: a post either reaches a living window or is refused.
std::mutex windowMutex;
HWND window = nullptr;
std::atomic<DWORD> windowThreadId{0};
MessageHandler handler;

using Posted = std::function<void()>;

LRESULT CALLBACK HiddenWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_RUN_POSTED: {
        std::unique_ptr<Posted> fn(reinterpret_cast<Posted*>(lParam));
        if (fn && *fn) (*fn)();
        return 0;
    }
    case WM_END_LOOP: PostQuitMessage(static_cast<int>(wParam)); return 0;
    default: break;
    }
    if (handler) {
        LRESULT result = 0;
        // A copy: the handler may replace itself.
        const MessageHandler current = handler;
        if (current(message, wParam, lParam, result)) return result;
    }
    // The window is never shown: a stray close (a task manager, a broadcast)
    // must not destroy it; the program ends through EndMessageLoop.
    if (message == WM_CLOSE) return 0;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Drops the functions still waiting in the queue, so that none leaks.
void DropPosted(HWND hwnd) {
    MSG msg;
    while (PeekMessageW(&msg, hwnd, WM_RUN_POSTED, WM_RUN_POSTED, PM_REMOVE))
        delete reinterpret_cast<Posted*>(msg.lParam);
}

void PumpFor(int milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(milliseconds > 0 ? milliseconds : 0);
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // It belongs to the loop that called the wait: keep it, and
                // sleep out the slice rather than spin on it.
                PostQuitMessage(static_cast<int>(msg.wParam));
                const ULONGLONG now = GetTickCount64();
                if (now < deadline) Sleep(static_cast<DWORD>(deadline - now));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return;
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}

}  // namespace

bool CreateHiddenWindow() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = HiddenWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = WindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    // A top-level window, never shown: a message-only window would miss the
    // broadcasts (TaskbarCreated, WM_ENDSESSION).
    const HWND hwnd = CreateWindowExW(WS_EX_TOOLWINDOW, WindowClass, L"Telwick", WS_OVERLAPPED, CW_USEDEFAULT,
                                      CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, nullptr);
    if (!hwnd) return false;
    std::lock_guard lock(windowMutex);
    window = hwnd;
    windowThreadId = GetCurrentThreadId();
    return true;
}

HWND HiddenWindow() {
    std::lock_guard lock(windowMutex);
    return window;
}

bool OnWindowThread() { return windowThreadId.load() == GetCurrentThreadId(); }

bool PostToWindowThread(std::function<void()> fn) {
    auto posted = std::make_unique<Posted>(std::move(fn));
    std::lock_guard lock(windowMutex);
    if (!window) return false;
    if (!PostMessageW(window, WM_RUN_POSTED, 0, reinterpret_cast<LPARAM>(posted.get()))) return false;
    posted.release();  // the window deletes it
    return true;
}

void SetMessageHandler(MessageHandler newHandler) { handler = std::move(newHandler); }

int RunMessageLoop() {
    MSG msg;
    int status = 0;
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            status = static_cast<int>(msg.wParam);
            break;
        }
        if (got == -1) {
            status = 1;
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    HWND hwnd = nullptr;
    {
        std::lock_guard lock(windowMutex);
        hwnd = window;
        window = nullptr;
    }
    if (hwnd) {
        DropPosted(hwnd);
        DestroyWindow(hwnd);
    }
    windowThreadId = 0;
    return status;
}

void EndMessageLoop(int status) {
    if (OnWindowThread()) {
        PostQuitMessage(status);
        return;
    }
    std::lock_guard lock(windowMutex);
    if (window) PostMessageW(window, WM_END_LOOP, static_cast<WPARAM>(status), 0);
}

void InstallMessagePumpWaiter() { telwick::platform::SetEventWaiter(PumpFor); }
void RemoveMessagePumpWaiter() { telwick::platform::SetEventWaiter({}); }

}  // namespace telwick::service::win
