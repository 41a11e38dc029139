// Before <windows.h> (which traywindow.h brings): it keeps the control's
// StartService its name.
#include "service/win/ScmService.h"

#include "service/win/traywindow.h"

#include <string_view>

#include "dialogs/dialogs.h"
#include "dialogs/win/resource.h"
#include "dialogs/win/windialogs.h"
#include "monitor/modMain.h"
#include "platform/win/messagebox.h"
#include "platform/win/wide.h"
#include "service/win/windowthread.h"

namespace telwick::service::win {

namespace {

using platform::win::Widen;

// The program's icon in the size of the notification area at the window's dpi.
HICON LoadTrayIcon(HWND window) {
    const UINT dpi = window ? GetDpiForWindow(window) : 96;
    const int cx = GetSystemMetricsForDpi(SM_CXSMICON, dpi), cy = GetSystemMetricsForDpi(SM_CYSMICON, dpi);
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TELWICK), IMAGE_ICON,
                                         cx > 0 ? cx : 16, cy > 0 ? cy : 16, LR_DEFAULTCOLOR));
}

}  // namespace

TrayWindow::TrayWindow() : window_(HiddenWindow()) {
    taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
    if (window_) {
        // A program run as administrator still hears a restarted Explorer and
        // the clicks on its icon.
        ChangeWindowMessageFilterEx(window_, taskbarCreated_, MSGFLT_ALLOW, nullptr);
        ChangeWindowMessageFilterEx(window_, CallbackMessage, MSGFLT_ALLOW, nullptr);
    }
    SetMessageHandler([this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
        return HandleMessage(message, wParam, lParam, result);
    });
    // Waits inside the data layer (the reconnect back-off) keep the window's
    // messages flowing: a stop or the tray menu is not held up.
    InstallMessagePumpWaiter();
}

TrayWindow::~TrayWindow() {
    RemoveMessagePumpWaiter();
    SetMessageHandler({});
    if (window_) KillTimer(window_, TimerId);
    DeleteIcon();
    if (menu_) DestroyMenu(menu_);
    if (icon_) DestroyIcon(icon_);
    lock_.Release();
}

void TrayWindow::Attach(SystemTrayForm& form) {
    form_ = &form;
    if (menu_) DestroyMenu(menu_);
    menu_ = CreatePopupMenu();
    for (int i = 0; i < MenuItemCount; ++i) {
        const MenuItem& item = form.mnuMain(i);
        const UINT id = MenuCommandBase + static_cast<UINT>(i);
        if (item.separator)
            AppendMenuW(menu_, MF_SEPARATOR, id, nullptr);
        else
            AppendMenuW(menu_, MF_STRING, id, Widen(item.caption).c_str());
        UpdateMenuItem(i, item);
    }
}

bool TrayWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    result = 0;
    if (message == WM_TIMER && wParam == TimerId) {
        Tick();
        return true;
    }
    if (message == CallbackMessage) {
        // The mouse message that happened on the icon.
        if (form_) form_->TrayMessage(static_cast<int>(LOWORD(lParam)));
        return true;
    }
    if (taskbarCreated_ && message == taskbarCreated_) {
        // Explorer was restarted and its notification area is new: the icon
        // comes back at once rather than with the next tick.
        if (iconShown_) Shell_NotifyIconW(NIM_ADD, &trayIconData_);
        return true;
    }
    switch (message) {
    case WM_QUERYENDSESSION: result = TRUE; return true;
    case WM_ENDSESSION:
        if (wParam) DeleteIcon();
        return true;
    default: return false;
    }
}

void TrayWindow::Tick() {
    if (!form_) return;
    if (!lock_.Hold()) {
        // Another Telwick of this machine checks (the service, or the program
        // of another session): this one skips its checks and asks again at
        // the next tick; its timer goes on as it was.
        held_ = false;
        skipped_ = true;
        return;
    }
    if ((skipped_ || reloadPending_) && !ticking_) {
        // Taken over from the other one, which acted on the events up to now:
        // the monitors start again from the newest event, so that none is
        // acted on twice. The same load after a reload request: the records
        // saved elsewhere, loaded as the list's OK loads them there. Never
        // under a check that is still walking the monitors.
        skipped_ = false;
        reloadPending_ = false;
        try {
            modMain::LoadMonitorings();
        } catch (...) {
            // a failed load is tried again before the next checks
        }
    }
    held_ = true;
    const bool outer = !ticking_;
    ticking_ = true;
    struct Reset {
        bool& flag;
        bool outer;
        ~Reset() {
            if (outer) flag = false;
        }
    } reset{ticking_, outer};
    form_->tmrTimer_Timer();
}

