// The shared connection and CheckDB: the settings, the dialog, the end of the
// program without a server, the retries, the reconnect question and the system
// log entries, against real databases that go away and come back.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <functional>

#include "database/modDatabase.h"
#include "platform/lifecycle.h"
#include "platform/messagebox.h"
#include "settings/crypt.h"
#include "settings/errors.h"
#include "settings/registry.h"
#include "support/process.h"
#include "support/testdb.h"
#include "support/testenv.h"

using telwick::test::DbKind;
using telwick::test::ProgramEnded;
using telwick::test::ScopedEnv;
using telwick::test::ScopedHive;
using telwick::test::SyslogReceiver;
using telwick::test::TestDatabase;
namespace platform = telwick::platform;

namespace {

// A message box host that records the questions and answers as told.
class RecordingHost : public platform::MessageBoxHost {
public:
    struct Shown {
        std::string text, title;
        platform::Buttons buttons;
    };
    std::function<platform::Answer(int call)> answer = [](int) { return platform::Answer::Yes; };
    std::vector<Shown> shown;

    platform::Answer Show(const std::string& text, const std::string& title, platform::Buttons buttons) override {
        shown.push_back({text, title, buttons});
        return answer(static_cast<int>(shown.size()));
    }
};

// Everything CheckDB touches, put back after each test.
class ProgramState {
public:
    ProgramState() {
        modDatabase::Reset();
        platform::SetEndProgramHandler([](int status) { throw ProgramEnded{status}; });
        platform::SetMessageBoxHost(&host);
        platform::SetStopRequested(false);
        modMain::SetCommandTail("");
    }
    ~ProgramState() {
        modDatabase::Reset();
        modDatabase::SetDatabaseDialog(nullptr);
        modDatabase::SetRetryObserver(nullptr);
        platform::SetMessageBoxHost(nullptr);
        platform::SetEndProgramHandler(nullptr);
        platform::SetStopRequested(false);
    }
    RecordingHost host;

private:
    ScopedEnv noDisplay_{"DISPLAY", ""};
    ScopedEnv noWayland_{"WAYLAND_DISPLAY", ""};
};

// Runs CheckDB and returns the status the program ended with, or -1 when it
// returned (its result in *result).
int CheckDBEnding(bool* result = nullptr) {
    try {
        const bool r = modDatabase::CheckDB();
        if (result) *result = r;
        return -1;
    } catch (const ProgramEnded& end) {
        return end.status;
    }
}

}  // namespace

// --- the connection text and the pause ---------------------------------------------------

struct TextCase {
    std::string server, catalogue;
    bool trusted;
    std::string expected;
};

class ConnectionTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(ConnectionTextTest, IsBuiltExactly) {
    const auto& c = GetParam();
    EXPECT_EQ(modDatabase::BuildConnectionString(c.server, c.catalogue, c.trusted), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ConnectionTextTest,
    ::testing::Values(
        TextCase{"DBHOST", "Corvane", true,
                 "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=Corvane;Data Source=DBHOST;"
                 "Use Procedure for Prepare=1;Auto Translate=True;Packet Size=4096;Integrated Security=SSPI;"},
        TextCase{"DBHOST", "Corvane", false,
                 "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=Corvane;Data Source=DBHOST;"
                 "Use Procedure for Prepare=1;Auto Translate=True;Packet Size=4096;"},
        TextCase{"srv\\inst", "", false,
                 "Provider=SQLOLEDB.1;Persist Security Info=False;Data Source=srv\\inst;"
                 "Use Procedure for Prepare=1;Auto Translate=True;Packet Size=4096;"},
        // Inserted unchanged, nothing quoted.
        TextCase{"", "a;b", true,
                 "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=a;b;Data Source=;"
                 "Use Procedure for Prepare=1;Auto Translate=True;Packet Size=4096;Integrated Security=SSPI;"}));

TEST(WaitSeconds, EndsWhenTheClockSecondsHaveAdvanced) {
    using namespace std::chrono;
    // Whole seconds of the system clock (time() may lag it by a tick).
    const auto seconds = [] { return time_point_cast<std::chrono::seconds>(system_clock::now()); };
    const auto before = steady_clock::now();
    modDatabase::WaitSeconds(0);
    modDatabase::WaitSeconds(-5);
    // At once; a wait that should not be there lasts a second or more, so the
    // bound leaves room for a sanitizer build on a loaded machine.
    EXPECT_LT(steady_clock::now() - before, milliseconds(800));
    for (int n : {1, 2}) {
        const auto start = seconds();
        modDatabase::WaitSeconds(n);
        EXPECT_GE(seconds(), start + std::chrono::seconds(n));
    }
    // A stop ends the wait.
    platform::SetStopRequested(true);
    const auto stopped = steady_clock::now();
    modDatabase::WaitSeconds(2);
    platform::SetStopRequested(false);
    // Ended at once; a wait that misses the stop lasts more than a second.
    EXPECT_LT(steady_clock::now() - stopped, milliseconds(800));
}

// --- the settings and the dialog ----------------------------------------------------------------

TEST(CheckDBSettings, NoServerWithoutADisplayEndsWithOneLineOnStderr) {
    if (telwick::test::OnWindows) GTEST_SKIP() << "Windows has a desktop in every session Wine makes: a session without one cannot be made here";
    ScopedHive hive;
    SyslogReceiver log;
    ProgramState state;
    int dialogs = 0;
    modDatabase::SetDatabaseDialog([&] { ++dialogs; });
    testing::internal::CaptureStderr();
    const int status = CheckDBEnding();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(dialogs, 0) << "without a display the dialog counts as cancelled";
    EXPECT_EQ(err,
              "Telwick: no database server is set; set one with: telwick-reg add HKLM\\SOFTWARE\\Corvane\\Telwick "
              "/v Server /d <server, DSN or database file> /f\n");
    EXPECT_EQ(modDatabase::SharedConnection, nullptr);
    EXPECT_TRUE(state.host.shown.empty());
}

TEST(CheckDBSettings, WithADisplayTheDialogDecides) {
    ScopedHive hive;
    SyslogReceiver log;
    ProgramState state;
    ScopedEnv display("DISPLAY", ":42");
    TestDatabase db(DbKind::Sqlite, {.writeSettings = false});

    // Cancelled: the program ends quietly.
    int dialogs = 0;
    modDatabase::SetDatabaseDialog([&] { ++dialogs; });
    testing::internal::CaptureStderr();
    EXPECT_EQ(CheckDBEnding(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(dialogs, 1);

    // Confirmed with a server: the connection opens with it.
    modDatabase::Reset();
    modDatabase::SetDatabaseDialog([&] {
        ++dialogs;
        modDatabase::DBServer = db.server();
    });
    bool result = false;
    EXPECT_EQ(CheckDBEnding(&result), -1);
    EXPECT_TRUE(result);
    EXPECT_EQ(dialogs, 2);
    ASSERT_NE(modDatabase::SharedConnection, nullptr);
    EXPECT_EQ(modDatabase::SharedConnection->State(), telwick::db::adStateOpen);
    EXPECT_EQ(modDatabase::SharedConnection->CursorLocation(), telwick::db::adUseClient);
}

struct LoginCase {
    const char* name;
    std::string trusted;
    std::function<std::string()> storedUser;
    bool expectTrusted;
    std::string expectUser;
};

class CheckDBLoginTest : public ::testing::TestWithParam<LoginCase> {};

TEST_P(CheckDBLoginTest, ReadsAndRevealsTheStoredLogin) {
    ScopedHive hive;
    SyslogReceiver log;
    ProgramState state;
    TestDatabase db(DbKind::Sqlite);  // a SQLite file ignores the login
    modCrypt::SetPassphrase();
    const auto& c = GetParam();
    modRegistry::SetSetting("Trusted_Connection", c.trusted);
    modRegistry::SetSetting("Username", c.storedUser());
    modRegistry::SetSetting("Password", modCrypt::ProtectValue("PWD", "pa55"));
    EXPECT_TRUE(modDatabase::CheckDB());
    EXPECT_EQ(modDatabase::DBServer, db.server());
    EXPECT_EQ(modDatabase::DBTrustedConnection, c.expectTrusted);
    EXPECT_EQ(modDatabase::DBUsername, c.expectUser);
    EXPECT_EQ(modDatabase::DBPassword, "pa55");
}

INSTANTIATE_TEST_SUITE_P(
    Logins, CheckDBLoginTest,
    ::testing::Values(
        LoginCase{"Plain", "No", [] { return modCrypt::ProtectValue("USR", "sa_monitor"); }, false, "sa_monitor"},
        LoginCase{"TrustedExact", "Yes", [] { return modCrypt::ProtectValue("USR", "x"); }, true, "x"},
        LoginCase{"TrustedLowerCase", "yes", [] { return std::string(); }, false, ""},
        LoginCase{"TrustedUpperCase", "YES", [] { return std::string(); }, false, ""},
        LoginCase{"TagOnly", "No", [] { return modCrypt::ProtectValue("USR", ""); }, false, ""},
        LoginCase{"TagNotChecked", "No", [] { return modCrypt::ProtectValue("ABC", "jdoe"); }, false, "jdoe"},
        LoginCase{"ThreeCharacters", "No", [] { return modCrypt::ProtectValue("", "abc"); }, false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CheckDBSettings, ADamagedLoginIsReportedAndGivesNoConnection) {
    ScopedHive hive;
    SyslogReceiver log;
    ProgramState state;
    TestDatabase db(DbKind::Sqlite);
    modRegistry::SetSetting("Username", "ZZ not hex at all");
    EXPECT_EQ(modDatabase::GetConnection(), nullptr);
    EXPECT_EQ(modDatabase::GetConnection(), nullptr);  // no server cached without its login
    EXPECT_TRUE(state.host.shown.empty());
    EXPECT_EQ(CheckDBEnding(), -1);
}

TEST(CheckDBSettings, TheCacheIsReadOnceAndTheConnectionReopensOnDemand) {
    ScopedHive hive;
    SyslogReceiver log;
    ProgramState state;
    TestDatabase db(DbKind::Sqlite);
    telwick::db::Connection* c = modDatabase::GetConnection();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c, modDatabase::SharedConnection.get());
    // A changed setting takes no effect while the cache holds a server.
    modRegistry::SetSetting("Server", "/nonexistent/elsewhere.db");
    modDatabase::CloseSharedConnection();
    EXPECT_EQ(c->State(), telwick::db::adStateClosed);
    modDatabase::CloseSharedConnection();  // harmless when closed
    EXPECT_EQ(modDatabase::GetConnection(), c);
    EXPECT_EQ(c->State(), telwick::db::adStateOpen);
    EXPECT_EQ(modDatabase::DBServer, db.server());
}

// --- losing the server, on both kinds -------------------------------------------------------------

class ReconnectTest : public telwick::test::DbTest {
protected:
    // Stopping PostgreSQL must not hurt the other tests: a server of our own.
    TestDatabase::Options DatabaseOptions() const override { return {.ownServer = true}; }
    void SetUp() override {
        DbTest::SetUp();
        if (IsSkipped()) return;
        state_ = std::make_unique<ProgramState>();
        modDatabase::SetRetryObserver([this](int32_t r) { retries_.push_back(r); });
    }
    void TearDown() override {
        state_.reset();
        DbTest::TearDown();
    }
    RecordingHost& host() { return state_->host; }
    std::vector<std::string> LogEntries() {
        std::vector<std::string> out;
        for (const auto& d : log_.Drain(std::chrono::milliseconds(300)))
            out.push_back(SyslogReceiver::MsgIdOf(d) + " " + SyslogReceiver::MessageOf(d));
        return out;
    }

    SyslogReceiver log_;
    std::unique_ptr<ProgramState> state_;
    std::vector<int32_t> retries_;
};

TEST_P(ReconnectTest, OpenOnEntryIsProbedFourTimesBeforeTheQuestion) {
    ASSERT_TRUE(modDatabase::CheckDB());
    ASSERT_EQ(modDatabase::SharedConnection->State(), telwick::db::adStateOpen);
    db().StopServer();
    host().answer = [](int) { return platform::Answer::No; };
    EXPECT_EQ(CheckDBEnding(), 0);
    EXPECT_EQ(retries_, (std::vector<int32_t>{1, 2, 3}));
    ASSERT_EQ(host().shown.size(), 1u);
    EXPECT_EQ(host().shown[0].text, "Database connection lost. Open a new connection?");
    EXPECT_EQ(host().shown[0].title, "Database");
    EXPECT_EQ(host().shown[0].buttons, platform::Buttons::YesNo);
    EXPECT_EQ(modDatabase::SharedConnection, nullptr) << "released before the end";
}

TEST_P(ReconnectTest, ClosedOnEntryAsksAfterTheOneFailedOpen) {
    ASSERT_TRUE(modDatabase::CheckDB());
    modDatabase::CloseSharedConnection();
    db().StopServer();
    host().answer = [](int) { return platform::Answer::No; };
    EXPECT_EQ(CheckDBEnding(), 0);
    EXPECT_TRUE(retries_.empty());
    EXPECT_EQ(host().shown.size(), 1u);
}

TEST_P(ReconnectTest, AServerBackWithinTheRetriesNeedsNoQuestion) {
    ASSERT_TRUE(modDatabase::CheckDB());
    if (GetParam() == DbKind::Postgres) GTEST_SKIP() << "a restarted server has dropped the open session";
    db().StopServer();
    modDatabase::SetRetryObserver([this](int32_t r) {
        retries_.push_back(r);
        if (r == 2) db().StartServer();
    });
    EXPECT_TRUE(modDatabase::CheckDB());
    EXPECT_EQ(retries_, (std::vector<int32_t>{1, 2}));
    EXPECT_TRUE(host().shown.empty());
    EXPECT_TRUE(LogEntries().empty());
}

TEST_P(ReconnectTest, YesOpensAFreshConnectionWhenTheServerIsBack) {
    ASSERT_TRUE(modDatabase::CheckDB());
    modDatabase::CloseSharedConnection();
    const std::string before = modDatabase::SharedConnection->name();
    db().StopServer();
    host().answer = [this](int call) {
        if (call == 2) db().StartServer();
        return platform::Answer::Yes;
    };
    bool result = false;
    EXPECT_EQ(CheckDBEnding(&result), -1);
    EXPECT_TRUE(result);
    EXPECT_EQ(host().shown.size(), 2u);
    ASSERT_NE(modDatabase::SharedConnection, nullptr);
    EXPECT_NE(modDatabase::SharedConnection->name(), before) << "a fresh connection object";
    EXPECT_EQ(modDatabase::SharedConnection->State(), telwick::db::adStateOpen);

    // One entry for the loss (not one per question), one for the return.
    const auto entries = LogEntries();
    ASSERT_EQ(entries.size(), 2u) << ::testing::PrintToString(entries);
    EXPECT_EQ(entries[0].rfind("111 Database connection lost: ", 0), 0u) << entries[0];
    EXPECT_GT(entries[0].size(), std::string("111 Database connection lost: ").size());
    EXPECT_EQ(entries[1], "112 Database connection restored");

    // The next failure is a new loss.
    modDatabase::CloseSharedConnection();
    db().StopServer();
    host().shown.clear();
    host().answer = [](int) { return platform::Answer::No; };
    EXPECT_EQ(CheckDBEnding(), 0);
    const auto again = LogEntries();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].rfind("111 ", 0), 0u);
}

TEST_P(ReconnectTest, EachYesShowsTheDialogAgainWithADisplay) {
    ScopedEnv display("DISPLAY", ":42");
    ASSERT_TRUE(modDatabase::CheckDB());
    modDatabase::CloseSharedConnection();
    db().StopServer();
    int dialogs = 0;
    // The administrator keeps the settings (Cancel) the first time, and the
    // second time the server is back.
    modDatabase::SetDatabaseDialog([&] {
        if (++dialogs == 2) db().StartServer();
    });
    EXPECT_TRUE(modDatabase::CheckDB());
    EXPECT_EQ(dialogs, 2);
    EXPECT_EQ(host().shown.size(), 2u);
}

TEST_P(ReconnectTest, AStopDuringThePauseEndsCheckDBWithoutEndingTheProgram) {
    if (telwick::test::OnWindows) GTEST_SKIP() << "Windows has a desktop in every session Wine makes: a session without one cannot be made here";
    ASSERT_TRUE(modDatabase::CheckDB());
    modDatabase::CloseSharedConnection();
    db().StopServer();
    host().answer = [](int) {
        platform::SetStopRequested(true);  // a service stop arrives with the question
        return platform::Answer::Yes;
    };
    bool result = true;
    EXPECT_EQ(CheckDBEnding(&result), -1);
    EXPECT_FALSE(result);
    EXPECT_EQ(host().shown.size(), 1u);
}

TEST_P(ReconnectTest, WithoutAHostTheConsoleAnswersYesAndTheLoopPauses) {
    if (telwick::test::OnWindows) GTEST_SKIP() << "Windows has a desktop in every session Wine makes: a session without one cannot be made here";
    platform::SetMessageBoxHost(nullptr);  // the console: one line, answered Yes
    ASSERT_TRUE(modDatabase::CheckDB());
    modDatabase::CloseSharedConnection();
    db().StopServer();
    int questions = 0;
    // Count the attempts through the failed opens: stop after the third pause.
    std::vector<std::chrono::steady_clock::time_point> asked;
    class CountingHost : public platform::ConsoleMessageBox {
    public:
        explicit CountingHost(std::function<void()> f) : f_(std::move(f)) {}
        platform::Answer Show(const std::string& t, const std::string& ti, platform::Buttons b) override {
            f_();
            return ConsoleMessageBox::Show(t, ti, b);
        }

    private:
        std::function<void()> f_;
    } counting([&] {
        asked.push_back(std::chrono::steady_clock::now());
        if (++questions == 3) db().StartServer();
    });
    platform::SetMessageBoxHost(&counting);
    testing::internal::CaptureStderr();
    const bool result = modDatabase::CheckDB();
    const std::string err = testing::internal::GetCapturedStderr();
    platform::SetMessageBoxHost(nullptr);
    EXPECT_TRUE(result);
    EXPECT_EQ(questions, 3);
    EXPECT_NE(err.find("[Database] Database connection lost. Open a new connection?"), std::string::npos) << err;
    // 1 s, then 2 s between the attempts.
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_GE(asked[1] - asked[0], std::chrono::milliseconds(1000));
    EXPECT_GE(asked[2] - asked[1], std::chrono::milliseconds(2000));
}

TELWICK_INSTANTIATE_DB_TEST(ReconnectTest);

// --- PostgreSQL only: a restart between checks, and the login in messages -------------------------

TEST(PostgresReconnect, ARestartBetweenChecksIsHealedByANewConnection) {
    if (!telwick::test::OwnPostgresAvailable()) GTEST_SKIP() << telwick::test::OwnPostgresSkipReason();
    ScopedHive hive;
    SyslogReceiver log;
    ProgramState state;
    TestDatabase db(DbKind::Postgres, {.ownServer = true});
    std::vector<int32_t> retries;
    modDatabase::SetRetryObserver([&](int32_t r) { retries.push_back(r); });
    ASSERT_TRUE(modDatabase::CheckDB());
    db.StopServer();
    db.StartServer();
    // The open session died with the server: four probes, the question, Yes.
    EXPECT_TRUE(modDatabase::CheckDB());
    EXPECT_EQ(retries, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(state.host.shown.size(), 1u);
}

TEST(PostgresReconnect, ARestartWhileTheConnectionIsClosedGoesUnnoticed) {
    if (!telwick::test::OwnPostgresAvailable()) GTEST_SKIP() << telwick::test::OwnPostgresSkipReason();
    ScopedHive hive;
    SyslogReceiver log;
    ProgramState state;
    TestDatabase db(DbKind::Postgres, {.ownServer = true});
    std::vector<int32_t> retries;
    modDatabase::SetRetryObserver([&](int32_t r) { retries.push_back(r); });
    // A check as the monitors make it: the events above the last one seen, then
    // the shared connection closed.
    int64_t last = db.MaxEventNr();
    std::vector<int64_t> seen;
    const auto check = [&] {
        telwick::db::Recordset rs;
        rs.Open("SELECT eventlognr FROM t_eventLog WHERE eventlognr > " + std::to_string(last) +
                    " ORDER BY eventlognr",
                modDatabase::GetConnection());
        for (; !rs.EOF_(); rs.MoveNext()) seen.push_back(last = rs.Integer(0));
        rs.Close();
        modDatabase::CloseSharedConnection();
    };
    const uint64_t logins = telwick::db::keep::PhysicalOpens();
    const int64_t a = db.AddEvent(3, 1, 5, 1, "a");
    check();
    const int64_t b = db.AddEvent(3, 1, 5, 1, "b");
    check();
    EXPECT_EQ(telwick::db::keep::PhysicalOpens() - logins, 1u) << "the second check logs in again";
    db.StopServer();
    db.StartServer();
    const int64_t c = db.AddEvent(3, 1, 5, 1, "c");
    check();
    EXPECT_EQ(seen, (std::vector<int64_t>{a, b, c}));
    EXPECT_EQ(telwick::db::keep::PhysicalOpens() - logins, 2u);
    EXPECT_TRUE(retries.empty());
    EXPECT_TRUE(state.host.shown.empty());
    EXPECT_TRUE(log.Drain(std::chrono::milliseconds(300)).empty());
}

TEST(PostgresReconnect, AWrongPasswordNeverPutsTheLoginIntoTheSystemLog) {
    if (!telwick::test::PostgresAvailable()) GTEST_SKIP() << telwick::test::PostgresSkipReason();
    ScopedHive hive;
    SyslogReceiver log;
    ProgramState state;
    TestDatabase db(DbKind::Postgres);
    modRegistry::SetSetting("Password", modCrypt::ProtectValue("PWD", "not-the-password"));
    state.host.answer = [](int) { return platform::Answer::No; };
    EXPECT_EQ(CheckDBEnding(), 0);
    const auto entries = log.Drain();
    ASSERT_EQ(entries.size(), 1u);
    const std::string msg = SyslogReceiver::MessageOf(entries[0]);
    EXPECT_EQ(msg.rfind("Database connection lost: ", 0), 0u) << msg;
    EXPECT_EQ(msg.find(db.user()), std::string::npos) << msg;
    EXPECT_EQ(msg.find("not-the-password"), std::string::npos) << msg;
}
