#include "service/qt/frmSystemTray.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QIcon>
#include <QMenu>

#include "dialogs/dialogs.h"
#include "platform/messagebox.h"
#include "platform/qt/QtEventWaiter.h"
#include "service/posix/SystemdService.h"

static void LoadServiceResources() { Q_INIT_RESOURCE(service); }

using telwick::service::MenuItem;

frmSystemTray::frmSystemTray(std::unique_ptr<telwick::service::ServiceControl> control)
    : control_(std::move(control)) {
    LoadServiceResources();
    // Waits inside the data layer (the reconnect back-off) keep the window's
    // events flowing, so that a stop or the tray menu is not held up.
    telwick::platform::qt::InstallEventWaiter();
    if (!control_) control_ = std::make_unique<telwick::service::SystemdService>();
    setObjectName("frmSystemTray");
    setWindowTitle(telwick::service::WindowTitle);
    QIcon icon;
    icon.addFile(":/service/telwick-32.png");
    icon.addFile(":/service/telwick-64.png");
    setWindowIcon(icon);

    dialogs_.openConfigurations = [] { telwick::dialogs::OpenConfigurations(); };
    dialogs_.configurationsOpen = [] { return telwick::dialogs::ConfigurationsOpen(); };
    dialogs_.openDatabaseSettings = [] { telwick::dialogs::OpenDatabaseSettings(); };

    tmrTimer_.setObjectName("tmrTimer");
    tmrTimer_.setSingleShot(false);
    connect(&tmrTimer_, &QTimer::timeout, this, [this] { form_->tmrTimer_Timer(); });

    form_ = std::make_unique<telwick::service::SystemTrayForm>(static_cast<SystemTrayView&>(*this), *control_);
    BuildMenu();
}

frmSystemTray::~frmSystemTray() {
    form_.reset();
    telwick::platform::qt::RemoveEventWaiter();
    tmrTimer_.stop();
    DeleteIcon();
}

void frmSystemTray::BuildMenu() {
    // The menu lives with or without a desktop; without one nobody opens it.
    mnuPopup_ = std::make_unique<QMenu>("Popup");
    mnuPopup_->setObjectName("mnuPopup");
    for (int i = 0; i < MenuItemCount; ++i) {
        const MenuItem& item = form_->mnuMain(i);
        auto* action = new QAction(QString::fromStdString(item.caption), mnuPopup_.get());
        action->setObjectName(QString("mnuMain_%1").arg(i));
        action->setSeparator(item.separator);
        action->setCheckable(item.checkable);
        action->setChecked(item.checked);
        action->setEnabled(item.enabled);
        mnuPopup_->addAction(action);
        if (item.isDefault) mnuPopup_->setDefaultAction(action);  // shown bold
        mnuMain_[static_cast<size_t>(i)] = action;
        connect(action, &QAction::triggered, this, [this, i] { form_->mnuMain_Click(i); });
    }
}

void frmSystemTray::UpdateMenuItem(int index, const MenuItem& item) {
    QAction* action = mnuMain(index);
    action->setChecked(item.checked);
    action->setEnabled(item.enabled);
}

void frmSystemTray::EnableTimer(bool on) {
    if (on)
        tmrTimer_.start();
    else
        tmrTimer_.stop();
}

void frmSystemTray::EndEventLoop(int status) { QCoreApplication::exit(status); }

void frmSystemTray::RunLater(std::function<void()> task) { QTimer::singleShot(0, this, std::move(task)); }

// --- the icon and its menu ------------------------------------------------------

int frmSystemTray::MessageNrOf(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger: return WM_LBUTTONUP;
    case QSystemTrayIcon::DoubleClick: return WM_LBUTTONDBLCLK;
    case QSystemTrayIcon::Context: return WM_RBUTTONDOWN;
    case QSystemTrayIcon::MiddleClick: return WM_MBUTTONDOWN;
    default: return WM_MOUSEMOVE;
    }
}

void frmSystemTray::ShowPopupMenu(int defaultIndex) {
    // The popup takes the input focus itself, so it closes when the user
    // clicks elsewhere.
    mnuPopup_->setDefaultAction(mnuMain(defaultIndex));
    mnuPopup_->popup(QCursor::pos());
}

void frmSystemTray::HidePopupMenu() { mnuPopup_->hide(); }

void frmSystemTray::PrepareIcon(const std::string& tip) {
    tip_ = tip;
    if (!telwick::platform::HasDisplay() || trayIcon_) return;
    trayIcon_ = new QSystemTrayIcon(windowIcon(), this);
    trayIcon_->setObjectName("trayIcon");
    trayIcon_->setToolTip(QString::fromStdString(tip_));
    connect(trayIcon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { form_->TrayMessage(MessageNrOf(reason)); });
}

bool frmSystemTray::AddIcon() {
    if (!trayIcon_) return false;
    trayIcon_->show();
    return true;
}

bool frmSystemTray::ModifyIcon() {
    // Without a desktop there is no icon to keep.
    if (!trayIcon_) return true;
    trayIcon_->setToolTip(QString::fromStdString(tip_));
    return trayIcon_->isVisible();
}

void frmSystemTray::DeleteIcon() {
    if (!trayIcon_) return;
    trayIcon_->hide();
    delete trayIcon_;
    trayIcon_ = nullptr;
}
