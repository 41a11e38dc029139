// The hidden window of the service: it reads the command tail, answers the
// service requests, owns the check timer, the notification icon with its popup
// menu, and the service control.
#pragma once

#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "service/ServiceControl.h"

class QAction;
class QMenu;

// How the window opens the administrator's dialogs (the dialogs library by
// default; tests put recorders in).
struct DialogEntryPoints {
    std::function<void()> openConfigurations;
    std::function<bool()> configurationsOpen;
    std::function<void()> openDatabaseSettings;
};

class frmSystemTray : public QWidget, public telwick::service::ServiceRequests {
    Q_OBJECT

public:
    // The items of mnuMain.
    enum MenuIndex {
        mnuNotifySettings = 0,
        mnuDatabaseSettings = 1,
        mnuSeparator1 = 2,
        mnuEnabled = 3,
        mnuSeparator2 = 4,
        mnuExit = 5,
        MenuItemCount = 6
    };
    // The icon's notifications, numbered as the mouse messages they stand for.
    static constexpr int WM_MOUSEMOVE = 512;
    static constexpr int WM_LBUTTONDOWN = 513;
    static constexpr int WM_LBUTTONUP = 514;
    static constexpr int WM_LBUTTONDBLCLK = 515;
    static constexpr int WM_RBUTTONDOWN = 516;
    static constexpr int WM_MBUTTONDOWN = 519;

    static constexpr const char* TrayTip = "Corvane Monitoring";
    static constexpr int32_t DefaultCheckinterval = 60000;

    // Without a control of its own the window uses the systemd one.
    explicit frmSystemTray(std::unique_ptr<telwick::service::ServiceControl> control = nullptr);
    ~frmSystemTray() override;

    // Loading: the command tail decides. Returns -1 when the service was handed
    // over to the service control (run the event loop), otherwise the status
    // with which the program ends at once ("-install", "-uninstall").
    int Form_Load();
    // Unloading: timer off, icon removed, Monitors released, the shared
    // connection closed. Failures are ignored. Call it only when no check is
    // running (after the event loop returned).
    void Form_Unload();

    // The service requests.
    bool OnStart() override { return NTService_Start(); }
    void OnStop() override { NTService_Stop(); }
    bool OnPause() override { return NTService_Pause(); }
    bool OnContinue() override { return NTService_Continue(); }
    std::string StatusText() const override;

    bool NTService_Start();
    void NTService_Stop();
    bool NTService_Pause();
    bool NTService_Continue();

    // One tick of the check timer.
    void tmrTimer_Timer();
    // A chosen item of the popup menu.
    void mnuMain_Click(int index);
    // Every notification of the icon, by its message number.
    void TrayMessage(int messageNr);
    static int MessageNrOf(QSystemTrayIcon::ActivationReason reason);

    QMenu* mnuPopup() const { return mnuPopup_.get(); }
    QAction* mnuMain(int index) const { return mnuMain_.at(static_cast<size_t>(index)); }
    QTimer& tmrTimer() { return tmrTimer_; }
    QSystemTrayIcon* trayIcon() const { return trayIcon_; }  // nullptr without a display
    telwick::service::ServiceControl& NTService() { return *control_; }

    int32_t checkInterval() const { return checkInterval_; }
    bool running() const { return started_; }
    bool paused() const { return paused_; }
    bool inTick() const { return inTick_; }
    int tickCount() const { return ticks_; }

    void setDialogs(DialogEntryPoints dialogs) { dialogs_ = std::move(dialogs); }

signals:
    // After every tick, once the timer is set again.
    void ticked();

private:
    void BuildMenu();
    void CreateTrayIcon();
    void ShowTrayIcon();
    void KeepTrayIcon();
    void RemoveTrayIcon();
    void OpenConfigurations();
    bool CheckMayGoOn() const;
    void SetTimerInterval(int32_t interval);
    void ReportRequestFailure(int32_t number, const std::string& description);
    // Hands StatusText to the service control when it changed.
    void PublishStatus();

    std::unique_ptr<telwick::service::ServiceControl> control_;
    QTimer tmrTimer_;
    std::unique_ptr<QMenu> mnuPopup_;
    std::array<QAction*, MenuItemCount> mnuMain_{};
    QSystemTrayIcon* trayIcon_ = nullptr;
    DialogEntryPoints dialogs_;

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
