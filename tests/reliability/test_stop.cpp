// Stop and pause signals while the service (no display) is busy, in each state
// where it may wait; the console lines that carry remote text; a standard
// error whose reader has gone.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
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

// The process's state letter in /proc (T: stopped), or 0 when it is gone.
char State(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() ? 0 : stat[close + 2];
}

// Whether the process has the file open (the database it waits on).
bool HoldsOpen(pid_t pid, const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path file = fs::canonical(path, ec);
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
        if (fs::read_symlink(fd.path(), ec) == file) return true;
    return false;
}

int CountBoxes(const Service& svc) {
    int n = 0;
    for (const auto& line : Lines(svc.Stderr()))
        if (line.rfind("[Telwick] Event ", 0) == 0) ++n;
    return n;
}

// The world of one stop case; the case brings the service into its state.
struct StopWorld {
    Sandbox box;
    SqliteStore db{box.file("corvane.db")};
    std::unique_ptr<Service> svc;
    int listener = -1;  // a server that takes connections and never answers
    sqlite3* lock = nullptr;
    int boxesAtStop = -1;  // set when the service is held with SIGSTOP at the stop
    ~StopWorld() {
        if (lock) sqlite3_close(lock);
        if (listener >= 0) close(listener);
    }
    void Start(const std::string& server, const std::vector<std::string>& records, bool ready = true) {
        box.Configure(server, records);
        svc = std::make_unique<Service>(box);
        ready ? svc->StartReady() : svc->Start();
    }
    int Listen() {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        bind(listener, reinterpret_cast<sockaddr*>(&addr), len);
        listen(listener, 8);
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
        return ntohs(addr.sin_port);
    }
    bool Connected() const {  // a connection waits to be taken
        pollfd p{listener, POLLIN, 0};
        return poll(&p, 1, 0) == 1;
    }
};

constexpr int WindowEvents = 5000;

