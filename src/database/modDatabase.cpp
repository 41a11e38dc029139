#include "database/modDatabase.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>

#include "platform/fault.h"
#include "platform/lifecycle.h"
#include "platform/messagebox.h"
#include "platform/syslog.h"
#include "settings/crypt.h"
#include "settings/errors.h"
#include "settings/registry.h"

namespace modDatabase {

std::unique_ptr<telwick::db::Connection> SharedConnection;
std::string DBServer;
bool DBTrustedConnection = false;
std::string DBUsername;
std::string DBPassword;

namespace {

namespace platform = telwick::platform;

std::function<void()> databaseDialog;
std::function<void(int32_t)> retryObserver;

// Without a display every question is answered Yes and the dialog counts as
// cancelled, so a lost server would be retried at full speed: each new attempt
// after a Yes waits first, 1 s doubling up to a minute.
constexpr int FirstBackoffMs = 1000;
constexpr int LastBackoffMs = 60000;
int nextBackoffMs = FirstBackoffMs;
// The system log hears once that the connection was lost, and once that it is back.
bool lossReported = false;
std::time_t outageSince = 0;
std::function<void()> outageObserver;

const char* const Module = "modDatabase";
const char* const Procedure = "CheckDB";

telwick::db::Connection& Shared() {
    if (!SharedConnection) SharedConnection = std::make_unique<telwick::db::Connection>();
    return *SharedConnection;
}

// The general error handling of CheckDB around one step: a failure goes to
// ReportError, whose answer 1 runs the step again. False when it gave up.
bool Guarded(const std::function<void()>& step) { return modMain::Attempt(Module, Procedure, step); }

std::string RevealIfSet(const std::string& stored) {
    return stored.empty() ? stored : modCrypt::RevealValue(stored);
}

// The end of the program for want of a server.
[[noreturn]] void EndWithoutServer() {
    const bool display = platform::HasDisplay();
    if (!display)
        std::cerr << "Telwick: no database server is set; set one with: telwick-reg add "
                     "HKLM\\SOFTWARE\\Corvane\\Telwick /v Server /d <server, DSN or database file> /f"
                  << std::endl;
    SharedConnection.reset();
    platform::EndProgram(display ? 0 : 1);
}

void ConnectionStands() {
    nextBackoffMs = FirstBackoffMs;
    if (lossReported) {
        lossReported = false;
        outageSince = 0;
        platform::WriteEventLog(platform::EventInformation, 112, "Database connection restored");
        if (outageObserver) outageObserver();
    }
}

// Opens the shared connection with the cached settings.
void OpenShared() {
    const std::string text = BuildConnectionString(DBServer, Catalogue, DBTrustedConnection);
    if (!DBUsername.empty())
        Shared().Open(text, DBUsername, DBPassword, telwick::db::adConnectUnspecified);
    else
        Shared().Open(text, "", "", telwick::db::adConnectUnspecified);
}

}  // namespace

std::time_t OutageSince() { return outageSince; }

void SetOutageObserver(std::function<void()> observer) { outageObserver = std::move(observer); }

void SetRetryObserver(std::function<void(int32_t)> observer) { retryObserver = std::move(observer); }

void SetDatabaseDialog(std::function<void()> showDialog) { databaseDialog = std::move(showDialog); }

void ShowDatabaseDialog() {
    if (!databaseDialog || !platform::HasDisplay()) return;  // counts as cancelled
    databaseDialog();
}

std::string BuildConnectionString(const std::string& server, const std::string& catalogue, bool trusted) {
    std::string text = "Provider=SQLOLEDB.1;";
    text += "Persist Security Info=False;";
    if (!catalogue.empty()) text += "Initial Catalog=" + catalogue + ";";
    text += "Data Source=" + server + ";";
    text += "Use Procedure for Prepare=1;";
    text += "Auto Translate=True;";
    text += "Packet Size=4096;";
    if (trusted) text += "Integrated Security=SSPI;";
    return text;
}

void WaitSeconds(int32_t seconds) {
    // Until the clock's seconds have advanced that many times: more than
    // seconds - 1 and at most seconds. A sleep, not a busy wait; nothing else
    // runs meanwhile. A stop ends it early.
    if (seconds <= 0) return;
    using namespace std::chrono;
    const system_clock::time_point deadline =
        time_point_cast<std::chrono::seconds>(system_clock::now()) + std::chrono::seconds(seconds);
    while (system_clock::now() < deadline && !platform::StopRequested())
        std::this_thread::sleep_until(std::min(deadline, system_clock::now() + milliseconds(50)));
}

bool CheckDB() {
    int16_t retry = 0;
    bool newConnection = false;
    bool afterYes = false;
    std::time_t failedAt = 0;

    for (;;) {
        // 1. A new attempt after a Yes: let time pass, and let a stop end the loop.
        if (afterYes && !platform::HasDisplay()) {
            if (platform::StopRequested()) return false;
            platform::WaitHandlingEvents(nextBackoffMs);
            nextBackoffMs = std::min(nextBackoffMs * 2, LastBackoffMs);
            if (platform::StopRequested()) return false;
        }
        afterYes = false;

        // 2. The settings, and the dialog when there is no server or a new
        //    connection was asked for.
        if (DBServer.empty() || newConnection) {
            // A setting that cannot be read (a damaged login) leaves no server
            // cached: the next use reads them all again rather than going on
            // without the login.
            const auto read = [](const std::function<void()>& setting) {
                if (Guarded(setting)) return true;
                DBServer.clear();
                return false;
            };
            if (!read([] { DBServer = modRegistry::GetSetting("Server"); })) return false;
            if (!read([] { DBTrustedConnection = modRegistry::GetSetting("Trusted_Connection") == "Yes"; }))
                return false;
            if (!read([] { DBUsername = RevealIfSet(modRegistry::GetSetting("Username")); })) return false;
            if (!read([] { DBPassword = RevealIfSet(modRegistry::GetSetting("Password")); })) return false;
            if (DBServer.empty() || newConnection) {
                if (!Guarded([] { ShowDatabaseDialog(); })) return false;
                if (DBServer.empty()) EndWithoutServer();
            }
        }

        // 3. Open when closed; 4./5. probe. From here on a failure goes to the
        //    reconnect handling.
        std::string failure;
        enum class Step {
            Open,
            Probe
        } step = Shared().State() == telwick::db::adStateOpen ? Step::Probe : Step::Open;
        if (step == Step::Open) Shared().SetCursorLocation(telwick::db::adUseClient);
        for (;;) {
            bool probed = false;
            try {
                if (step == Step::Open) {
                    retry = 3;  // a failed open is not retried automatically
                    OpenShared();
                    // A kept server session that died while it waited (a server
                    // restart between two checks) is replaced at once and without
                    // a word; only when the new session fails too is the
                    // connection lost.
                    if (Shared().reused()) {
                        try {
                            Shared().Execute("SELECT GetDate() ", telwick::db::adCmdUnspecified);
                            probed = true;
                        } catch (const std::exception&) {
                            Shared().Close();  // the failed session is ended, not kept
                            OpenShared();
                        }
                    }
                    step = Step::Probe;
                }
                if (!probed) Shared().Execute("SELECT GetDate() ", telwick::db::adCmdUnspecified);
                ConnectionStands();
                return true;
            } catch (const telwick::Fault& fault) {
                failure = fault.description();
            } catch (const std::exception& e) {
                failure = e.what();
            }
            if (failedAt == 0) failedAt = std::time(nullptr);
            if (retry >= 3) break;
            if (platform::StopRequested()) return false;
            if (retryObserver) retryObserver(retry + 1);
            WaitSeconds(1);
            ++retry;
        }

        // A stop gives up the wait for the server too: that is no loss.
        if (platform::StopRequested()) return false;

        // The question, answered Yes by the console host.
        if (!lossReported) {
            lossReported = true;
            outageSince = failedAt;
            platform::WriteEventLog(platform::EventError, 111, "Database connection lost: " + failure);
            if (outageObserver) outageObserver();
        }
        const auto answer =
            platform::ShowMessage(modMain::GetMessageText(2), "Database", platform::Buttons::YesNo);
        if (answer != platform::Answer::Yes) {
            SharedConnection.reset();
            platform::EndProgram(0);
        }
        retry = 0;
        SharedConnection = std::make_unique<telwick::db::Connection>();
        newConnection = true;
        afterYes = true;
        // A stop closes the question at once: the next round would ask again
        // at full speed (with a desktop nothing waits between two rounds).
        if (platform::StopRequested()) return false;
    }
}

telwick::db::Connection* GetConnection() {
    if (!CheckDB()) return nullptr;
    return &Shared();
}

void CloseSharedConnection() {
    if (SharedConnection && SharedConnection->State() == telwick::db::adStateOpen) SharedConnection->Close();
}

void Reset() {
    SharedConnection.reset();
    telwick::db::keep::Drop();
    DBServer.clear();
    DBTrustedConnection = false;
    DBUsername.clear();
    DBPassword.clear();
    nextBackoffMs = FirstBackoffMs;
    lossReported = false;
    outageSince = 0;
}

}  // namespace modDatabase
