#include "service/SystemTrayForm.h"

#include <cctype>
#include <ctime>
#include <iostream>
#include <new>

#include "database/modDatabase.h"
#include "monitor/modMain.h"
#include "platform/fault.h"
#include "platform/lifecycle.h"
#include "platform/messagebox.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/syslog.h"
#include "settings/crypt.h"
#include "settings/errors.h"
#include "settings/registry.h"
#include "settings/settings.h"

namespace telwick::service {

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

// A failure as number and description, whatever was thrown.
std::pair<int32_t, std::string> Describe(const std::exception& e) {
    if (auto* fault = dynamic_cast<const Fault*>(&e)) return {fault->number(), fault->description()};
    if (dynamic_cast<const std::bad_alloc*>(&e)) return {FaultNr::OutOfMemory, "Out of memory"};
    return {FaultNr::InvalidCall, e.what()};
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
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

const char* const MenuCaptions[MenuItemCount] = {"Notify settings...", "Database settings...", "-",
                                                 "Enabled",            "-",                    "Exit"};

}  // namespace

SystemTrayForm::SystemTrayForm(SystemTrayView& view, ServiceControl& control) : view_(view), control_(control) {
    for (int i = 0; i < MenuItemCount; ++i) {
        MenuItem& item = menu_[static_cast<size_t>(i)];
        // A separator ("-") carries no text: some menus draw a separator's
        // text as a section title beside its line.
        item.separator = std::string(MenuCaptions[i]) == "-";
        if (!item.separator) item.caption = MenuCaptions[i];
    }
    menu_[mnuEnabled].checkable = true;
    menu_[mnuEnabled].checked = true;  // set again at every start, never stored
    menu_[mnuNotifySettings].isDefault = true;
    modMain::SetCheckGuard([this] { return CheckMayGoOn(); });
    // An outage holds the tick in its reconnect loop: the status says so at once.
    modDatabase::SetOutageObserver([this] { PublishStatus(); });
}

SystemTrayForm::~SystemTrayForm() {
    modDatabase::SetOutageObserver(nullptr);
    modMain::SetCheckGuard(nullptr);
}

// --- loading and unloading ----------------------------------------------------

int SystemTrayForm::Form_Load() {
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

    LoadStep([&] { view_.HideWindow(); });
    LoadStep([&] { view_.PrepareIcon(TrayTip); });
    LoadStep([&] { NTService().setControlsAccepted(AcceptPauseContinue); });
    LoadStep([&] { NTService().StartService(this); });
    return -1;
}

void SystemTrayForm::Form_Unload() {
    try {
        view_.EnableTimer(false);
    } catch (...) {
    }
    try {
        view_.DeleteIcon();
    } catch (...) {
    }
    try {
        modMain::KeepPositions();  // nothing new after the last tick, as a rule
        modMain::Monitors.clear();
    } catch (...) {
    }
    try {
        // Released while the program's libraries are all still there.
        modDatabase::CloseSharedConnection();
        modDatabase::SharedConnection.reset();
    } catch (...) {
    }
}

// --- the service requests -------------------------------------------------------

bool SystemTrayForm::NTService_Start() {
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
        view_.AddIcon();  // its result is not looked at

        int32_t interval = modSettings::ReadLong(modRegistry::GetSetting("Checkinterval"));
        if (interval == 0 || interval > 65535) {
            interval = DefaultCheckinterval;
            modRegistry::CreateProgramKey();
            modRegistry::SetSetting("Checkinterval", std::to_string(DefaultCheckinterval));
        }
        SetTimerInterval(interval);
        // A pause that came during the start holds until its continue.
        if (!paused_) view_.EnableTimer(true);
        modMain::ChecksAllowed = true;
        started_ = true;
        return true;
    } catch (const std::exception& e) {
        auto [number, description] = Describe(e);
        ReportRequestFailure(number, description);
        return false;
    }
}

void SystemTrayForm::NTService_Stop() {
    try {
        view_.EnableTimer(false);
        // Nested waits and message boxes end, no further check starts, and the
        // window is unloaded once the event loop has returned.
        platform::SetStopRequested(true);
        view_.EndEventLoop(0);
    } catch (const std::exception& e) {
        auto [number, description] = Describe(e);
        ReportRequestFailure(number, description);
    }
}

bool SystemTrayForm::NTService_Pause() {
    view_.EnableTimer(false);
    paused_ = true;
    return true;
}