// Half-way through a window: a pause holds before the next row and the
// continue takes up the very next one; then the stop comes with the service
// held still (SIGSTOP), so that the rows acted on after it are counted exactly.
void PauseThenStopMidWindow(StopWorld& w) {
    w.Start(w.db.Server(), {Sandbox::Record(true, false, true, w.box.ProbePath())});
    const auto events = w.db.AddNumbered(WindowEvents);
    ASSERT_TRUE(WaitUntil([&] { return CountBoxes(*w.svc) >= 200; }, 60s)) << w.svc->Stderr();
    w.svc->Signal(SIGTSTP);
    const int atPause = CountBoxes(*w.svc);
    // The service says it is paused once the check has ended (after the row
    // under way, however long a loaded machine takes over it); then nothing
    // more comes.
    ASSERT_NE(w.svc->WaitNotify("STATUS=Paused"), "") << w.svc->Stderr();
    const int settled = CountBoxes(*w.svc);
    std::this_thread::sleep_for(1s);
    Figure("rows_acted_on_after_pause", settled - atPause);
    EXPECT_LE(settled - atPause, 2);
    EXPECT_EQ(CountBoxes(*w.svc), settled) << "rows acted on while paused";
    w.svc->Signal(SIGCONT);
    ASSERT_TRUE(WaitUntil([&] { return CountBoxes(*w.svc) >= settled + 100; }, 60s));
    w.svc->Signal(SIGSTOP);
    ASSERT_TRUE(WaitUntil([&] { return State(w.svc->pid()) == 'T'; }, 10s, 10ms));
    w.boxesAtStop = CountBoxes(*w.svc);
    std::vector<std::string> texts;
    for (const auto& line : Lines(w.svc->Stderr()))
        if (line.rfind("[Telwick] ", 0) == 0) texts.push_back(line.substr(10));
    Tally t = Compare({events.begin(), events.begin() + w.boxesAtStop}, texts);
    EXPECT_EQ(t.missing + t.duplicates + t.unexpected, 0) << "the rows so far are not the window's first ones";
}

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
    c.reach(w);
    if (HasFatalFailure() || IsSkipped()) return;

    const auto begin = Clock::now();
    w.svc->Signal(SIGTERM);
    if (w.boxesAtStop >= 0) w.svc->Signal(SIGCONT);
    const int status = w.svc->Wait(30s);
    const double seconds = SecondsSince(begin);
    Figure("stop_seconds", seconds);
    EXPECT_EQ(status, 0) << w.svc->Stderr();
    // The goal is under a second (the figure above); the bound leaves room
    // for a sanitizer build on a loaded machine.
    EXPECT_LT(seconds, 5.0);
    const bool atOnce = w.svc->Stderr().find("ended at once") != std::string::npos;
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
                 "5,000 events with batch program and message box (on standard error): SIGTSTP half-way, "
                 "SIGCONT, then SIGTERM",
                 PauseThenStopMidWindow, true},
        StopCase{"LockedDatabase",
                 "SIGTERM while five monitors wait on a SQLite database that another process holds locked",
                 [](StopWorld& w) {
                     w.box.log();
                     w.Start(w.db.Server(), std::vector<std::string>(5, Sandbox::Record(false, true, false)));
                     ASSERT_EQ(sqlite3_open(w.db.Server().c_str(), &w.lock), SQLITE_OK);
                     ASSERT_EQ(sqlite3_exec(w.lock, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
                     std::this_thread::sleep_for(1500ms);  // several ticks: a check waits on the lock
                 },
                 true},
        StopCase{"LockedAtStart",
                 "SIGTERM while five monitors are being loaded from a SQLite database that another process holds "
                 "locked",
                 [](StopWorld& w) {
                     ASSERT_EQ(sqlite3_open(w.db.Server().c_str(), &w.lock), SQLITE_OK);
                     ASSERT_EQ(sqlite3_exec(w.lock, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
                     w.Start(w.db.Server(), std::vector<std::string>(5, Sandbox::Record(false, true, false)),
                             false);
                     // The load has the file open and waits on the lock (however
                     // long a loaded machine takes to start the program).
                     ASSERT_TRUE(WaitUntil([&] { return HoldsOpen(w.svc->pid(), w.db.Server()); }, 30s, 10ms));
                     std::this_thread::sleep_for(300ms);
                 },
                 true},
        StopCase{"ReconnectBackoff",
                 "SIGTERM in the pause between reconnect attempts (the SQLite file moved away)",
                 [](StopWorld& w) {
                     LogReceiver& log = w.box.log();
                     w.Start(w.db.Server(), {Sandbox::Record(false, true, false)});
                     std::rename(w.db.Server().c_str(), w.box.file("corvane.away").c_str());
                     ASSERT_TRUE(WaitUntil([&] { return log.Count("111") >= 1; }, 20s)) << w.svc->Stderr();
                     std::this_thread::sleep_for(300ms);
                 },
                 true},
        StopCase{"ServerSilent",
                 "SIGTERM while the connection to a SQL Server that accepts and never answers is being opened",
                 [](StopWorld& w) {
                     if (ReadFile("/etc/odbcinst.ini").find("[FreeTDS]") == std::string::npos)
                         GTEST_SKIP() << "no FreeTDS driver here";
                     w.box.log();
                     w.Start("127.0.0.1," + std::to_string(w.Listen()), {Sandbox::Record(false, true, false)},
                             false);
                     ASSERT_TRUE(WaitUntil([&] { return w.Connected(); }, 30s)) << w.svc->Stderr();
                     std::this_thread::sleep_for(300ms);
                 },
                 true}),  // the wait for the server's answer ends at the stop request
    [](const auto& info) { return std::string(info.param.name); });

// --- the console lines -------------------------------------------------------------------

TEST(ConsoleLines, TextFromRemoteComputersStaysOneLine) {
    Describe(
        "event text with CR, LF and ESC that imitates further lines, shown as a console message box and as "
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
    const std::string shown = "Disk C: full\\r\\n[Telwick] forged box\\nTelwick[110]: forged entry\\r\\x1B[2J";
    ASSERT_TRUE(WaitUntil([&] { return svc.Stderr().find("Telwick[110]: Disk") != std::string::npos; }, 20s))
        << svc.Stderr();
    std::this_thread::sleep_for(300ms);
    std::set<std::string> lines;  // every line that holds a part of the text
    for (const auto& line : Lines(svc.Stderr()))
        if (line.find("forged") != std::string::npos) lines.insert(line);
    Figure("lines_with_the_text", static_cast<double>(lines.size()));
    EXPECT_EQ(lines, (std::set<std::string>{"[Telwick] " + shown, "Telwick[110]: " + shown})) << svc.Stderr();
    EXPECT_EQ(svc.Stop(), 0);
    Outcome("box and entry one line each, no forged line");
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
    auto events = db.AddNumbered(10);  // the first box line already meets the closed pipe
    EXPECT_TRUE(WaitUntil([&] { return log.Count("110") >= 10; }, 20s));
    std::this_thread::sleep_for(300ms);
    Tally t = Compare(events, log.Messages("110"));
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
