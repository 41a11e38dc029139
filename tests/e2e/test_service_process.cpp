// The real telwick program as a child process, with its own hive, SQLite
// database, syslog socket and notify socket (the service manager's end), and
// no desktop: every message box becomes a line on its standard error.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "settings/registry.h"
#include "support/datagram.h"
#include "support/process.h"
#include "support/testdb.h"
#include "support/testenv.h"

using namespace telwick::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// How long a passing case may wait for the program to start or report:
// it costs nothing when things work, and a sanitizer build on a loaded
// machine takes its time.
constexpr auto Patience = 60s;

// The service manager's end of the notify protocol.
class NotifySocket {
public:
    NotifySocket() : listener_(dir_.file("notify.sock")) {}
    const std::string& path() const { return listener_.path(); }
    // The first message from now on that holds the text, or nothing.
    std::optional<std::string> WaitFor(const std::string& text, std::chrono::milliseconds deadline = Patience) {
        return listener_.WaitForText(text, deadline);
    }

private:
    TempDir dir_;
    DatagramListener listener_;
};

// The real program, without a display, telling the notify socket given.
class ServiceProcess {
public:
    ServiceProcess(const std::vector<std::string>& args, const std::string& notifySocket,
                   const std::string& stderrFile)
        : stderrFile_(stderrFile), child_(Argv(args), Options(notifySocket, stderrFile)) {}
    void Signal(int signo) { child_.Signal(signo); }
    // The exit status, or -1 when it did not end in time (or died by a signal).
    int WaitExit(std::chrono::milliseconds deadline = 20s) {
        const int status = child_.Wait(deadline);
        return child_.KilledBySignal() ? -1 : status;
    }
    std::string Stderr() const { return ReadFile(stderrFile_); }

private:
    static std::vector<std::string> Argv(const std::vector<std::string>& args) {
        std::vector<std::string> words{TELWICK_SERVICE_PATH};
        words.insert(words.end(), args.begin(), args.end());
        return words;
    }
    static ChildOptions Options(const std::string& notifySocket, const std::string& stderrFile) {
        ChildOptions options;
        options.environment = EnvironmentWith({{"NOTIFY_SOCKET", notifySocket}}, {"DISPLAY", "WAYLAND_DISPLAY"});
        options.stdinFile.clear();
        options.stdoutFile = "/dev/null";
        options.stderrFile = stderrFile;
        return options;
    }

    std::string stderrFile_;
    ChildProcess child_;
};

}  // namespace

class ServiceProcessTest : public ::testing::Test {
protected:
    ScopedHive hive;
    SyslogReceiver syslog;
    TempDir dir;
    NotifySocket notify;
    std::unique_ptr<TestDatabase> db;
    std::vector<std::string> received;  // every syslog datagram so far

    void SetUp() override {
        db = std::make_unique<TestDatabase>(DbKind::Sqlite);
        modRegistry::CreateProgramKey();
        modRegistry::SetSetting("Checkinterval", "50");
        modRegistry::SetSetting("config0", "3;;;0;1;0;;");  // computer 3: event-log entry
    }

    std::unique_ptr<ServiceProcess> Start(const std::vector<std::string>& args = {}) {
        return std::make_unique<ServiceProcess>(args, notify.path(), dir.file("stderr.txt"));
    }
    // The texts of the entries with this number received so far.
    std::vector<std::string> Entries(const std::string& msgId) {
        for (auto& d : syslog.Drain(0ms)) received.push_back(d);
        std::vector<std::string> out;
        for (auto& d : received)
            if (SyslogReceiver::MsgIdOf(d) == msgId) out.push_back(SyslogReceiver::MessageOf(d));
        return out;
    }
    bool WaitEntries(const std::string& msgId, size_t count) {
        const auto end = Clock::now() + Patience;
        while (Entries(msgId).size() < count) {
            if (Clock::now() > end) return false;
            for (auto& d : syslog.WaitFor(1, 100ms)) received.push_back(d);
        }
        return true;
    }
    void AddDiskEvent(const std::string& drive) { db->AddEvent(3, 1, 5, 1, drive + ";90"); }
    static std::string Disk(const std::string& drive) { return "Disk " + drive + " is 90% full"; }
};

