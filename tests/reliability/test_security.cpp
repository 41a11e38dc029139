// Attacks: hostile event texts on their way to the batch program, the login
// anywhere outside the protected values, a hive that other users can write.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <set>

#include "reliability/harness.h"
#include "settings/crypt.h"

namespace telwick::reliability {
namespace {

namespace fs = std::filesystem;

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) out += c == ';' ? std::string("[trdoppu]") : std::string(1, c);
    return out;
}

std::vector<std::string> HostileTexts(size_t longest) {
    return {
        "\"; touch PWNED; \"",
        "$(touch PWNED)",
        "`touch PWNED`",
        "a & touch PWNED & b",
        "a | tee PWNED",
        "a && touch PWNED || touch PWNED",
        "line one\nline two\r\n\ttabbed",
        "'single' \"double\" \\\"escaped\\\" \\\\ back\\",
        "-rf --help",
        "${IFS}touch${IFS}PWNED",
        "* ? [a-z] ~ ! #",
        "> PWNED < /dev/null 2>&1",
        "Gr\xc3\xbc\xc3\x9f"
        "e \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\x89",
        "%1 %2 %% 100%",
        std::string(longest, 'L') + "; touch PWNED",
    };
}

class HostileTexts_ : public ::testing::TestWithParam<bool> {};

TEST_P(HostileTexts_, ReachTheBatchProgramAsOneArgumentByteForByte) {
    const bool pg = GetParam();
    Describe(std::string("event texts with quotes, ; & | ` $() newlines and ") + (pg ? "2,000" : "100,000") +
             " characters, from " + (pg ? "PostgreSQL" : "SQLite") + " to the batch program");
    if (pg && !PgAvailable()) GTEST_SKIP() << "no PostgreSQL here";
    Sandbox box;
    std::unique_ptr<EventStore> store;
    if (pg) {
        auto p = std::make_unique<PgStore>(box.file("pg"));
        modCrypt::SetPassphrase();
        box.Set("Username", modCrypt::ProtectValue("USR", p->user()));
        box.Set("Password", modCrypt::ProtectValue("PWD", p->password()));
        for (const auto& [name, value] : p->Env()) box.env()[name] = value;
        store = std::move(p);
    } else {
        store = std::make_unique<SqliteStore>(box.file("corvane.db"));
    }
    box.Configure(store->Server(), {Sandbox::Record(false, true, true, box.ProbePath())});
    const std::string bare = "%1";
    store->SetMessage(950, &bare);
    LogReceiver& log = box.log();
    Service svc(box);
    svc.StartReady();

    auto texts = HostileTexts(pg ? 1900 : 100000);
    for (const auto& t : texts) {
        std::string parameter = Escaped(t);
        store->AddEvent(950, &parameter);
    }
    ASSERT_TRUE(WaitUntil([&] { return box.ProbeRuns().size() >= texts.size(); }, 30s)) << svc.Stderr();
    std::this_thread::sleep_for(500ms);
    auto runs = box.ProbeRuns();
    ASSERT_EQ(runs.size(), texts.size());
    // The programs run side by side, so their lines come in any order.
    std::multiset<std::string> arrived;
    for (const auto& run : runs) {
        EXPECT_EQ(run.size(), 1u) << "a run got " << run.size() << " arguments";
        if (!run.empty()) arrived.insert(run[0]);
    }
    int exact = 0;
    for (const auto& t : texts) {
        auto it = arrived.find(t);
        EXPECT_NE(it, arrived.end()) << "no run got exactly the text " << Hex(t.substr(0, 100));
        if (it != arrived.end()) {
            arrived.erase(it);
            ++exact;
        }
    }
    EXPECT_FALSE(fs::exists(box.file("PWNED"))) << "a text was run by a shell";
    auto logged = log.Messages("110");
    int logExact = 0;
    for (size_t i = 0; i < texts.size() && i < logged.size(); ++i)
        if (logged[i] == texts[i]) ++logExact;
    Figure("texts", static_cast<double>(texts.size()));
    Figure("batch_arguments_exact", exact);
    Figure("log_entries_exact", logExact);
    Figure("shell_ran_something", fs::exists(box.file("PWNED")) ? 1 : 0);
    EXPECT_EQ(svc.Stop(), 0);
    Outcome(std::to_string(exact) + " of " + std::to_string(texts.size()) +
            " texts arrived as one argument byte for byte; nothing ran in a shell");
}

INSTANTIATE_TEST_SUITE_P(Stores, HostileTexts_, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "PostgreSQL" : "SQLite"); });

// --- the login -----------------------------------------------------------------------------------

// Where a secret must not be found; returns the places that hold it.
std::vector<std::string> PlacesHolding(const std::string& secret,
                                       const std::map<std::string, std::string>& places) {
    std::vector<std::string> found;
    for (const auto& [place, text] : places)
        if (text.find(secret) != std::string::npos) found.push_back(place);
    return found;
}

std::string CorePattern() { return ReadFile("/proc/sys/kernel/core_pattern"); }