bool SystemTrayForm::NTService_Continue() {
    paused_ = false;
    // Before the start has set the interval there is nothing to resume; a
    // running tick sets the timer again itself when it ends.
    if (started_ && !inTick_ && !exitChosen_ && !platform::StopRequested() && !view_.TimerEnabled())
        view_.EnableTimer(true);
    return true;
}

std::string SystemTrayForm::StatusText() const {
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

void SystemTrayForm::PublishStatus() {
    // Only a changed line goes out: a short interval sends one a second at most.
    const std::string text = StatusText();
    if (text == publishedStatus_) return;
    publishedStatus_ = text;
    NTService().SetStatus(text);
}

void SystemTrayForm::ReportRequestFailure(int32_t number, const std::string& description) {
    const std::string text = "[" + std::to_string(number) + "] " + description;
    NTService().LogEvent(platform::EventError, FaultNr::EventLog, text);
    // The one line for whoever started the program (the journal, a terminal).
    std::cerr << "Telwick: the service request failed: " << text << std::endl;
}

void SystemTrayForm::SetTimerInterval(int32_t interval) {
    if (interval < 0) throw Fault(InvalidPropertyValue, "Invalid property value");
    checkInterval_ = interval;
    view_.SetTimerInterval(interval);
}

// --- the tick ------------------------------------------------------------------

bool SystemTrayForm::CheckMayGoOn() const {
    // A check stops before its next row once the service is stopping or paused,
    // "Exit" or "Enabled" off was chosen, or the configuration list was asked
    // for; the rows it leaves come with the next check.
    // A stop or pause signal counts from the moment it arrives.
    return !platform::StopRequested() && !platform::PauseRequested() && !paused_ && !exitChosen_ &&
           !configurationsPending_ && modMain::ChecksAllowed && ChecksEnabled();
}

void SystemTrayForm::tmrTimer_Timer() {
    view_.EnableTimer(false);
    inTick_ = true;
    ++ticks_;
    try {
        platform::ReapPrograms();
        if (modMain::ChecksAllowed && ChecksEnabled()) {
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
        // Keep the icon: an icon that is gone (the notification area was
        // re-created) is added again.
        if (!view_.ModifyIcon()) view_.AddIcon();
        // A server session kept past its keep time ends here, also while the
        // checks are off.
        telwick::db::keep::DropIfIdle();
    } catch (...) {
        // A failed tick is dropped; the next one comes as usual.
    }
    inTick_ = false;
    // The timer runs again, unless a stop or a pause came while the tick ran
    // (a message box waited): those hold.
    try {
        if (!platform::StopRequested() && !paused_ && !exitChosen_) view_.EnableTimer(true);
        if (configurationsPending_) {
            configurationsPending_ = false;
            view_.RunLater([this] {
                if (!platform::StopRequested()) OpenConfigurations();
            });
        }
        PublishStatus();
    } catch (...) {
    }
    view_.Ticked();
}

// --- the icon and its menu ------------------------------------------------------

void SystemTrayForm::TrayMessage(int messageNr) {
    switch (messageNr) {
    case LButtonDown:
    case LButtonUp: view_.HidePopupMenu(); break;
    case LButtonDblClk:
        if (!view_.ConfigurationsOpen()) OpenConfigurations();
        break;
    case RButtonDown: view_.ShowPopupMenu(mnuNotifySettings); break;
    default: break;
    }
}

void SystemTrayForm::mnuMain_Click(int index) {
    switch (index) {
    case mnuNotifySettings: OpenConfigurations(); break;
    case mnuDatabaseSettings: view_.OpenDatabaseSettings(); break;
    case mnuEnabled:
        menu_[mnuEnabled].checked = !menu_[mnuEnabled].checked;
        view_.UpdateMenuItem(mnuEnabled, menu_[mnuEnabled]);
        break;
    case mnuExit:
        view_.EnableTimer(false);
        exitChosen_ = true;
        NTService().StopService();
        break;
    default: break;
    }
}

void SystemTrayForm::OpenConfigurations() {
    // Saving the list rebuilds Monitors; a tick that waits in a message box
    // still walks them, so the list opens once that tick has ended.
    if (inTick_) {
        configurationsPending_ = true;
        return;
    }
    view_.OpenConfigurations();
}

}  // namespace telwick::service
