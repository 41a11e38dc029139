// The system-log sink: the datagram it sends, where it sends it, and what it
// does when nobody or a stuck logger listens.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/consoleline.h"
#include "platform/syslog.h"
#include "support/datagram.h"
#include "support/testenv.h"

using telwick::test::ReadFile;
using telwick::test::ScopedEnv;
using telwick::test::SyslogReceiver;
using telwick::test::TempDir;
namespace platform = telwick::platform;

namespace {

// A logger we can stop and restart.
class BoundSocket : public telwick::test::DatagramListener {
public:
    using DatagramListener::DatagramListener;
    std::string Receive() { return DatagramListener::Receive(std::chrono::seconds(10)).value_or(""); }
    void ConnectTo(const std::string& other) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, other.c_str(), other.size() + 1);
        if (connect(fd(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) ADD_FAILURE() << "connect";
    }
};

// 2026-12-07T04:28:59.123456Z
bool IsTimestamp(const std::string& t) {
    const std::string shape = "dddd-dd-ddTdd:dd:dd.ddddddZ";
    if (t.size() != shape.size()) return false;
    for (size_t i = 0; i < t.size(); ++i)
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(t[i])) : t[i] != shape[i]) return false;
    return true;
}

struct FormatCase {
    int16_t type;
    int32_t number;
    std::string text;
    int pri;
};

class SyslogFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(SyslogFormat, OneRfc5424DatagramPerEntry) {
    const FormatCase& c = GetParam();
    SyslogReceiver receiver;
    ASSERT_TRUE(platform::WriteEventLog(c.type, c.number, c.text));
    auto got = receiver.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    const std::string& d = got[0];

    // <PRI>1 TIMESTAMP HOSTNAME APP-NAME PROCID MSGID - MSG
    ASSERT_EQ(d.rfind("<" + std::to_string(c.pri) + ">1 ", 0), 0u) << d;
    std::vector<std::string> fields;
    size_t pos = d.find(' ') + 1;
    for (int i = 0; i < 6; ++i) {
        size_t end = d.find(' ', pos);
        ASSERT_NE(end, std::string::npos) << d;
        fields.push_back(d.substr(pos, end - pos));
        pos = end + 1;
    }
    EXPECT_TRUE(IsTimestamp(fields[0])) << fields[0];
    EXPECT_FALSE(fields[1].empty());
    for (char ch : fields[1]) EXPECT_TRUE(ch > 32 && ch < 127) << fields[1];
    EXPECT_EQ(fields[2], "Telwick");
    EXPECT_EQ(fields[3], std::to_string(getpid()));
    EXPECT_EQ(fields[4], std::to_string(c.number));
    EXPECT_EQ(fields[5], "-");
    EXPECT_EQ(d.substr(pos), c.text);  // byte for byte
    EXPECT_EQ(SyslogReceiver::MsgIdOf(d), std::to_string(c.number));
}

INSTANTIATE_TEST_SUITE_P(Entries, SyslogFormat,
                         ::testing::Values(FormatCase{platform::EventInformation, 110, "Disk C: is 95% full", 30},
                                           FormatCase{platform::EventError, 109, "[5] Invalid procedure call", 27},
                                           FormatCase{platform::EventInformation, 110, "", 30},
                                           FormatCase{platform::EventInformation, 110,
                                                      "two\nlines \"quoted\" ; & | `x` $(y)", 30},
                                           FormatCase{platform::EventInformation, 110,
                                                      "Gr\xC3\xBC\xC3\x9F"
                                                      "e \xE2\x82\xAC",
                                                      30}));

