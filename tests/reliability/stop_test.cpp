// A stop or a pause that comes while the service without a display is busy:
// half-way through a long window, while another process holds the database
// locked, while a server does not answer, and in the pause between reconnect
// attempts. Also the console lines that carry text from remote computers, and
// a standard error whose reader has gone.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <sstream>

#include "harness.h"

namespace telwick::reliability {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

int CountBoxes(const Service& svc) {
    int n = 0;
    for (const auto& line : Lines(svc.Stderr()))
        if (line.rfind("[Telwick] Event ", 0) == 0) ++n;
    return n;
}

// The line the service writes when a stop had to end it without its unload.
constexpr const char* EndedAtOnce = "ended at once";

// A server that takes connections and never says a word.
class SilentServer {
public:
    SilentServer() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd_, 16) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("cannot listen");
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (poll(&p, 1, 50) <= 0) continue;
                int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) {
                    std::lock_guard lock(mutex_);
                    clients_.push_back(c);
                }
            }
        });
    }
    ~SilentServer() {
        stop_ = true;
        thread_.join();
        for (int c : clients_) close(c);
        close(fd_);
    }
    int port() const { return port_; }
    size_t Accepted() {
        std::lock_guard lock(mutex_);
        return clients_.size();
    }

private:
    int fd_ = -1, port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<int> clients_;
    std::thread thread_;
};

// The world of one stop case; the case brings the service into its state.
struct StopWorld {
    Sandbox box;
    std::unique_ptr<SqliteStore> db;
    std::unique_ptr<Service> svc;
    std::unique_ptr<SilentServer> server;
    sqlite3* lock = nullptr;
    int boxesAtStop = -1;
    bool frozen = false;  // held with SIGSTOP: SIGCONT follows the SIGTERM
    ~StopWorld() {
        if (lock) sqlite3_close(lock);
    }
    void Start(const std::string& server, std::vector<std::string> records, bool ready = true) {
        box.Configure(server, records);
        svc = std::make_unique<Service>(box);
        if (ready) svc->StartReady();
        else svc->Start();
    }
};

constexpr int WindowEvents = 5000;