TEST_F(ServiceProcessTest, CommandTails) {
    const std::string units = dir.file("units");
    const std::string script = dir.file("systemctl");
    std::ofstream(script) << "#!/bin/sh\n[ \"$1 $2\" = \"--user enable\" ] || [ \"$1\" = enable ] && "
                             "[ -n \"$FAIL_ENABLE\" ] && exit 1\nexit 0\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    ScopedEnv unitDir("TELWICK_UNIT_DIR", units);
    ScopedEnv systemctl("TELWICK_SYSTEMCTL", script);
    const std::string unit = units + "/telwick.service";
    const std::string binary = std::filesystem::canonical(TELWICK_SERVICE_PATH).string();

    struct Case {
        std::vector<std::string> args;
        bool failEnable;
        int status;           // -1: the normal start-up
        std::string message;  // the one line the program shows
        bool unitAfter;
    };
    const Case cases[] = {
        {{"-install"}, true, 1, "Corvane Monitoring Service failed to install", true},
        {{"-install"}, false, 0, "Corvane Monitoring Service installed successfully", true},
        {{"-debug"}, false, -1, "", true},
        {{}, false, -1, "", true},
        {{"-INSTALL"}, false, -1, "", true},
        {{"-install", "-debug"}, false, -1, "", true},
        {{"-uninstall"}, false, 0, "Corvane Monitoring Service uninstalled successfully", false},
        {{"-uninstall"}, false, 1, "Corvane Monitoring Service failed to uninstall", false},
        {{"-uninstall", "now"}, false, -1, "", false},
    };
    for (const Case& c : cases) {
        std::string name;
        for (auto& a : c.args) name += "[" + a + "]";
        SCOPED_TRACE(name);
        std::optional<ScopedEnv> fail;
        if (c.failEnable) fail.emplace("FAIL_ENABLE", "1");
        auto service = Start(c.args);
        if (c.status >= 0) {
            EXPECT_EQ(service->WaitExit(), c.status);
            EXPECT_NE(service->Stderr().find("[Telwick] " + c.message + "\n"), std::string::npos)
                << service->Stderr();
        } else {
            EXPECT_TRUE(notify.WaitFor("READY=1"));
            service->Signal(SIGTERM);
            EXPECT_EQ(service->WaitExit(), 0);
            EXPECT_EQ(service->Stderr().find("[Telwick]"), std::string::npos) << service->Stderr();
        }
        EXPECT_EQ(std::filesystem::exists(unit), c.unitAfter);
        if (c.unitAfter) {
            EXPECT_NE(ReadFile(unit).find("ExecStart=" + binary + "\n"), std::string::npos);
        }
    }
}