TEST(Syslog, OverlongTextIsCutNotRefused) {
    SyslogReceiver receiver;
    std::string text(200000, 'x');
    text[70000] = 'y';
    ASSERT_TRUE(platform::WriteEventLog(platform::EventInformation, 110, text));
    auto got = receiver.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_LE(got[0].size(), 64u * 1024u);
    std::string msg = SyslogReceiver::MessageOf(got[0]);
    EXPECT_GT(msg.size(), 60000u);
    EXPECT_EQ(msg, text.substr(0, msg.size()));

    // A cut never splits a UTF-8 character.
    std::string wide;
    while (wide.size() < 100000) wide += "\xE2\x82\xAC";
    ASSERT_TRUE(platform::WriteEventLog(platform::EventInformation, 110, wide));
    got = receiver.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    msg = SyslogReceiver::MessageOf(got[0]);
    EXPECT_EQ(msg.size() % 3, 0u);
    EXPECT_EQ(msg, wide.substr(0, msg.size()));
}

TEST(Syslog, FollowsTheSocketPathAndAReturningLogger) {
    TempDir dir;
    const std::string a = dir.file("a.sock"), b = dir.file("b.sock");
    BoundSocket first(a), second(b);
    {
        ScopedEnv env("TELWICK_SYSLOG_SOCKET", a);
        ASSERT_TRUE(platform::WriteEventLog(platform::EventInformation, 110, "to a"));
        EXPECT_EQ(SyslogReceiver::MessageOf(first.Receive()), "to a");
    }
    {
        ScopedEnv env("TELWICK_SYSLOG_SOCKET", b);
        ASSERT_TRUE(platform::WriteEventLog(platform::EventInformation, 110, "to b"));
        EXPECT_EQ(SyslogReceiver::MessageOf(second.Receive()), "to b");
    }
    // The logger at a restarts: the kept socket notices and connects afresh.
    ScopedEnv env("TELWICK_SYSLOG_SOCKET", a);
    ASSERT_TRUE(platform::WriteEventLog(platform::EventInformation, 110, "a again"));
    EXPECT_EQ(SyslogReceiver::MessageOf(first.Receive()), "a again");
    first.Close();
    BoundSocket restarted(a);
    ASSERT_TRUE(platform::WriteEventLog(platform::EventInformation, 110, "after restart"));
    EXPECT_EQ(SyslogReceiver::MessageOf(restarted.Receive()), "after restart");
}

TEST(Syslog, WithoutALoggerOrWhenRefusedTheEntryGoesToStandardError) {
    TempDir dir;
    struct Case {
        std::string socketPath;
        std::string what;
    };
    const std::string stale = dir.file("stale.sock");
    { BoundSocket gone(stale); }  // leaves the socket file with nobody behind it
    // A datagram socket that is connected to another one refuses everybody else.
    BoundSocket refusing(dir.file("refusing.sock")), partner(dir.file("partner.sock"));
    refusing.ConnectTo(dir.file("partner.sock"));
    for (const Case& c :
         {Case{dir.file("missing.sock"), "no socket"}, Case{stale, "nobody listening"},
          Case{dir.file("nofolder/log.sock"), "no folder"}, Case{dir.file("refusing.sock"), "refused"}}) {
        SCOPED_TRACE(c.what);
        ScopedEnv env("TELWICK_SYSLOG_SOCKET", c.socketPath);
        ::testing::internal::CaptureStderr();
        bool written = platform::WriteEventLog(platform::EventInformation, 110, "Disk C:\nfull\r\x1b[2J\\");
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(written);
        EXPECT_EQ(err, "Telwick[110]: Disk C:\\nfull\\r\\x1B[2J\\\n");
    }
}

TEST(ConsoleLine, TextFromElsewhereStaysOneLineWithoutControlCharacters) {
    const struct {
        std::string text, line;
    } cases[] = {
        {"Disk C:\r\n[Telwick] forged", "Disk C:\\r\\n[Telwick] forged"},
        {std::string("nul\0bell\a esc\x1b[2J del\x7f", 22), "nul\\x00bell\\x07 esc\\x1B[2J del\\x7F"},
        {"tab\tand UTF-8 \xc3\x84rger, C:\\dir", "tab\\tand UTF-8 \xc3\x84rger, C:\\dir"},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::EscapeControlCharacters(c.text), c.line);
}