struct StopCase {
    const char* name;
    const char* what;
    std::function<void(StopWorld&)> reach;
    bool unload;  // the stop goes the normal way, through the unload
};
void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StopInEveryState : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopInEveryState, EndsWithinASecondWithStatusZero) {
    const StopCase& c = GetParam();
    Describe(c.what);
    StopWorld w;
    w.db = std::make_unique<SqliteStore>(w.box.file("corvane.db"));
    c.reach(w);
    if (HasFatalFailure() || IsSkipped()) return;
    ASSERT_TRUE(w.svc->Running()) << w.svc->Stderr();

    const auto begin = Clock::now();
    w.svc->Signal(SIGTERM);
    if (w.frozen) w.svc->Signal(SIGCONT);
    const int status = w.svc->Wait(30s);
    const double seconds = SecondsSince(begin);
    Figure("stop_seconds", seconds);
    Figure("exit_status", status);
    EXPECT_EQ(status, 0) << w.svc->Stderr();
    EXPECT_LT(seconds, 1.0);
    const bool atOnce = w.svc->Stderr().find(EndedAtOnce) != std::string::npos;
    Figure("ended_without_unload", atOnce ? "yes" : "no");
    EXPECT_EQ(atOnce, !c.unload) << w.svc->Stderr();
    std::string rows;
    if (w.boxesAtStop >= 0) {
        // The row under way is finished; the rest of the window is left alone.
        const int after = CountBoxes(*w.svc) - w.boxesAtStop;
        Figure("rows_acted_on_after_stop", after);
        Figure("rows_left", WindowEvents - CountBoxes(*w.svc));
        EXPECT_LE(after, 1);
        EXPECT_GT(WindowEvents - CountBoxes(*w.svc), 0) << "the window was done before the stop";
        rows = ", " + std::to_string(after) + " row(s) acted on after it";
    }
    Outcome("exit " + std::to_string(status) + " after " + std::to_string(seconds).substr(0, 5) + " s" + rows);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StopInEveryState,
    ::testing::Values(
        StopCase{"MidWindow",
                 "SIGTERM half-way through a window of 5,000 events with batch program and message box (on "
                 "standard error)",
                 [](StopWorld& w) {
                     w.Start(w.db->Server(), {Sandbox::Record(true, false, true, w.box.ProbePath())});
                     w.db->AddNumbered(WindowEvents);
                     ASSERT_TRUE(WaitUntil([&] { return CountBoxes(*w.svc) >= 200; }, 60s)) << w.svc->Stderr();
                     // Held still while the lines are counted; SIGTERM then
                     // finds it exactly there.
                     w.svc->Signal(SIGSTOP);
                     std::this_thread::sleep_for(100ms);
                     w.boxesAtStop = CountBoxes(*w.svc);
                     w.frozen = true;
                 },
                 true},
        StopCase{"LockedDatabase",
                 "SIGTERM while five monitors wait on a SQLite database that another process holds locked",
                 [](StopWorld& w) {
                     std::vector<std::string> records(5, Sandbox::Record(false, true, false));
                     w.box.log();
                     w.Start(w.db->Server(), records);
                     ASSERT_EQ(sqlite3_open(w.db->Server().c_str(), &w.lock), SQLITE_OK);
                     ASSERT_EQ(sqlite3_exec(w.lock, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
                     std::this_thread::sleep_for(1500ms);  // several ticks: a check waits on the lock
                 },
                 true},
        StopCase{"ReconnectBackoff",
                 "SIGTERM in the pause between reconnect attempts (the SQLite file moved away)",
                 [](StopWorld& w) {
                     LogReceiver& log = w.box.log();
                     w.Start(w.db->Server(), {Sandbox::Record(false, true, false)});
                     std::rename(w.db->Server().c_str(), w.box.file("corvane.away").c_str());
                     ASSERT_TRUE(WaitUntil([&] { return log.Count("111") >= 1; }, 20s)) << w.svc->Stderr();
                     std::this_thread::sleep_for(300ms);
                 },
                 true},
        StopCase{"ServerSilent",
                 "SIGTERM while the connection to a SQL Server that accepts and never answers is being opened",
                 [](StopWorld& w) {
                     if (ReadFile("/etc/odbcinst.ini").find("[FreeTDS]") == std::string::npos)
                         GTEST_SKIP() << "no FreeTDS driver here";
                     w.server = std::make_unique<SilentServer>();
                     w.box.log();
                     w.Start("127.0.0.1," + std::to_string(w.server->port()), {Sandbox::Record(false, true, false)},
                             false);
                     ASSERT_TRUE(WaitUntil([&] { return w.server->Accepted() >= 1; }, 30s)) << w.svc->Stderr();
                     std::this_thread::sleep_for(300ms);
                 },
                 false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PauseMidWindow, NoRowAfterThePauseAndTheRestAfterTheContinue) {
    Describe("SIGTSTP half-way through a window of 5,000 events (batch program, message box on standard error), "
             "SIGCONT 1.5 s later");
    Sandbox box;
    SqliteStore db(box.file("corvane.db"));
    box.Configure(db.Server(), {Sandbox::Record(true, false, true, box.ProbePath())});
    Service svc(box);
    svc.StartReady();
    auto events = db.AddNumbered(WindowEvents);
    ASSERT_TRUE(WaitUntil([&] { return CountBoxes(svc) >= 200; }, 60s)) << svc.Stderr();
    svc.Signal(SIGTSTP);
    const int atPause = CountBoxes(svc);
    std::this_thread::sleep_for(300ms);
    const int settled = CountBoxes(svc);
    std::this_thread::sleep_for(1200ms);
    const int later = CountBoxes(svc);
    Figure("rows_acted_on_after_pause", settled - atPause);
    Figure("rows_acted_on_while_paused", later - settled);
    EXPECT_LE(settled - atPause, 1);
    EXPECT_EQ(later, settled);
    EXPECT_LT(later, WindowEvents);

    svc.Signal(SIGCONT);
    EXPECT_TRUE(WaitUntil([&] { return CountBoxes(svc) >= WindowEvents; }, 120s, 100ms));
    std::this_thread::sleep_for(600ms);
    std::vector<std::string> texts;
    for (const auto& line : Lines(svc.Stderr()))
        if (line.rfind("[Telwick] ", 0) == 0) texts.push_back(line.substr(10));
    Tally t = Compare(events, texts);
    RecordTally("", t);
    EXPECT_EQ(t.missing, 0);
    EXPECT_EQ(t.duplicates, 0);
    EXPECT_EQ(svc.Stop(), 0);
    Outcome(std::to_string(settled - atPause) + " row(s) after SIGTSTP, " + std::to_string(later - settled) +
            " while paused; after SIGCONT " + std::to_string(t.reported) + " of " + std::to_string(t.expected) +
            " once");
}

// --- the console lines -------------------------------------------------------------------

TEST(ConsoleLines, TextFromRemoteComputersStaysOneLine) {
    Describe("event text with CR, LF and ESC that imitates further lines, shown as a console message box and as "
             "an event-log line on standard error (no logger)");
    Sandbox box;
    SqliteStore db(box.file("corvane.db"));
    const std::string text = "Disk %1 full\r\n[Telwick] forged box\nTelwick[110]: forged entry\r\x1b[2J";
    db.SetMessage(901, &text);
    box.Configure(db.Server(), {Sandbox::Record(true, true, false)});
    Service svc(box);  // nothing listens at the logger's socket
    svc.StartReady();
    const std::string param = "C:";
    db.AddEvent(901, &param);
    const std::string shown = "Disk C: full  [Telwick] forged box Telwick[110]: forged entry \\x1b[2J";
    ASSERT_TRUE(WaitUntil([&] { return svc.Stderr().find("Telwick[110]: Disk") != std::string::npos; }, 20s))
        << svc.Stderr();
    std::this_thread::sleep_for(300ms);
    int forged = 0;
    std::set<std::string> lines;
    for (const auto& line : Lines(svc.Stderr())) {
        if (line.find("forged") != std::string::npos) lines.insert(line);
        if (line.rfind("[Telwick] forged", 0) == 0 || line.rfind("Telwick[110]: forged", 0) == 0) ++forged;
    }
    Figure("forged_lines", forged);
    EXPECT_EQ(forged, 0) << svc.Stderr();
    EXPECT_EQ(lines, (std::set<std::string>{"[Telwick] " + shown, "Telwick[110]: " + shown})) << svc.Stderr();
    EXPECT_EQ(svc.Stop(), 0);
    Outcome(std::to_string(forged) + " forged lines; box and entry each one line");
}

TEST(BrokenStderr, ServiceGoesOnAndTheLoggerGetsEveryEntry) {
    Describe("standard error a pipe whose reader has gone; message boxes and event-log entries for 10 events");
    Sandbox box;
    SqliteStore db(box.file("corvane.db"));
    box.Configure(db.Server(), {Sandbox::Record(true, true, false)});
    LogReceiver& log = box.log();
    Service svc(box);
    svc.StderrToClosedPipe();
    svc.StartReady();
    auto first = db.AddNumbered(5);
    WaitUntil([&] { return log.Count("110") >= 5; }, 20s);
    auto second = db.AddNumbered(5);
    first.insert(first.end(), second.begin(), second.end());
    EXPECT_TRUE(WaitUntil([&] { return log.Count("110") >= 10; }, 20s));
    std::this_thread::sleep_for(300ms);
    Tally t = Compare(first, log.Messages("110"));
    RecordTally("", t);
    EXPECT_EQ(t.missing, 0);
    EXPECT_TRUE(svc.Running());
    const int status = svc.Stop();
    Figure("exit_status", status);
    EXPECT_EQ(status, 0);
    Outcome(std::to_string(t.reported) + " of 10 entries reached the logger; exit " + std::to_string(status));
}

}  // namespace
}  // namespace telwick::reliability
