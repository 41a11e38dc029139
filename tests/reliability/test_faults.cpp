// Faults around a running service: the batch program gone or misbehaving, a
// system log that stops reading or is missing, a burst of events, telwick-reg
// killed while it writes the hive.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "reliability/harness.h"
#include "platform/posix/hive.h"
#include "settings/registry.h"

namespace telwick::reliability {
namespace {

namespace fs = std::filesystem;

// A copy of the probe that a test may spoil.
std::string CopyProbe(Sandbox& box, const std::string& name = "job") {
    std::string path = box.file(name);
    fs::copy_file(box.ProbePath(), path, fs::copy_options::overwrite_existing);
    chmod(path.c_str(), 0755);
    return path;
}

int CountLines(const std::string& text, const std::string& prefix) {
    std::istringstream in(text);
    std::string line;
    int n = 0;
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0) ++n;
    return n;
}

// --- the batch program --------------------------------------------------------------

struct BatchCase {
    const char* name;
    const char* what;
    const char* mode;                                     // TELWICK_PROBE_MODE
    std::function<void(const std::string& batch)> spoil;  // after the first five events
    int runs;                                             // probe runs expected in all
};
void PrintTo(const BatchCase& c, std::ostream* os) { *os << c.name; }

class BatchFaults : public ::testing::TestWithParam<BatchCase> {};

TEST_P(BatchFaults, ServiceGoesOnAndLeavesNoZombie) {
    const BatchCase& c = GetParam();
    std::string batch;
    SqliteCase run(c.what, [&](Sandbox& box) {
        batch = CopyProbe(box);
        return std::vector<std::string>{Sandbox::Record(false, true, true, batch)};
    });
    auto& [box, db, svc] = run;
    if (c.mode) box.env()["TELWICK_PROBE_MODE"] = c.mode;
    LogReceiver& log = run.Start();

    auto first = db.AddNumbered(5);
    ASSERT_TRUE(WaitUntil([&] { return log.Count("110") >= 5; }, 20s)) << svc.Stderr();
    if (c.spoil) c.spoil(batch);
    auto second = db.AddNumbered(5);
    ASSERT_TRUE(WaitUntil([&] { return log.Count("110") >= 10; }, 20s)) << svc.Stderr();
    WaitUntil([&] { return static_cast<int>(box.ProbeRuns().size()) >= c.runs; }, 30s);
    std::this_thread::sleep_for(600ms);  // a few more ticks: nothing may come twice

    Tally t = Compare(Join(first, second), log.Messages("110"));
    RecordTally("", t);
    EXPECT_EQ(t.missing, 0);
    EXPECT_EQ(t.duplicates, 0);
    int runs = static_cast<int>(box.ProbeRuns().size());
    Figure("batch_runs", runs);
    EXPECT_EQ(runs, c.runs);
    EXPECT_TRUE(svc.Running());

    // Hanging programs are ended from outside; the service reaps them.
    size_t children = svc.Children().size();
    Figure("children_running", static_cast<double>(children));
    std::istringstream pids(ReadFile(box.probeOut() + ".pids"));
    pid_t pid;
    while (pids >> pid) kill(pid, SIGKILL);
    bool reaped = WaitUntil([&] { return svc.Zombies().empty(); }, 10s);
    Figure("zombies_left", static_cast<double>(svc.Zombies().size()));
    EXPECT_TRUE(reaped) << svc.Zombies().size() << " zombie children";
    int status = svc.Stop();
    Figure("exit_status", status);
    EXPECT_EQ(status, 0) << svc.Stderr();
    Outcome(std::to_string(t.reported) + " of " + std::to_string(t.expected) + " events logged once, " +
            std::to_string(runs) + " batch runs, " + (reaped ? "no zombie" : "zombies left"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BatchFaults,
    ::testing::Values(BatchCase{"Deleted", "batch file deleted while the service runs", nullptr,
                                [](const std::string& b) { fs::remove(b); }, 5},
                      BatchCase{"NotExecutable", "batch file made non-executable while the service runs", nullptr,
                                [](const std::string& b) { chmod(b.c_str(), 0644); }, 5},
                      BatchCase{"Hangs", "batch program that never ends (sleeps), killed from outside at the end",
                                "hang", nullptr, 10},
                      BatchCase{"Floods", "batch program that writes 8 MiB to standard output and standard error",
                                "flood", nullptr, 10}),
    [](const auto& info) { return std::string(info.param.name); });

// --- the system log -----------------------------------------------------------------------

TEST(SystemLogFaults, ReceiverThatStopsReading) {
    SqliteCase run(
        "system-log receiver stops reading for 6 s (its queue fills), then reads again; stop asked during a "
        "stall");
    auto& [box, db, svc] = run;
    LogReceiver& log = run.Start();

    log.Pause(true);
    auto during = db.AddNumbered(25);
    std::this_thread::sleep_for(6s);
    EXPECT_TRUE(svc.Running());
    double cpu = svc.CpuSeconds();
    log.Pause(false);
    auto after = db.AddNumbered(5);
    ASSERT_TRUE(WaitUntil(
        [&] {
            auto counts = CountNumbered(log.Messages("110"));
            for (int nr : after)
                if (!counts.count(nr)) return false;
            return true;
        },
        60s))
        << svc.Stderr();
    std::this_thread::sleep_for(600ms);
    Tally t = Compare(Join(during, after), log.Messages("110"));
    RecordTally("", t);
    Figure("cpu_s_in_stall", cpu);
    EXPECT_EQ(t.duplicates, 0);
    // A send waits about two seconds, the next ones briefly while the stall
    // lasts; the entries not taken went to standard error instead.
    Figure("entries_on_stderr", t.missing);
    EXPECT_EQ(CountLines(svc.Stderr(), "Telwick[110]: Event "), t.missing) << svc.Stderr();

    // A stop that arrives while a send waits ends the service soon after.
    log.Pause(true);
    db.AddNumbered(15);
    std::this_thread::sleep_for(3s);
    auto begin = std::chrono::steady_clock::now();
    int status = svc.Stop(15s);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    Figure("stop_seconds_during_stall", seconds);
    EXPECT_EQ(status, 0) << svc.Stderr();
    // The goal is under a second (the figure above); the bound leaves room
    // for a sanitizer build on a loaded machine.
    EXPECT_LT(seconds, 5.0);
    Outcome(std::to_string(t.missing) + " entries on standard error after the send bound, none twice; stop took " +
            std::to_string(seconds).substr(0, 4) + " s");
}

TEST(SystemLogFaults, NoReceiverAtAll) {
    SqliteCase run("no system logger (socket missing): entries go to standard error");
    auto& [box, db, svc] = run;
    svc.StartReady();
    auto events = db.AddNumbered(10);
    ASSERT_TRUE(WaitUntil([&] { return CountLines(svc.Stderr(), "Telwick[110]: ") >= 10; }, 20s)) << svc.Stderr();
    std::this_thread::sleep_for(600ms);
    std::vector<std::string> texts;
    std::istringstream in(svc.Stderr());
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("Telwick[110]: ", 0) == 0) texts.push_back(line.substr(14));
    Tally t = Compare(events, texts);
    RecordTally("", t);
    EXPECT_EQ(t.missing, 0);
    EXPECT_EQ(t.duplicates, 0);
    EXPECT_EQ(svc.Stop(), 0);
    Outcome("every entry once on standard error");
}

// A logger on a stream socket, reading NUL-terminated records on a thread of its own.
class StreamLogger {
public:
    explicit StreamLogger(const std::string& path) {
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(listener_, 8) != 0)
            throw std::runtime_error("cannot listen at " + path);
        thread_ = std::thread([this] {
            int peer;
            while ((peer = accept(listener_, nullptr, nullptr)) >= 0) {
                char buf[8192];
                ssize_t n;
                while ((n = read(peer, buf, sizeof(buf))) > 0) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    bytes_.append(buf, static_cast<size_t>(n));
                }
                close(peer);
            }
        });
    }
    ~StreamLogger() {
        shutdown(listener_, SHUT_RDWR);  // accept gives up; the service has closed its end
        thread_.join();
        close(listener_);
    }
    std::vector<std::string> Records() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> records;
        for (size_t at = 0, end; (end = bytes_.find('\0', at)) != std::string::npos; at = end + 1)
            records.push_back(bytes_.substr(at, end - at));
        return records;
    }

