// The hidden window of the service on the Qt desktop: the check timer, the
// notification icon with its popup menu, and the dialogs, drawn for the
// behaviour in SystemTrayForm.
#pragma once

#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "service/ServiceControl.h"
#include "service/SystemTrayForm.h"

class QAction;
class QMenu;

// How the window opens the administrator's dialogs (the dialogs library by
// default; tests put recorders in).
struct DialogEntryPoints {
    std::function<void()> openConfigurations;
    std::function<bool()> configurationsOpen;
    std::function<void()> openDatabaseSettings;
};

class frmSystemTray : public QWidget, private telwick::service::SystemTrayView {
    Q_OBJECT

public:
    using MenuIndex = telwick::service::MenuIndex;
    static constexpr int mnuNotifySettings = telwick::service::mnuNotifySettings;
    static constexpr int mnuDatabaseSettings = telwick::service::mnuDatabaseSettings;
    static constexpr int mnuEnabled = telwick::service::mnuEnabled;
    static constexpr int mnuExit = telwick::service::mnuExit;
    static constexpr int MenuItemCount = telwick::service::MenuItemCount;
    static constexpr int WM_MOUSEMOVE = telwick::service::MouseMove;
    static constexpr int WM_LBUTTONDOWN = telwick::service::LButtonDown;
    static constexpr int WM_LBUTTONUP = telwick::service::LButtonUp;
    static constexpr int WM_LBUTTONDBLCLK = telwick::service::LButtonDblClk;
    static constexpr int WM_RBUTTONDOWN = telwick::service::RButtonDown;
    static constexpr int WM_MBUTTONDOWN = telwick::service::MButtonDown;

    // Without a control of its own the window uses the systemd one.
    explicit frmSystemTray(std::unique_ptr<telwick::service::ServiceControl> control = nullptr);
    ~frmSystemTray() override;

    int Form_Load() { return form_->Form_Load(); }
    void Form_Unload() { form_->Form_Unload(); }

    bool NTService_Start() { return form_->NTService_Start(); }
    void NTService_Stop() { form_->NTService_Stop(); }
    bool NTService_Pause() { return form_->NTService_Pause(); }
    bool NTService_Continue() { return form_->NTService_Continue(); }
    std::string StatusText() const { return form_->StatusText(); }

    void tmrTimer_Timer() { form_->tmrTimer_Timer(); }
    void mnuMain_Click(int index) { form_->mnuMain_Click(index); }
    void TrayMessage(int messageNr) { form_->TrayMessage(messageNr); }
    // Qt's activation reasons as the icon's message numbers.
    static int MessageNrOf(QSystemTrayIcon::ActivationReason reason);

    QMenu* mnuPopup() const { return mnuPopup_.get(); }
    QAction* mnuMain(int index) const { return mnuMain_.at(static_cast<size_t>(index)); }
    QTimer& tmrTimer() { return tmrTimer_; }
    QSystemTrayIcon* trayIcon() const { return trayIcon_; }  // nullptr without a display
    telwick::service::ServiceControl& NTService() { return *control_; }
    telwick::service::SystemTrayForm& form() { return *form_; }

    int32_t checkInterval() const { return form_->checkInterval(); }
    bool running() const { return form_->running(); }
    bool paused() const { return form_->paused(); }
    bool inTick() const { return form_->inTick(); }
    int tickCount() const { return form_->tickCount(); }

    void setDialogs(DialogEntryPoints dialogs) { dialogs_ = std::move(dialogs); }

signals:
    // After every tick, once the timer is set again.
    void ticked();

private:
    // SystemTrayView
    void HideWindow() override { hide(); }
    void SetTimerInterval(int32_t milliseconds) override { tmrTimer_.setInterval(milliseconds); }
    void EnableTimer(bool on) override;
    bool TimerEnabled() const override { return tmrTimer_.isActive(); }
    void PrepareIcon(const std::string& tip) override;
    bool AddIcon() override;
    bool ModifyIcon() override;
    void DeleteIcon() override;
    void UpdateMenuItem(int index, const telwick::service::MenuItem& item) override;
    void ShowPopupMenu(int defaultIndex) override;
    void HidePopupMenu() override;
    void EndEventLoop(int status) override;
    void RunLater(std::function<void()> task) override;
    void OpenConfigurations() override { dialogs_.openConfigurations(); }
    bool ConfigurationsOpen() const override { return dialogs_.configurationsOpen(); }
    void OpenDatabaseSettings() override { dialogs_.openDatabaseSettings(); }
    void Ticked() override { emit ticked(); }

    void BuildMenu();

    std::unique_ptr<telwick::service::ServiceControl> control_;
    QTimer tmrTimer_;
    std::unique_ptr<QMenu> mnuPopup_;
    std::array<QAction*, telwick::service::MenuItemCount> mnuMain_{};
    QSystemTrayIcon* trayIcon_ = nullptr;
    std::string tip_;
    DialogEntryPoints dialogs_;
    std::unique_ptr<telwick::service::SystemTrayForm> form_;
};