void TrayWindow::ApplyTimer() {
    if (!window_) return;
    // An interval of 0 stops the timer, as an enabled timer with no interval
    // never fires.
    if (timerOn_ && interval_ > 0)
        SetTimer(window_, TimerId, static_cast<UINT>(interval_), nullptr);
    else
        KillTimer(window_, TimerId);
}

void TrayWindow::HideWindow() {
    if (window_) ShowWindow(window_, SW_HIDE);
}

void TrayWindow::SetTimerInterval(int32_t milliseconds) {
    interval_ = milliseconds < 0 ? 0 : milliseconds;
    ApplyTimer();
}

void TrayWindow::EnableTimer(bool on) {
    timerOn_ = on;
    ApplyTimer();
}

void TrayWindow::PrepareIcon(const std::string& tip) {
    // Without a desktop (a service in session 0) there is no notification area.
    if (!window_ || !platform::win::HasVisibleDesktop()) return;
    if (!icon_) icon_ = LoadTrayIcon(window_);
    trayIconData_ = {};
    trayIconData_.cbSize = sizeof(trayIconData_);
    trayIconData_.hWnd = window_;
    trayIconData_.uID = 1;
    trayIconData_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayIconData_.uCallbackMessage = CallbackMessage;
    trayIconData_.hIcon = icon_;
    const std::wstring wide = Widen(tip);
    wcsncpy(trayIconData_.szTip, wide.c_str(), ARRAYSIZE(trayIconData_.szTip) - 1);
    iconPrepared_ = true;
}

bool TrayWindow::AddIcon() {
    if (!iconPrepared_) return false;
    iconShown_ = true;  // also when refused: a new notification area gets it
    return Shell_NotifyIconW(NIM_ADD, &trayIconData_) != FALSE;
}

bool TrayWindow::ModifyIcon() {
    if (!iconPrepared_) return true;
    return Shell_NotifyIconW(NIM_MODIFY, &trayIconData_) != FALSE;
}

void TrayWindow::DeleteIcon() {
    if (!iconPrepared_ || !iconShown_) return;
    Shell_NotifyIconW(NIM_DELETE, &trayIconData_);
    iconShown_ = false;
}

void TrayWindow::UpdateMenuItem(int index, const MenuItem& item) {
    if (!menu_) return;
    const UINT position = static_cast<UINT>(index);
    if (item.separator) return;
    CheckMenuItem(menu_, position, MF_BYPOSITION | (item.checked ? MF_CHECKED : MF_UNCHECKED));
    EnableMenuItem(menu_, position, MF_BYPOSITION | (item.enabled ? MF_ENABLED : MF_GRAYED));
    if (item.isDefault) SetMenuDefaultItem(menu_, position, TRUE);
}

void TrayWindow::ShowPopupMenu(int defaultIndex) {
    if (!menu_ || !window_ || menuOpen_) return;
    SetMenuDefaultItem(menu_, static_cast<UINT>(defaultIndex), TRUE);
    POINT at{};
    GetCursorPos(&at);
    // The menu closes when the user clicks elsewhere only if its window is in
    // the foreground.
    SetForegroundWindow(window_);
    menuOpen_ = true;
    const UINT align = GetSystemMetrics(SM_MENUDROPALIGNMENT) ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
    const int chosen = static_cast<int>(
        TrackPopupMenuEx(menu_, align | TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at.x, at.y, window_, nullptr));
    menuOpen_ = false;
    // The known way to let the next click on the icon open the menu again.
    PostMessageW(window_, WM_NULL, 0, 0);
    const int index = chosen - static_cast<int>(MenuCommandBase);
    if (chosen == 0 || index < 0 || index >= MenuItemCount) return;
    // Handled as an event of its own, once the icon's message has returned.
    RunLater([this, index] {
        if (form_) form_->mnuMain_Click(index);
    });
}

void TrayWindow::HidePopupMenu() {
    if (menuOpen_) EndMenu();
}

void TrayWindow::EndEventLoop(int status) { EndMessageLoop(status); }

void TrayWindow::RunLater(std::function<void()> task) { PostToWindowThread(std::move(task)); }

void TrayWindow::OpenConfigurations() {
    // Saved with OK: this program's monitors are loaded again already; when
    // another Telwick checks (the service), it is told to load them too. If
    // it is not there or refuses, nothing else happens.
    if (telwick::dialogs::win::OpenConfigurationList() && !lock_.held()) AskServiceToReload();
}

bool TrayWindow::ConfigurationsOpen() const { return telwick::dialogs::ConfigurationsOpen(); }

void TrayWindow::OpenDatabaseSettings() { telwick::dialogs::OpenDatabaseSettings(); }

}  // namespace telwick::service::win