private:
    int listener_ = -1;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::string bytes_;
};

std::vector<std::string> LinesAfter(const std::string& text, const std::string& prefix) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0) out.push_back(line.substr(prefix.size()));
    return out;
}

enum class Logger { Stream, Refusing };
struct LoggerCase {
    const char* name;
    const char* what;
    Logger kind;
};
void PrintTo(const LoggerCase& c, std::ostream* os) { *os << c.name; }

class LoggerThatCannotTakeEntries : public ::testing::TestWithParam<LoggerCase> {};

TEST_P(LoggerThatCannotTakeEntries, CostsTheRowNoAction) {
    const LoggerCase& c = GetParam();
    Describe(c.what);
    Sandbox box;
    SqliteStore db(box.file("corvane.db"));
    box.Configure(db.Server(), {Sandbox::Record(true, true, true, box.ProbePath())});
    std::unique_ptr<StreamLogger> stream;
    int refusing = -1, partner = -1;
    if (c.kind == Logger::Stream) {
        stream = std::make_unique<StreamLogger>(box.logSocket());
    } else {
        // A datagram socket connected to another one refuses everybody else (EPERM).
        auto bound = [](const std::string& path) {
            int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
            if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) throw std::runtime_error(path);
            return fd;
        };
        refusing = bound(box.logSocket());
        partner = bound(box.file("partner.sock"));
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, box.file("partner.sock").c_str());
        ASSERT_EQ(connect(refusing, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    }
    Service svc(box);
    svc.StartReady();
    auto events = db.AddNumbered(5);
    const auto Entries = [&] {
        std::vector<std::string> entries;
        if (stream) {
            for (const auto& r : stream->Records())
                if (telwick::test::SyslogReceiver::MsgIdOf(r) == "110")
                    entries.push_back(telwick::test::SyslogReceiver::MessageOf(r));
        } else {
            entries = LinesAfter(svc.Stderr(), "Telwick[110]: ");
        }
        return entries;
    };
    // The logger's thread may read its stream late on a loaded machine: the
    // entries are waited for too (what is missing then shows below).
    WaitUntil(
        [&] {
            return box.ProbeRuns().size() >= 5 && CountLines(svc.Stderr(), "[Telwick] ") >= 5 &&
                   Compare(events, Entries()).missing == 0;
        },
        30s);
    std::this_thread::sleep_for(600ms);

    const std::vector<std::string> entries = Entries();
    Tally logged = Compare(events, entries);
    Tally boxes = Compare(events, LinesAfter(svc.Stderr(), "[Telwick] "));
    RecordTally("", logged);
    Figure("batch_runs", static_cast<double>(box.ProbeRuns().size()));
    Figure("message_boxes", static_cast<double>(boxes.reported));
    EXPECT_EQ(logged.missing, 0) << svc.Stderr();
    EXPECT_EQ(logged.duplicates, 0);
    EXPECT_EQ(boxes.missing, 0);
    EXPECT_EQ(box.ProbeRuns().size(), events.size());
    EXPECT_EQ(svc.Stop(), 0) << svc.Stderr();
    if (refusing >= 0) close(refusing);
    if (partner >= 0) close(partner);
    Outcome(std::to_string(logged.reported) + " of 5 entries " + (stream ? "on the stream" : "on standard error") +
            ", " + std::to_string(box.ProbeRuns().size()) + " batch runs, " + std::to_string(boxes.reported) +
            " message boxes");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoggerThatCannotTakeEntries,
    ::testing::Values(
        LoggerCase{"StreamSocket",
                   "the logger's socket is a stream socket (a datagram connect fails with EPROTOTYPE); "
                   "event log, batch and message box on",
                   Logger::Stream},
        LoggerCase{"RefusingSocket",
                   "the logger's socket refuses every entry (EPERM); event log, batch and message box on",
                   Logger::Refusing}),
    [](const auto& info) { return std::string(info.param.name); });

