// The Windows view of the hidden window: the check timer (SetTimer on the
// hidden window), the notification icon (Shell_NotifyIconW) and its popup menu
// (TrackPopupMenu), the dialogs, and the lock that lets only one Telwick of
// the machine check at a time. The behaviour is SystemTrayForm's; this only
// draws and routes the window's messages to it.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>

#include "service/SystemTrayForm.h"
#include "service/win/checklock.h"

namespace telwick::service::win {

class TrayWindow : public SystemTrayView {
public:
    // Needs the hidden window (CreateHiddenWindow) on this thread; takes its
    // messages and makes waits serve them.
    TrayWindow();
    ~TrayWindow() override;
    TrayWindow(const TrayWindow&) = delete;
    TrayWindow& operator=(const TrayWindow&) = delete;

    // The form made with this view; builds the popup menu from its items.
    void Attach(SystemTrayForm& form);

    void HideWindow() override;
    void SetTimerInterval(int32_t milliseconds) override;
    void EnableTimer(bool on) override;
    bool TimerEnabled() const override { return timerOn_; }
    void PrepareIcon(const std::string& tip) override;
    bool AddIcon() override;
    bool ModifyIcon() override;
    void DeleteIcon() override;
    void UpdateMenuItem(int index, const MenuItem& item) override;
    void ShowPopupMenu(int defaultIndex) override;
    void HidePopupMenu() override;
    void EndEventLoop(int status) override;
    void RunLater(std::function<void()> task) override;
    void OpenConfigurations() override;
    bool ConfigurationsOpen() const override;
    void OpenDatabaseSettings() override;

    // The monitors are loaded again from the settings before the next check
    // (the service told that records were saved in another session); a
    // check running now, perhaps held in a box, goes on with the old ones.
    void RequestReload() { reloadPending_ = true; }

    HMENU popupMenu() const { return menu_; }
    bool iconShown() const { return iconShown_; }
    const CheckLock& checkLock() const { return lock_; }

    // The message numbers of the hidden window.
    static constexpr UINT_PTR TimerId = 1;
    // The icon's notifications arrive as this message, the mouse message in
    // lParam.
    static constexpr UINT CallbackMessage = WM_MOUSEMOVE;
    static constexpr UINT MenuCommandBase = 1000;

private:
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void Tick();
    void ApplyTimer();

    SystemTrayForm* form_ = nullptr;
    HWND window_ = nullptr;
    HMENU menu_ = nullptr;
    HICON icon_ = nullptr;
    NOTIFYICONDATAW trayIconData_{};
    bool iconPrepared_ = false;
    bool iconShown_ = false;
    bool menuOpen_ = false;
    UINT taskbarCreated_ = 0;
    int32_t interval_ = 0;
    bool timerOn_ = false;
    CheckLock lock_;
    bool held_ = false;     // this process held the lock at the last tick
    bool skipped_ = false;  // a tick was skipped for another holder since
    bool reloadPending_ = false;
    bool ticking_ = false;  // a check runs (a tick inside it is a nested one)
};

}  // namespace telwick::service::win