// A logger on a stream socket (where a datagram connect fails with EPROTOTYPE)
// gets each record ending in a NUL, as syslog(3) writes to one.
TEST(Syslog, AStreamSocketGetsNulTerminatedRecords) {
    TempDir dir;
    const std::string path = dir.file("stream.sock");
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ScopedEnv env("TELWICK_SYSLOG_SOCKET", path);
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(platform::WriteEventLog(platform::EventInformation, 110, "first\nline"));
    ASSERT_TRUE(platform::WriteEventLog(platform::EventError, 109, "second"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    int peer = accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    timeval tv{10, 0};
    setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    std::string bytes;
    char buf[4096];
    while (std::count(bytes.begin(), bytes.end(), '\0') < 2) {
        ssize_t n = recv(peer, buf, sizeof(buf), 0);
        if (n <= 0) break;
        bytes.append(buf, static_cast<size_t>(n));
    }
    close(peer);
    close(listener);
    const size_t end = bytes.find('\0');
    ASSERT_NE(end, std::string::npos) << bytes;
    const std::string first = bytes.substr(0, end), second = bytes.substr(end + 1);
    EXPECT_EQ(first.rfind("<30>1 ", 0), 0u) << first;
    EXPECT_EQ(SyslogReceiver::MessageOf(first), "first\nline");
    EXPECT_EQ(second.rfind("<27>1 ", 0), 0u) << second;
    EXPECT_EQ(second, second.substr(0, second.size() - 1) + '\0');  // ends with its NUL
    EXPECT_EQ(SyslogReceiver::MsgIdOf(second), "109");
}

TEST(Syslog, ALoggerThatStopsReadingIsWaitedForOnlyABoundedTime) {
    SyslogReceiver receiver;  // never reads until the end
    int sent = 0;
    std::chrono::steady_clock::duration waited{};
    ::testing::internal::CaptureStderr();
    while (sent < 10000) {
        auto begin = std::chrono::steady_clock::now();
        ASSERT_TRUE(platform::WriteEventLog(platform::EventInformation, 110, "entry " + std::to_string(sent)));
        waited = std::chrono::steady_clock::now() - begin;
        if (waited > std::chrono::milliseconds(1000)) break;
        ++sent;
    }
    // While the logger stays stuck, the next entries wait only briefly.
    auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(platform::WriteEventLog(platform::EventInformation, 110, "next"));
    auto next = std::chrono::steady_clock::now() - begin;
    std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_LT(sent, 10000) << "the queue never filled";
    EXPECT_GE(sent, 1);
    EXPECT_GE(waited, std::chrono::milliseconds(1500));
    EXPECT_LT(waited, std::chrono::seconds(10));
    EXPECT_LT(next, std::chrono::milliseconds(1000));
    // The entries the logger did not take are on standard error instead.
    EXPECT_EQ(err, "Telwick[110]: entry " + std::to_string(sent) + "\nTelwick[110]: next\n");

    // Once the logger reads again, entries go through as before, in order.
    auto queued = receiver.Drain();
    ASSERT_EQ(queued.size(), static_cast<size_t>(sent));
    EXPECT_EQ(SyslogReceiver::MessageOf(queued.back()), "entry " + std::to_string(sent - 1));
    ASSERT_TRUE(platform::WriteEventLog(platform::EventInformation, 110, "later"));
    auto later = receiver.WaitFor(1);
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(SyslogReceiver::MessageOf(later[0]), "later");
}

// --- the real receivers --------------------------------------------------------------
// journald and rsyslog as the machine would run them, but private: the entries
// are sent from a child in a mount namespace of its own whose /run and /dev are
// folders of the test, so nothing reaches the machine's own logging.

constexpr int NoNamespace = 77;

// Runs body in a child process whose /run and /var/log are dir/root/run and
// dir/root/var/log, and /dev an empty tmpfs; the child's exit status
// (NoNamespace when the kernel refuses the namespace).
int InPrivateLogWorld(const TempDir& dir, const std::function<int()>& body, pid_t* child = nullptr) {
    for (const char* sub : {"root/run", "root/var/log"}) std::filesystem::create_directories(dir.file(sub));
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(dir.file("root/run").c_str(), "/run", nullptr, MS_BIND, nullptr) != 0 ||
            mount(dir.file("root/var/log").c_str(), "/var/log", nullptr, MS_BIND, nullptr) != 0 ||
            mount("tmpfs", "/dev", "tmpfs", 0, "mode=0755") != 0)
            _exit(NoNamespace);
        _exit(body());
    }
    if (child) *child = pid;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Starts a program with its output in a file; its pid, or -1.
pid_t Spawn(const std::vector<std::string>& args, const std::string& output,
            const std::vector<std::string>& env = {}) {
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, output.c_str(), O_RDONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int RunToEnd(const std::vector<std::string>& args, const std::string& output) {
    pid_t pid = Spawn(args, output, {"PATH=/usr/bin:/bin"});
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Up to 30 s: a logger daemon starts slowly on a loaded machine.
bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 600 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return done();
}

std::string Program(std::initializer_list<const char*> candidates) {
    for (const char* p : candidates)
        if (access(p, X_OK) == 0) return p;
    return {};
}

// The entries of journalctl's export format, each field to its value.
std::vector<std::map<std::string, std::string>> ParseExport(const std::string& data) {
    std::vector<std::map<std::string, std::string>> entries(1);
    size_t pos = 0;
    while (pos < data.size()) {
        if (data[pos] == '\n') {  // an empty line ends an entry
            entries.emplace_back();
            ++pos;
            continue;
        }
        size_t stop = data.find_first_of("=\n", pos);
        if (stop == std::string::npos) break;
        std::string key = data.substr(pos, stop - pos);
        if (data[stop] == '=') {
            size_t end = data.find('\n', stop);
            entries.back()[key] = data.substr(stop + 1, end - stop - 1);
            pos = end + 1;
        } else {  // binary: a 64-bit little-endian length, the bytes, a newline
            uint64_t length = 0;
            for (int i = 7; i >= 0; --i) length = length << 8 | static_cast<unsigned char>(data[stop + 1 + i]);
            entries.back()[key] = data.substr(stop + 9, length);
            pos = stop + 9 + length + 1;
        }
    }
    std::erase_if(entries, [](const auto& e) { return e.empty(); });
    return entries;
}

struct Sent {
    int16_t type;
    int32_t number;
    std::string text;
};

const std::vector<Sent>& EntriesToSend() {
    static const std::vector<Sent> entries = {
        {platform::EventInformation, 110, "Disk C: is 95% full"},
        {platform::EventError, 109, "[5] Invalid procedure call\nsecond line \"quoted\" \xC3\xA4\xE2\x82\xAC"},
        {platform::EventInformation, 110, std::string(100000, 'x') + "\nend"},
    };
    return entries;
}

int SendAll(size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const Sent& e = EntriesToSend()[i];
        if (!platform::WriteEventLog(e.type, e.number, e.text)) return 1;
    }
    return 0;
}

TEST(SystemLogReceivers, JournaldTakesNativeEntries) {
    const std::string journald = Program({"/lib/systemd/systemd-journald", "/usr/lib/systemd/systemd-journald"});
    const std::string journalctl = Program({"/usr/bin/journalctl", "/bin/journalctl"});
    if (journald.empty() || journalctl.empty()) GTEST_SKIP() << "systemd-journald is not installed";
    TempDir dir;
    const std::string log = dir.file("journald.out");
    const std::string stalledErr = dir.file("stalled.err");
    int stalledAt = -1;
    int status = InPrivateLogWorld(dir, [&] {
        // journald's own messages go to its standard error, not to the kernel log.
        pid_t daemon = Spawn({journald}, log, {"SYSTEMD_LOG_TARGET=console"});
        if (daemon < 0) return 2;
        if (!WaitFor([] { return access("/run/systemd/journal/socket", F_OK) == 0; })) return 3;
        int rc = SendAll(EntriesToSend().size());
        // A journald that stops reading: once its queue is full, an entry is
        // given up after the bound and goes to standard error.
        const int err = open(stalledErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(err, 2);
        kill(daemon, SIGSTOP);
        for (int i = 0; rc == 0 && i < 100000; ++i) {
            auto begin = std::chrono::steady_clock::now();
            platform::WriteEventLog(platform::EventInformation, 120, "stalled " + std::to_string(i));
            auto took = std::chrono::steady_clock::now() - begin;
            if (took > std::chrono::seconds(1)) {
                // The bound is two seconds; five times it still catches a send
                // that waits for journald.
                if (took > std::chrono::seconds(10)) rc = 6;
                stalledAt = i;
                break;
            }
        }
        if (stalledAt < 0) rc = 5;
        std::fprintf(stderr, "at %d\n", stalledAt);
        kill(daemon, SIGCONT);
        // Everything sent before is in the files once the sync returns.
        if (rc == 0 && RunToEnd({journalctl, "--sync"}, log) != 0) rc = 4;
        kill(daemon, SIGTERM);
        waitpid(daemon, nullptr, 0);
        return rc;
    });
    if (status == NoNamespace) GTEST_SKIP() << "the kernel refuses a private mount namespace here";
    ASSERT_EQ(status, 0) << ReadFile(log);

    // The volatile or the persistent journal, whichever the machine's journald.conf chose.
    const std::string root = "--root=" + dir.file("root");
    const std::string exported = dir.file("export");
    ASSERT_EQ(RunToEnd({journalctl, root, "-o", "export", "-t", "Telwick"}, exported), 0) << ReadFile(exported);
    auto entries = ParseExport(ReadFile(exported));
    ASSERT_GE(entries.size(), EntriesToSend().size()) << ReadFile(log);
    for (size_t i = 0; i < EntriesToSend().size(); ++i) {
        auto& e = entries[i];
        const Sent& sent = EntriesToSend()[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(e["MESSAGE"], sent.text);  // byte for byte, whatever its length
        EXPECT_EQ(e["PRIORITY"], sent.type == platform::EventError ? "3" : "6");
        EXPECT_EQ(e["SYSLOG_IDENTIFIER"], "Telwick");
        EXPECT_EQ(e["SYSLOG_FACILITY"], "3");
        EXPECT_EQ(e["SYSLOG_PID"], e["_PID"]);
        EXPECT_EQ(e["TELWICK_EVENT_ID"], std::to_string(sent.number));
        EXPECT_EQ(e.count("CODE_FILE"), 0u);  // no source location of ours
    }
    // The stalled entry is on standard error, every one before it in the journal.
    const std::string err = ReadFile(stalledErr);
    const std::string at = err.substr(err.rfind("at ") + 3);
    ASSERT_EQ(RunToEnd({journalctl, root, "-o", "export", "TELWICK_EVENT_ID=120"}, exported + "120"), 0);
    const auto stalled = ParseExport(ReadFile(exported + "120"));
    EXPECT_EQ(std::to_string(stalled.size()) + "\n", at);
    EXPECT_EQ(err, "Telwick[120]: stalled " + at + "at " + at);

    // The entries of the monitors, as an administrator lists them.
    ASSERT_EQ(
        RunToEnd({journalctl, root, "-o", "export", "-t", "Telwick", "TELWICK_EVENT_ID=110"}, exported + "110"),
        0);
    EXPECT_EQ(ParseExport(ReadFile(exported + "110")).size(), 2u);
}

// The local form of syslog(3) on /dev/log, read by Debian's rsyslog as it is
// configured out of the box.
TEST(SystemLogReceivers, StockRsyslogOnDevLog) {
    const std::string rsyslogd = Program({"/usr/sbin/rsyslogd", "/sbin/rsyslogd"});
    if (rsyslogd.empty() || access("/etc/rsyslog.conf", R_OK) != 0) GTEST_SKIP() << "rsyslog is not installed";
    TempDir dir;
    // Debian's rsyslog.conf with its socket and paths moved into the test's
    // folder; the kernel-log input is left out (it would read the machine's).
    std::string conf = ReadFile("/etc/rsyslog.conf");
    auto replace = [&conf](const std::string& from, const std::string& to) {
        for (size_t at = conf.find(from); at != std::string::npos; at = conf.find(from, at + to.size()))
            conf.replace(at, from.size(), to);
    };
    const std::string socketPath = dir.file("devlog.sock");
    replace("module(load=\"imuxsock\")", "module(load=\"imuxsock\" SysSock.Name=\"" + socketPath + "\")");
    replace("module(load=\"imklog\")", "# module(load=\"imklog\")");
    replace("/var/spool/rsyslog", dir.path());
    replace("/etc/rsyslog.d/", dir.file("rsyslog.d/"));
    replace("/var/log/", dir.file("log/"));
    ASSERT_NE(conf.find(socketPath), std::string::npos) << "the stock rsyslog.conf changed shape";
    std::filesystem::create_directories(dir.file("rsyslog.d"));
    std::filesystem::create_directories(dir.file("log"));
    // One added rule shows what the stock file format leaves out: facility and severity.
    {
        std::ofstream probe(dir.file("rsyslog.d/probe.conf"));
        probe << "template(name=\"probe\" type=\"string\" string=\"%syslogfacility-text%|%syslogseverity-text%|"
                 "%programname%|%procid%|%msg%\\n\")\n"
              << "if $programname == \"Telwick\" then action(type=\"omfile\" file=\"" << dir.file("probe.log")
              << "\" template=\"probe\")\n";
        std::ofstream(dir.file("rsyslog.conf")) << conf;
    }
    const std::string out = dir.file("rsyslogd.out");
    pid_t daemon = Spawn({rsyslogd, "-n", "-f", dir.file("rsyslog.conf"), "-i", dir.file("rsyslogd.pid")}, out);
    ASSERT_GT(daemon, 0);
    struct Reap {
        pid_t pid;
        ~Reap() {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    } reap{daemon};
    ASSERT_TRUE(WaitFor([&] { return access(socketPath.c_str(), F_OK) == 0; })) << ReadFile(out);

    pid_t sender = 0;
    int status = InPrivateLogWorld(
        dir,
        [&] {
            if (symlink(socketPath.c_str(), "/dev/log") != 0) return 2;
            return SendAll(2);
        },
        &sender);
    if (status == NoNamespace) GTEST_SKIP() << "the kernel refuses a private mount namespace here";
    ASSERT_EQ(status, 0);
    // rsyslog writes its two files by separate actions: wait for both.
    std::string probe, stockLog;
    const std::string mark = " Telwick[" + std::to_string(sender) + "]: ";
    ASSERT_TRUE(WaitFor([&] {
        probe = ReadFile(dir.file("probe.log"));
        stockLog = ReadFile(dir.file("log/syslog"));
        return std::count(probe.begin(), probe.end(), '\n') >= 2 && stockLog.find(mark) != stockLog.rfind(mark);
    })) << ReadFile(out);
    // rsyslog writes a line feed of a text as #012, as it does for every program.
    auto asRsyslogWrites = [](std::string text) {
        for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at))
            text.replace(at, 1, "#012");
        return text;
    };
    std::istringstream lines(probe);
    for (size_t i = 0; i < 2; ++i) {
        const Sent& sent = EntriesToSend()[i];
        std::string line;
        std::getline(lines, line);
        const std::string text = asRsyslogWrites(sent.text);
        // facility daemon, severity, program name, process id, text
        EXPECT_EQ(line, std::string("daemon|") + (sent.type == platform::EventError ? "err" : "info") +
                            "|Telwick|" + std::to_string(sender) + "| " + text);
        // Debian's /var/log/syslog line: "Dec  7 09:18:59 host Telwick[4711]: text"
        EXPECT_NE(stockLog.find(mark + text + "\n"), std::string::npos) << stockLog;
    }
}

}  // namespace