// --- standard error carries only our own lines --------------------------------------------------

TEST(OwnLinesOnly, StartAsRootWithAnEmptyEnvironment) {
    Describe(
        "started as root as systemd starts a system service: no environment but the hive (no XDG_RUNTIME_DIR, "
        "HOME, PATH or syslog socket), /run private; standard error until the first event");
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    if (access("/usr/bin/unshare", X_OK) != 0 || RunProgram({"/usr/bin/unshare", "-m", "true"}) != 0)
        GTEST_SKIP() << "the kernel refuses a private mount namespace here";
    Sandbox box;
    SqliteStore db(box.file("corvane.db"));
    box.Configure(db.Server(), {Sandbox::Record(true, false, false)});
    // The service's /run is a folder of the test, so the runtime folder it makes
    // is seen here and nothing is left on the machine.
    fs::create_directories(box.file("run"));
    box.launcher() = {"/usr/bin/unshare",
                      "-m",
                      "--propagation",
                      "private",
                      "/bin/sh",
                      "-c",
                      "/bin/mount --bind \"$0\" /run && exec \"$@\"",
                      box.file("run")};
    box.SetBareEnvironment(true);
    box.env() = {{"TELWICK_REGISTRY", box.hive()}};
    Service svc(box);
    svc.StartReady();
    std::this_thread::sleep_for(1s);  // a few ticks
    const std::string beforeEvent = svc.Stderr();
    auto events = db.AddNumbered(1);
    ASSERT_TRUE(WaitUntil([&] { return CountLines(svc.Stderr(), "[Telwick] ") >= 1; }, 20s)) << svc.Stderr();
    struct stat st {};
    const bool made = stat(box.file("run/telwick").c_str(), &st) == 0;
    Figure("stderr_bytes_before_first_event", static_cast<double>(beforeEvent.size()));
    EXPECT_EQ(beforeEvent, "");
    EXPECT_EQ(svc.Stderr(), "[Telwick] Event " + std::to_string(events[0]) + "\n");
    EXPECT_TRUE(made && S_ISDIR(st.st_mode) && (st.st_mode & 07777) == 0700 && st.st_uid == 0);
    EXPECT_EQ(svc.Stop(), 0) << svc.Stderr();
    Outcome(beforeEvent.empty()
                ? "nothing on standard error before the first event; runtime folder /run/telwick, 0700"
                : "standard error before the first event: " + beforeEvent);
}