TEST(LoginSecrecy, NowhereButInTheProtectedValues) {
    Describe(
        "a PostgreSQL login of its own: searched in the process's arguments and environment, its output, "
        "the system log (also when the login is refused), the hive file and a core dump");
    if (!PgAvailable()) GTEST_SKIP() << "no PostgreSQL here";
    Sandbox box;
    PgStore pg(box.file("pg"));
    const std::string user = "rel_login_q7x3";
    const std::string password = "Pw-" + Hex(std::to_string(getpid()) + "zK9") + "-secret";
    pg.Admin("CREATE ROLE " + user + " LOGIN PASSWORD '" + password + "'");
    pg.Admin("GRANT SELECT ON ALL TABLES IN SCHEMA public TO " + user);
    modCrypt::SetPassphrase();
    box.Configure(pg.Server(), {Sandbox::Record(false, true, false)});
    box.Set("Trusted_Connection", "No");
    box.Set("Username", modCrypt::ProtectValue("USR", user));
    box.Set("Password", modCrypt::ProtectValue("PWD", password));
    for (const auto& [name, value] : pg.Env()) box.env()[name] = value;
    LogReceiver& log = box.log();
    Service svc(box);
    svc.StartReady();
    auto events = pg.AddNumbered(3);
    ASSERT_TRUE(WaitUntil([&] { return log.Count("110") >= 3; }, 30s)) << svc.Stderr();

    // The login refused: the entry about the lost connection must not name it.
    pg.Admin("ALTER ROLE " + user + " PASSWORD 'changed-elsewhere'");
    // The session the service keeps between checks outlives a password change:
    // end it, so that the next check logs in again.
    pg.Admin("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = '" + user + "'");
    pg.AddNumbered(1);
    bool refused = WaitUntil([&] { return log.Count("111") >= 1; }, 30s);
    EXPECT_TRUE(refused);

    std::string datagrams;
    for (const auto& d : log.All()) datagrams += d + "\n";
    std::map<std::string, std::string> places = {
        {"arguments", svc.Cmdline()},     {"environment", svc.Environ()},
        {"standard error", svc.Stderr()}, {"standard output", ReadFile(box.file("service.out"))},
        {"system log", datagrams},        {"hive file", ReadFile(box.hive())},
    };

    // A core dump, where the kernel writes one into the working folder.
    std::string core;
    const bool coreToFolder = CorePattern().rfind("core", 0) == 0;
    if (coreToFolder) {
        rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
        prlimit(svc.pid(), RLIMIT_CORE, &unlimited, nullptr);
        svc.Signal(SIGABRT);
        svc.Wait(30s);
        for (const auto& entry : fs::directory_iterator(box.dir()))
            if (entry.path().filename().string().rfind("core", 0) == 0) core = entry.path().string();
        if (!core.empty()) places["core dump"] = ReadFile(core);
    }
    Figure("core_dump_written", core.empty() ? "no" : "yes");

    auto userFound = PlacesHolding(user, places);
    auto passwordFound = PlacesHolding(password, places);
    std::string where;
    for (const auto& p : userFound) where += "user name in " + p + "; ";
    for (const auto& p : passwordFound) where += "password in " + p + "; ";
    Figure("places_searched", static_cast<double>(places.size()));
    Figure("places_holding_the_login", where.empty() ? "none" : where);
    for (const auto& m : log.Messages("111")) Figure("entry_111_text", m);
    EXPECT_TRUE(userFound.empty()) << where;
    EXPECT_TRUE(passwordFound.empty()) << where;
    Outcome(where.empty() ? "the login appears nowhere" : "found: " + where);
}

// --- a hive that others can write -----------------------------------------------------------------

TEST(UnsafeHive, ServiceRefusesAndTelwickRegWarns) {
    Describe("running as root with a hive that every user may write (mode 0666)");
    if (geteuid() != 0) GTEST_SKIP() << "the check is made only for root";
    Sandbox box;
    SqliteStore db(box.file("corvane.db"));
    box.Configure(db.Server(), {Sandbox::Record(false, true, false)});
    chmod(box.hive().c_str(), 0666);
    box.log();

    std::string out;
    int query = RunProgram({TELWICK_REG_PATH, "query", "HKLM\\SOFTWARE\\Corvane\\Telwick", "/v", "Server"}, &out);
    Figure("reg_query_status", query);
    EXPECT_EQ(query, 0) << out;
    EXPECT_NE(out.find("chmod"), std::string::npos) << "telwick-reg gave no warning:\n" << out;

    Service svc(box);
    svc.Start();
    int status = svc.Wait(20s);
    Figure("service_exit_status", status);
    Figure("service_message", svc.Stderr());
    EXPECT_NE(status, 0) << "the service ran with a hive that others can write";
    EXPECT_GE(status, 0) << "the service is still running";
    EXPECT_NE(svc.Stderr().find("chmod"), std::string::npos) << svc.Stderr();
    Outcome(status > 0 ? "service refused to start, telwick-reg warned" : "service started anyway");
}

}  // namespace
}  // namespace telwick::reliability
