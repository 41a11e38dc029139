#include "service/frmSystemTray.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QFont>
#include <QIcon>
#include <QMenu>

#include <cctype>
#include <ctime>
#include <iostream>
#include <new>

#include "database/modDatabase.h"
#include "dialogs/dialogs.h"
#include "monitor/modMain.h"
#include "platform/lifecycle.h"
#include "platform/messagebox.h"
#include "platform/process.h"
#include "platform/qt/QtEventWaiter.h"
#include "platform/registry.h"
#include "platform/syslog.h"
#include "service/SystemdService.h"
#include "settings/crypt.h"
#include "settings/errors.h"
#include "settings/registry.h"
#include "settings/settings.h"

static void LoadServiceResources() { Q_INIT_RESOURCE(service); }

namespace {

namespace platform = telwick::platform;
using telwick::Fault;

namespace {
// A damaged hive reads as empty everywhere, so the service would run on with no
// monitor and say nothing; say it once, on standard error and in the system log.
void ReportDamagedHive() {
    namespace store = platform::registry;
    if (store::Verify() != store::Status::Damaged) return;
    std::string text = store::StoreName() + " is damaged (" + store::LastError() +
                             "); Telwick runs without its settings and monitors. Restore the file from a "
                             "backup, or move it away and set the values again with telwick-reg.";
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    platform::ReportToOperator(platform::EventError, 113, text);
}
}  // namespace

// What the timer refuses: a negative interval.
constexpr int32_t InvalidPropertyValue = 380;

// A failure as number and description, whatever was thrown.
std::pair<int32_t, std::string> Describe(const std::exception& e) {
    if (auto* fault = dynamic_cast<const Fault*>(&e)) return {fault->number(), fault->description()};
    if (dynamic_cast<const std::bad_alloc*>(&e)) return {telwick::FaultNr::OutOfMemory, "Out of memory"};
    return {telwick::FaultNr::InvalidCall, e.what()};
}

// A step of the loading: a failure shows its description, and loading goes on.
template <typename Step>
void LoadStep(Step&& step) {
    try {
        step();
    } catch (const std::exception& e) {
        platform::ShowMessage(Describe(e).second);
    }
}

// A moment of the status line, in local time.
std::string TimeText(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

const char* const MenuCaptions[frmSystemTray::MenuItemCount] = {
    "Notify settings...", "Database settings...", "-", "Enabled", "-", "Exit"};

}  // namespace

frmSystemTray::frmSystemTray(std::unique_ptr<telwick::service::ServiceControl> control)
    : control_(std::move(control)) {
    LoadServiceResources();
    // Waits inside the data layer (the reconnect back-off) keep the window's
    // events flowing, so that a stop or the tray menu is not held up.
    telwick::platform::qt::InstallEventWaiter();
    if (!control_) control_ = std::make_unique<telwick::service::SystemdService>();
    setObjectName("frmSystemTray");
    setWindowTitle("Telwick");
    QIcon icon;
    icon.addFile(":/service/telwick-32.png");
    icon.addFile(":/service/telwick-64.png");
    setWindowIcon(icon);

    dialogs_.openConfigurations = [] { telwick::dialogs::OpenConfigurations(); };
    dialogs_.configurationsOpen = [] { return telwick::dialogs::ConfigurationsOpen(); };
    dialogs_.openDatabaseSettings = [] { telwick::dialogs::OpenDatabaseSettings(); };

    tmrTimer_.setObjectName("tmrTimer");
    tmrTimer_.setSingleShot(false);
    connect(&tmrTimer_, &QTimer::timeout, this, &frmSystemTray::tmrTimer_Timer);

    BuildMenu();
    modMain::SetCheckGuard([this] { return CheckMayGoOn(); });
    // An outage holds the tick in its reconnect loop: the status says so at once.
    modDatabase::SetOutageObserver([this] { PublishStatus(); });
}

frmSystemTray::~frmSystemTray() {
    modDatabase::SetOutageObserver(nullptr);
    modMain::SetCheckGuard(nullptr);
    telwick::platform::qt::RemoveEventWaiter();
    tmrTimer_.stop();
    RemoveTrayIcon();
}

void frmSystemTray::BuildMenu() {
    // The menu lives with or without a desktop; without one nobody opens it.
    mnuPopup_ = std::make_unique<QMenu>("Popup");
    mnuPopup_->setObjectName("mnuPopup");
    for (int i = 0; i < MenuItemCount; ++i) {
        // A separator ("-") carries no text: styles draw a separator's text as
        // a section title beside its line.
        const bool separator = std::string(MenuCaptions[i]) == "-";
        auto* action = new QAction(separator ? QString() : QString::fromLatin1(MenuCaptions[i]), mnuPopup_.get());
        action->setObjectName(QString("mnuMain_%1").arg(i));
        action->setSeparator(separator);
        mnuPopup_->addAction(action);
        mnuMain_[static_cast<size_t>(i)] = action;
        connect(action, &QAction::triggered, this, [this, i] { mnuMain_Click(i); });
    }
    mnuMain(mnuEnabled)->setCheckable(true);
    mnuMain(mnuEnabled)->setChecked(true);
    mnuPopup_->setDefaultAction(mnuMain(mnuNotifySettings));  // shown bold
}

// --- loading and unloading ----------------------------------------------------

int frmSystemTray::Form_Load() {
    std::string name;
    LoadStep([&] { name = NTService().displayName(); });
    const std::string& tail = modMain::CommandTail();

    if (tail == "-install") {
        bool installed = false;
        LoadStep([&] {
            NTService().setInteractive(true);
            installed = NTService().Install();
        });
        platform::ShowMessage(name + (installed ? " installed successfully" : " failed to install"));
        return installed ? 0 : 1;
    }
    if (tail == "-uninstall") {
        bool removed = false;
        LoadStep([&] { removed = NTService().Uninstall(); });
        platform::ShowMessage(name + (removed ? " uninstalled successfully" : " failed to uninstall"));
        return removed ? 0 : 1;
    }
    if (tail == "-debug") LoadStep([&] { NTService().setDebug(true); });

    LoadStep([&] { hide(); });
    LoadStep([&] { CreateTrayIcon(); });
    LoadStep([&] { NTService().setControlsAccepted(telwick::service::AcceptPauseContinue); });
    LoadStep([&] { NTService().StartService(this); });
    return -1;
}

void frmSystemTray::Form_Unload() {
    tmrTimer_.stop();
    try {
        RemoveTrayIcon();
    } catch (...) {
    }
    try {
        modMain::KeepPositions();  // nothing new after the last tick, as a rule
        modMain::Monitors.clear();
    } catch (...) {
    }
    try {
        // Released while Qt's database layer is still there; at exit it is gone.
        modDatabase::CloseSharedConnection();
        modDatabase::SharedConnection.reset();
    } catch (...) {
    }
}

// --- the service requests -------------------------------------------------------

bool frmSystemTray::NTService_Start() {
    // A stop that overtook the start: nothing is loaded any more.
    if (platform::StopRequested()) return false;
    try {
        modMain::ChecksAllowed = false;
        // The records name programs that the service starts: as root, a hive
        // that someone else can change would let them run anything as root.
        if (std::string why; !platform::registry::SettingsAreSafe(why))
            throw Fault(telwick::FaultNr::PermissionDenied, why);
        ReportDamagedHive();
        modCrypt::SetPassphrase();
        modMain::LoadMonitorings();
        // A stop that came while the monitors were loading (a dialog was open,
        // say) ends the start here; the program is on its way out.
        if (platform::StopRequested()) return false;
        ShowTrayIcon();

        int32_t interval = modSettings::ReadLong(modRegistry::GetSetting("Checkinterval"));
        if (interval == 0 || interval > 65535) {
            interval = DefaultCheckinterval;
            modRegistry::CreateProgramKey();
            modRegistry::SetSetting("Checkinterval", std::to_string(DefaultCheckinterval));
        }
        SetTimerInterval(interval);
        // A pause that came during the start holds until its continue.
        if (!paused_) tmrTimer_.start();
        modMain::ChecksAllowed = true;
        started_ = true;
        return true;
    } catch (const std::exception& e) {
        auto [number, description] = Describe(e);
        ReportRequestFailure(number, description);
        return false;
    }
}

void frmSystemTray::NTService_Stop() {
    try {
        tmrTimer_.stop();
        // Nested waits and message boxes end, no further check starts, and the
        // window is unloaded once the event loop has returned.
        platform::SetStopRequested(true);
        QCoreApplication::exit(0);
    } catch (const std::exception& e) {
        auto [number, description] = Describe(e);
        ReportRequestFailure(number, description);
    }
}

bool frmSystemTray::NTService_Pause() {
    tmrTimer_.stop();
    paused_ = true;
    return true;
}

bool frmSystemTray::NTService_Continue() {
    paused_ = false;
    // Before the start has set the interval there is nothing to resume; a
    // running tick sets the timer again itself when it ends.
    if (started_ && !inTick_ && !exitChosen_ && !platform::StopRequested() && !tmrTimer_.isActive())
        tmrTimer_.start();
    return true;
}

std::string frmSystemTray::StatusText() const {
    std::string text;
    if (paused_)
        text = "Paused";
    else if (started_)
        text = "Running, checking every " + std::to_string(checkInterval_) + " ms";
    else
        text = "Starting";
    if (const std::time_t since = modDatabase::OutageSince())
        text += "; database unreachable since " + TimeText(since);
    if (lastCheckAt_ != 0) {
        text += "; last check " + TimeText(lastCheckAt_) + ": " + std::to_string(lastChecked_) +
                (lastChecked_ == 1 ? " monitor" : " monitors") + " checked";
        if (newestEvent_) text += ", newest event " + std::to_string(*newestEvent_);
        text += ", " + std::to_string(modMain::EventsActedOn) + " events acted on since start";
    }
    return text;
}

void frmSystemTray::PublishStatus() {
    // Only a changed line goes out: a short interval sends one a second at most.
    const std::string text = StatusText();
    if (text == publishedStatus_) return;
    publishedStatus_ = text;
    NTService().SetStatus(text);
}

void frmSystemTray::ReportRequestFailure(int32_t number, const std::string& description) {
    const std::string text = "[" + std::to_string(number) + "] " + description;
    NTService().LogEvent(platform::EventError, telwick::FaultNr::EventLog, text);
    // The one line for whoever started the program (the journal, a terminal).
    std::cerr << "Telwick: the service request failed: " << text << std::endl;
}

void frmSystemTray::SetTimerInterval(int32_t interval) {
    if (interval < 0) throw Fault(InvalidPropertyValue, "Invalid property value");
    checkInterval_ = interval;
    tmrTimer_.setInterval(interval);
}

// --- the tick ------------------------------------------------------------------

bool frmSystemTray::CheckMayGoOn() const {
    // A check stops before its next row once the service is stopping or paused,
    // "Exit" or "Enabled" off was chosen, or the configuration list was asked
    // for; the rows it leaves come with the next check.
    // A stop or pause signal counts from the moment it arrives.
    return !platform::StopRequested() && !platform::PauseRequested() && !paused_ && !exitChosen_ &&
           !configurationsPending_ && modMain::ChecksAllowed && mnuMain(mnuEnabled)->isChecked();
}

void frmSystemTray::tmrTimer_Timer() {
    tmrTimer_.stop();
    inTick_ = true;
    ++ticks_;
    try {
        platform::ReapPrograms();
        if (modMain::ChecksAllowed && mnuMain(mnuEnabled)->isChecked()) {
            // A load of the monitors that failed (a locked database, a missing
            // table) is tried again before the checks, at every tick until it
            // goes through.
            if (modMain::MonitoringsPending() && modMain::CheckMayGoOn()) modMain::LoadPendingMonitorings();
            size_t checked = 0;
            for (size_t i = 0; i < modMain::Monitors.size(); ++i) {
                if (!modMain::CheckMayGoOn()) break;
                modMain::Monitors[i]->Check();
                ++checked;
            }
            // The positions reached, once for the whole tick.
            modMain::KeepPositions();
            lastCheckAt_ = std::time(nullptr);
            lastChecked_ = checked;
            for (const auto& monitor : modMain::Monitors) {
                const int64_t covered = monitor->lastEventLogNr();
                if (!newestEvent_ || covered > *newestEvent_) newestEvent_ = covered;
            }
        }
        KeepTrayIcon();
    } catch (...) {
        // A failed tick is dropped; the next one comes as usual.
    }
    inTick_ = false;
    // The timer runs again, unless a stop or a pause came while the tick ran
    // (a message box waited): those hold.
    if (!platform::StopRequested() && !paused_ && !exitChosen_) tmrTimer_.start();
    if (configurationsPending_) {
        configurationsPending_ = false;
        QTimer::singleShot(0, this, [this] {
            if (!platform::StopRequested()) OpenConfigurations();
        });
    }
    try {
        PublishStatus();
    } catch (...) {
    }
    emit ticked();
}

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

void frmSystemTray::TrayMessage(int messageNr) {
    switch (messageNr) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: mnuPopup_->hide(); break;
    case WM_LBUTTONDBLCLK:
        if (!dialogs_.configurationsOpen()) OpenConfigurations();
        break;
    case WM_RBUTTONDOWN:
        // The popup takes the input focus itself, so it closes when the user
        // clicks elsewhere.
        mnuPopup_->setDefaultAction(mnuMain(mnuNotifySettings));
        mnuPopup_->popup(QCursor::pos());
        break;
    default: break;
    }
}