// --- many events at once ---------------------------------------------------------------------

TEST(Burst, TenThousandEventsWithAllActions) {
    // The sanitizer build runs a smaller burst ($TELWICK_BURST_EVENTS).
    const char* scale = std::getenv("TELWICK_BURST_EVENTS");
    const int Count = scale && std::atoi(scale) > 0 ? std::atoi(scale) : 10000;
    SqliteCase run(
        std::to_string(Count) + " matching events stored at once; event log, batch and message box on, no display",
        {Sandbox::Record(true, true, true, Sandbox::ProbePath())});
    auto& [box, db, svc] = run;
    LogReceiver& log = run.Start();
    std::this_thread::sleep_for(500ms);
    long baseline = svc.PeakRssKiB();

    db.Exec("BEGIN; WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < " +
            std::to_string(Count) +
            ") INSERT INTO t_eventLog (computernr, eventtypenr, levelnr, messagenr) SELECT 1, 1, 1, 900 FROM n; "
            "UPDATE t_eventLog SET parameter = CAST(eventlognr AS TEXT) WHERE parameter IS NULL; COMMIT;");
    auto begin = std::chrono::steady_clock::now();
    bool done =
        WaitUntil([&] { return EntriesWritten(log, svc).size() >= static_cast<size_t>(Count); }, 240s, 200ms);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_TRUE(done) << EntriesWritten(log, svc).size() << " entries";
    WaitUntil([&] { return box.ProbeRuns().size() >= static_cast<size_t>(Count); }, 120s, 200ms);
    std::this_thread::sleep_for(600ms);

    std::vector<int> stored;
    for (int i = 1; i <= Count; ++i) stored.push_back(i);
    Tally t = Compare(stored, EntriesWritten(log, svc));
    RecordTally("", t);
    Figure("entries_on_stderr", static_cast<double>(EntriesOnStderr(svc)));
    EXPECT_EQ(t.missing, 0);
    EXPECT_EQ(t.duplicates, 0);
    size_t runs = box.ProbeRuns().size();
    int boxes = CountLines(svc.Stderr(), "[Telwick] Event ");
    long peak = svc.PeakRssKiB();
    Figure("seconds", seconds);
    Figure("events_per_second", Count / seconds);
    Figure("batch_runs", static_cast<double>(runs));
    Figure("message_boxes", boxes);
    Figure("peak_rss_before_mib", baseline / 1024.0);
    Figure("peak_rss_after_mib", peak / 1024.0);
    EXPECT_EQ(runs, static_cast<size_t>(Count));
    EXPECT_EQ(boxes, Count);
    // The rows stream and each one is finished before the next: the peak grows
    // by far less than the window would take if it were held.
    EXPECT_LT(peak - baseline, 64 * 1024) << "peak resident memory grew by " << (peak - baseline) / 1024 << " MiB";
    EXPECT_TRUE(WaitUntil([&] { return svc.Zombies().empty(); }, 10s));
    EXPECT_EQ(svc.Stop(), 0);
    Outcome("all " + std::to_string(t.reported) + " events with all three actions, peak RSS +" +
            std::to_string((peak - baseline) / 1024) + " MiB");
}

