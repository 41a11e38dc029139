// The hidden window of the service as behaviour, the same on every system: the
// command tail, the service requests with the start sequence, the check
// timer's tick, the notification icon's messages and the popup menu with the
// states of its items, the status line. What only a window system does (the
// timer itself, the icon, drawing the menu, the event loop, the dialogs) it
// asks of a SystemTrayView; the service manager it reaches through the
// ServiceControl it is given.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

#include "service/ServiceControl.h"

namespace telwick::service {

// The items of the popup menu mnuMain, by index.
enum MenuIndex {
    mnuNotifySettings = 0,
    mnuDatabaseSettings = 1,
    mnuSeparator1 = 2,
    mnuEnabled = 3,
    mnuSeparator2 = 4,
    mnuExit = 5,
    MenuItemCount = 6
};

// The icon's notifications, numbered as the mouse messages they stand for
// (named apart from the window system's own macros).
enum TrayMessageNr {
    MouseMove = 512,
    LButtonDown = 513,
    LButtonUp = 514,
    LButtonDblClk = 515,
    RButtonDown = 516,
    RButtonUp = 517,
    RButtonDblClk = 518,
    MButtonDown = 519,
};

inline constexpr const char* TrayTip = "Corvane Monitoring";
inline constexpr const char* WindowTitle = "Telwick";
constexpr int32_t DefaultCheckinterval = 60000;
// What the timer refuses: a negative interval.
constexpr int32_t InvalidPropertyValue = 380;

// One item of the popup menu as it is to be drawn.
struct MenuItem {
    std::string caption;  // empty for a separator
    bool separator = false;
    bool checkable = false;
    bool checked = false;
    bool enabled = true;
    bool isDefault = false;  // shown bold; the item of a double click
};

// What only the window system does. Every call comes on the window's thread.
class SystemTrayView {
public:
    virtual ~SystemTrayView() = default;

    // The window is never shown; loading hides it.
    virtual void HideWindow() {}

    // The check timer: an interval of 0 to 65535 milliseconds, then on and off.
    // A repeating timer whose tick calls SystemTrayForm::tmrTimer_Timer.
    virtual void SetTimerInterval(int32_t milliseconds) = 0;
    virtual void EnableTimer(bool on) = 0;
    virtual bool TimerEnabled() const = 0;

    // The notification icon. PrepareIcon fills the icon's record at loading
    // (the window, the program's icon, the tip, the callback); the icon is
    // not shown yet. AddIcon shows it; ModifyIcon hands the record again and
    // answers false when the notification area refused it (the icon is gone,
    // the area was re-created); DeleteIcon removes it. Results of AddIcon are
    // not looked at. Without a desktop all of these do nothing.
    virtual void PrepareIcon(const std::string& tip) = 0;
    virtual bool AddIcon() = 0;
    virtual bool ModifyIcon() = 0;
    virtual void DeleteIcon() = 0;

    // The popup menu: an item's state changed (the view built the menu from
    // SystemTrayForm::mnuMain at the start).
    virtual void UpdateMenuItem(int index, const MenuItem& item) = 0;
    // Brings the window to the foreground and shows the menu at the mouse with
    // the given default item; a chosen item comes back as mnuMain_Click.
    virtual void ShowPopupMenu(int defaultIndex) = 0;
    virtual void HidePopupMenu() = 0;

    // Ends the window's event loop with the status; the program then unloads
    // the window (Form_Unload) and ends.
    virtual void EndEventLoop(int status) = 0;
    // Runs the task as a later event of the window's thread.
    virtual void RunLater(std::function<void()> task) = 0;

    // The administrator's dialogs, modal and without an owner window.
    virtual void OpenConfigurations() = 0;
    virtual bool ConfigurationsOpen() const = 0;
    virtual void OpenDatabaseSettings() = 0;

    // Told after every tick, once the timer is set again (tests wait on it).
    virtual void Ticked() {}
};

class SystemTrayForm : public ServiceRequests {
public:
    // Installs the check guard and the outage observer of the floors below;
    // the destructor removes them.
    SystemTrayForm(SystemTrayView& view, ServiceControl& control);
    ~SystemTrayForm() override;
    SystemTrayForm(const SystemTrayForm&) = delete;
    SystemTrayForm& operator=(const SystemTrayForm&) = delete;

    // Loading: the command tail decides. Returns -1 when the service was handed
    // over to the service control (run the event loop), otherwise the status
    // with which the program ends at once ("-install", "-uninstall").
    int Form_Load();
    // Unloading: timer off, icon removed, Monitors released (positions kept),
    // the shared connection closed. Failures are ignored. Call it only when
    // no check is running (after the event loop returned).
    void Form_Unload();

    // The service requests.
    bool OnStart() override { return NTService_Start(); }
    void OnStop() override { NTService_Stop(); }
    bool OnPause() override { return NTService_Pause(); }
    bool OnContinue() override { return NTService_Continue(); }
    // "Running, checking every 60000 ms; last check ...": the service
    // manager's status line.
    std::string StatusText() const override;

    bool NTService_Start();
    void NTService_Stop();
    bool NTService_Pause();
    bool NTService_Continue();

    // One tick of the check timer.
    void tmrTimer_Timer();
    // A chosen item of the popup menu. "Enabled" toggles its own mark here
    // (the view is told through UpdateMenuItem).
    void mnuMain_Click(int index);
    // Every notification of the icon, by its message number (512 to 519).
    void TrayMessage(int messageNr);

    // The menu's items and their states, for drawing.
    const MenuItem& mnuMain(int index) const { return menu_.at(static_cast<size_t>(index)); }
    bool ChecksEnabled() const { return menu_[mnuEnabled].checked; }

    ServiceControl& NTService() { return control_; }
    int32_t checkInterval() const { return checkInterval_; }
    bool running() const { return started_; }
    bool paused() const { return paused_; }
    bool inTick() const { return inTick_; }
    int tickCount() const { return ticks_; }

private:
    void OpenConfigurations();
    bool CheckMayGoOn() const;
    void SetTimerInterval(int32_t interval);
    void ReportRequestFailure(int32_t number, const std::string& description);
    void PublishStatus();

    SystemTrayView& view_;
    ServiceControl& control_;
    std::array<MenuItem, MenuItemCount> menu_;

    int32_t checkInterval_ = 0;
    bool started_ = false;     // the start request succeeded
    bool paused_ = false;      // a pause came and no continue since
    bool exitChosen_ = false;  // "Exit" was chosen from the menu
    bool inTick_ = false;
    bool configurationsPending_ = false;  // asked for while a tick ran
    int ticks_ = 0;
    // What the last tick that checked did, for the status line.
    std::time_t lastCheckAt_ = 0;
    size_t lastChecked_ = 0;
    std::optional<int64_t> newestEvent_;
    std::string publishedStatus_;
};

}  // namespace telwick::service