TEST_F(ServiceProcessTest, CheckintervalIsReadAndRepairedAtTheStart) {
    struct Case {
        std::optional<std::string> stored;
        int used;
        std::string storedAfter;
    };
    const Case cases[] = {
        {std::nullopt, 60000, "60000"}, {"0", 60000, "60000"}, {"abc", 60000, "60000"},
        {"70000", 60000, "60000"},      {"1", 1, "1"},         {"65535", 65535, "65535"},
        {" 2e3", 2000, " 2e3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.value_or("(missing)"));
        if (c.stored) {
            modRegistry::SetSetting("Checkinterval", *c.stored);
        } else {
            const std::string reg = TELWICK_REG_PATH;
            ASSERT_EQ(std::system(("'" + reg +
                                   "' delete 'HKLM\\SOFTWARE\\Corvane\\Telwick' /v Checkinterval /f"
                                   " >/dev/null")
                                      .c_str()),
                      0);
        }
        auto service = Start({"-debug"});
        auto ready = notify.WaitFor("READY=1");
        ASSERT_TRUE(ready);
        EXPECT_NE(ready->find("STATUS=Running, checking every " + std::to_string(c.used) + " ms"),
                  std::string::npos)
            << *ready;
        service->Signal(SIGTERM);
        EXPECT_EQ(service->WaitExit(), 0);
        EXPECT_EQ(modRegistry::GetSetting("Checkinterval"), c.storedAfter);
    }
}

TEST_F(ServiceProcessTest, ANegativeCheckintervalFailsTheStart) {
    modRegistry::SetSetting("Checkinterval", "-5");
    AddDiskEvent("A:");
    auto service = Start();
    EXPECT_EQ(service->WaitExit(), 1);
    EXPECT_EQ(Entries("109"), std::vector<std::string>{"[380] Invalid property value"});
    EXPECT_TRUE(Entries("110").empty());
    EXPECT_EQ(modRegistry::GetSetting("Checkinterval"), "-5");
}

TEST_F(ServiceProcessTest, EventsStoredWhilePausedAreReportedAfterTheContinue) {
    auto service = Start();
    ASSERT_TRUE(notify.WaitFor("READY=1"));
    AddDiskEvent("A:");
    ASSERT_TRUE(WaitEntries("110", 1));

    service->Signal(SIGTSTP);
    ASSERT_TRUE(notify.WaitFor("STATUS=Paused"));
    AddDiskEvent("B:");
    for (auto& d : syslog.WaitFor(1, 500ms)) received.push_back(d);
    EXPECT_EQ(Entries("110").size(), 1u);

    service->Signal(SIGCONT);
    ASSERT_TRUE(notify.WaitFor("STATUS=Running"));
    ASSERT_TRUE(WaitEntries("110", 2));
    EXPECT_EQ(Entries("110"), (std::vector<std::string>{Disk("A:"), Disk("B:")}));
    service->Signal(SIGTERM);
    EXPECT_EQ(service->WaitExit(), 0);
}

TEST_F(ServiceProcessTest, StopSignalsEndTheProgramWithStatusZero) {
    for (int signo : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(signo));
        auto service = Start();
        ASSERT_TRUE(notify.WaitFor("READY=1"));
        service->Signal(signo);
        EXPECT_TRUE(notify.WaitFor("STOPPING=1"));
        EXPECT_EQ(service->WaitExit(), 0);
    }
}

TEST_F(ServiceProcessTest, MessageBoxesNobodyCanAnswerNeverHoldTheService) {
    const std::string out = dir.file("batch.out");
    const std::string script = dir.file("on event.sh");
    std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << out << "'\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    // Message box, event-log entry and the script, for every event of computer 3.
    modRegistry::SetSetting("config0", "3;;;1;1;1;" + script + ";");

    auto service = Start();
    ASSERT_TRUE(notify.WaitFor("READY=1"));
    AddDiskEvent("A:");
    AddDiskEvent("B:");
    ASSERT_TRUE(WaitEntries("110", 2));
    // The two scripts run side by side, so their lines may come in either order.
    const auto lines = [&] {
        std::istringstream in(ReadFile(out));
        std::multiset<std::string> seen;
        for (std::string line; std::getline(in, line);) seen.insert(line);
        return seen;
    };
    const std::multiset<std::string> expected{Disk("A:"), Disk("B:")};
    const auto end = Clock::now() + Patience;
    while (lines() != expected && Clock::now() < end) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(lines(), expected);

    service->Signal(SIGTERM);
    EXPECT_EQ(service->WaitExit(), 0);
    EXPECT_NE(service->Stderr().find("[Telwick] " + Disk("A:") + "\n[Telwick] " + Disk("B:") + "\n"),
              std::string::npos)
        << service->Stderr();
}