// --- telwick-reg killed while it writes ------------------------------------------------------------

TEST(HiveUnderKill, KilledWritersLeaveOldOrNewValue) {
    SqliteCase run(
        "telwick-reg add killed with SIGKILL at varying moments, 60 times, while the service runs and a reader "
        "reads");
    auto& [box, db, svc] = run;
    box.Set("Probe", "value-0");
    LogReceiver& log = run.Start();

    std::set<std::string> written = {"value-0"};
    std::mutex writtenMutex;
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0}, badReads{0};
    std::thread reader([&] {
        while (!stop) {
            std::string v = modRegistry::GetSetting("Probe");
            std::lock_guard lock(writtenMutex);
            if (!written.count(v)) badReads++;
            reads++;
        }
    });

    // How long one uninterrupted add takes: the kills are spread over that
    // time and a little beyond, from before the file is opened to after the
    // commit.
    auto calibrate = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i)
        RunProgram({TELWICK_REG_PATH, "add", "HKLM\\SOFTWARE\\Corvane\\Telwick", "/v", "Calibrate", "/d",
                    std::to_string(i), "/f"});
    const auto oneAdd =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - calibrate) / 3;
    Figure("add_microseconds", static_cast<double>(oneAdd.count()));

    std::string current = "value-0";
    int kept = 0, replaced = 0, wrong = 0;
    for (int i = 1; i <= 60; ++i) {
        std::string next = "value-" + std::to_string(i);
        {
            std::lock_guard lock(writtenMutex);
            written.insert(next);
        }
        std::vector<std::string> args = {
            TELWICK_REG_PATH, "add", "HKLM\\SOFTWARE\\Corvane\\Telwick", "/v", "Probe", "/d", next, "/f"};
        test::ChildOptions quiet;
        quiet.stdoutFile = quiet.stderrFile = "/dev/null";
        test::ChildProcess writer(args, quiet);
        // Kill at a different moment each time: from 0 to 1.2 times one add,
        // in an order that jumps about.
        std::this_thread::sleep_for(oneAdd * ((i * 37) % 60) / 50);
        writer.Signal(SIGKILL);
        writer.Wait();
        std::string now = modRegistry::GetSetting("Probe");
        if (now == current)
            kept++;
        else if (now == next)
            replaced++;
        else
            wrong++;
        current = now.empty() ? current : now;
    }
    stop = true;
    reader.join();

    std::string output;
    int queryStatus =
        RunProgram({TELWICK_REG_PATH, "query", "HKLM\\SOFTWARE\\Corvane\\Telwick", "/v", "Probe"}, &output);
    EXPECT_EQ(queryStatus, 0) << output;
    EXPECT_EQ(hive::Verify(), hive::Status::Ok) << hive::LastError();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(badReads.load(), 0);
    Figure("kills", 60);
    Figure("old_value_kept", kept);
    Figure("new_value_written", replaced);
    Figure("other_value", wrong);
    Figure("concurrent_reads", reads.load());
    Figure("reads_of_no_written_value", badReads.load());

    // The service still reads its database and reports.
    auto events = db.AddNumbered(3);
    EXPECT_TRUE(WaitUntil([&] { return log.Count("110") >= 3; }, 20s));
    EXPECT_EQ(Compare(events, log.Messages("110")).missing, 0);
    EXPECT_EQ(svc.Stop(), 0);
    Outcome("hive intact; each kill left the old (" + std::to_string(kept) + ") or the new (" +
            std::to_string(replaced) + ") value");
}

}  // namespace
}  // namespace telwick::reliability