void frmSystemTray::mnuMain_Click(int index) {
    switch (index) {
    case mnuNotifySettings: OpenConfigurations(); break;
    case mnuDatabaseSettings: dialogs_.openDatabaseSettings(); break;
    case mnuEnabled:
        // The checkable item has already toggled its own mark.
        break;
    case mnuExit:
        tmrTimer_.stop();
        exitChosen_ = true;
        NTService().StopService();
        break;
    default: break;
    }
}

void frmSystemTray::OpenConfigurations() {
    // Saving the list rebuilds Monitors; a tick that waits in a message box
    // still walks them, so the list opens once that tick has ended.
    if (inTick_) {
        configurationsPending_ = true;
        return;
    }
    dialogs_.openConfigurations();
}

void frmSystemTray::CreateTrayIcon() {
    if (!platform::HasDisplay()) return;
    trayIcon_ = new QSystemTrayIcon(windowIcon(), this);
    trayIcon_->setObjectName("trayIcon");
    trayIcon_->setToolTip(QString::fromLatin1(TrayTip));
    connect(trayIcon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { TrayMessage(MessageNrOf(reason)); });
}

void frmSystemTray::ShowTrayIcon() {
    if (trayIcon_) trayIcon_->show();
}

void frmSystemTray::KeepTrayIcon() {
    if (!trayIcon_) return;
    // Refresh the record; an icon that is gone (the tray was re-created) is
    // added again.
    trayIcon_->setToolTip(QString::fromLatin1(TrayTip));
    if (!trayIcon_->isVisible()) trayIcon_->show();
}

void frmSystemTray::RemoveTrayIcon() {
    if (!trayIcon_) return;
    trayIcon_->hide();
    delete trayIcon_;
    trayIcon_ = nullptr;
}
