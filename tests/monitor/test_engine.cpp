// The monitor and its check against a real database (a SQLite file and the
// private PostgreSQL through ODBC, with the same cases), with real system-log
// datagrams, real batch scripts and a recording message-box host.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "database/modDatabase.h"
#include "monitor/clsMonitor.h"
#include "monitor/modMain.h"
#include "platform/lifecycle.h"
#include "platform/messagebox.h"
#include "platform/process.h"
#include "platform/text.h"
#include "settings/errors.h"
#include "settings/registry.h"
#include "settings/settings.h"
#include "support/datagram.h"
#include "support/process.h"
#include "support/testdb.h"
#include "support/testenv.h"

namespace platform = telwick::platform;
namespace fs = std::filesystem;
using telwick::test::DbKind;
using telwick::test::ProgramEnded;
using telwick::test::ScopedEnv;
using telwick::test::SyslogReceiver;
using telwick::test::TempDir;

using telwick::test::ReadFile;

namespace {

// A system logger that keeps reading on a thread of its own, so that a check
// may write more entries than the socket queues.
class SyslogCollector {
public:
    SyslogCollector() : collector_(dir_.file("log.sock")), env_("TELWICK_SYSLOG_SOCKET", collector_.path()) {}
    // Every datagram sent so far (a sent datagram is either read or queued).
    std::vector<std::string> Datagrams() { return collector_.Datagrams(); }
    std::vector<std::string> Messages() {
        std::vector<std::string> out;
        for (const std::string& d : Datagrams()) out.push_back(SyslogReceiver::MessageOf(d));
        return out;
    }
    // Messages that arrived since the last call.
    std::vector<std::string> NewMessages() {
        std::vector<std::string> all = Messages();
        std::vector<std::string> out(all.begin() + static_cast<long>(std::min(seen_, all.size())), all.end());
        seen_ = all.size();
        return out;
    }

private:
    TempDir dir_;
    telwick::test::DatagramCollector collector_;
    ScopedEnv env_;
    size_t seen_ = 0;
};

// The message boxes shown, with a hook that runs while a box "waits".
class RecordingBoxes : public platform::MessageBoxHost {
public:
    struct Shown {
        std::string text, title;
        platform::Buttons buttons;
    };
    platform::Answer Show(const std::string& text, const std::string& title, platform::Buttons buttons) override {
        shown.push_back({text, title, buttons});
        if (onShow) onShow(shown.size());
        return buttons == platform::Buttons::YesNo ? yesNoAnswer : platform::Answer::Ok;
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (const Shown& s : shown) out.push_back(s.text);
        return out;
    }
    std::vector<Shown> shown;
    std::function<void(size_t)> onShow;
    platform::Answer yesNoAnswer = platform::Answer::No;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // cmd.exe's echo ends lines with CR LF
        out.push_back(line);
    }
    return out;
}

// Waits until the file holds at least count lines (the scripts run on their own).
std::vector<std::string> WaitForLines(const std::string& path, size_t count) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::vector<std::string> lines = Lines(ReadFile(path));
    while (lines.size() < count && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        lines = Lines(ReadFile(path));
    }
    return lines;
}

void WriteScript(const std::string& path, const std::string& body) {
    std::ofstream(path, std::ios::binary) << "#!/bin/sh\n" << body;
    fs::permissions(path, fs::perms::owner_all);
}

// A batch program that appends its first argument as one line to out: a
// shell script, or on Windows a batch file that cmd.exe runs.
std::string AppendScript(const TempDir& dir, const std::string& out) {
    if (!telwick::test::OnWindows) {
        const std::string script = dir.file("append.sh");
        WriteScript(script, "printf '%s\\n' \"$1\" >> '" + out + "'\n");
        return script;
    }
    std::string target = out;
    std::replace(target.begin(), target.end(), '/', '\\');
    const std::string script = dir.file("append.bat");
    std::ofstream(script, std::ios::binary) << "@echo off\r\n>>\"" << target << "\" echo %~1\r\n";
    return script;
}

// What the cases that need it say on Windows.
const char* const PosixOnly = "stands on sh, the execute bit, /proc or a Unix datagram queue";

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

// Computer, type, level, then the three actions and the batch file.
struct MonitorSpec {
    MonitorSpec(int32_t c = 0, int32_t t = 0, int32_t l = 0, bool b = false, bool lg = false, bool bt = false,
                std::string f = "")
        : computer(c), type(t), level(l), box(b), log(lg), batch(bt), file(std::move(f)) {}
    int32_t computer, type, level;
    bool box, log, batch;
    std::string file;
};

class Engine : public telwick::test::DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        if (IsSkipped()) return;
        modMain::SetCommandTail("");
        modDatabase::Reset();
        modSettings::ResetLanguageCache();
        modMain::Monitors.clear();
        modMain::SetCheckGuard(nullptr);
        platform::SetStopRequested(false);
        platform::SetMessageBoxHost(&boxes_);
        platform::SetEndProgramHandler([](int status) { throw ProgramEnded{status}; });
        // The collector keeps writing while a check reads (a message box may
        // wait for a long time): a SQLite file in write-ahead mode allows that.
        if (GetParam() == DbKind::Sqlite) db().QueryText("PRAGMA journal_mode=WAL");
        // Message texts of our own (kind 17, language 1).
        AddMessage(90, "%1");
        AddMessage(91, "%1 and %2");
        AddMessage(92, std::nullopt);
        AddMessage(93, "%10");
        AddMessage(94, "%6");
        AddMessage(95, "%5%4%3%2%1");
        AddMessage(96, "%1%1 %%1 100% %2");
        AddMessage(97, "Disk %1 is %2% full");
        AddMessage(89, "%%2 %3");  // field 2 makes "%1" with the "%" before it
        AddMessage(88, "%%21");    // and so does an empty field 2
        // Long texts come from long parameters used many times.
        std::string many;
        for (int i = 0; i < 50; ++i) many += "%1";
        AddMessage(99, many);
    }
    void TearDown() override {
        modMain::Monitors.clear();
        modDatabase::Reset();
        modSettings::ResetLanguageCache();
        modMain::SetCheckGuard(nullptr);
        platform::SetMessageBoxHost(nullptr);
        platform::SetEndProgramHandler(nullptr);
        platform::ReapPrograms();
        DbTest::TearDown();
    }

    void AddMessage(int32_t nr, const std::optional<std::string>& text, int32_t lang = 1) {
        db().Exec("INSERT INTO t_description (descriptionnr, descriptiontypenr, lang, description) VALUES (" +
                  std::to_string(nr) + ", 17, " + std::to_string(lang) + ", " + (text ? Quote(*text) : "NULL") +
                  ")");
    }

    std::unique_ptr<clsMonitor> NewMonitor(const MonitorSpec& s) {
        auto m = std::make_unique<clsMonitor>();
        m->setComputerNr(s.computer);
        m->setEventTypeNr(s.type);
        m->setEventLevelNr(s.level);
        m->setShowMsgBox(s.box);
        m->setWriteEventLog(s.log);
        m->setExecuteBatch(s.batch);
        m->setBatchFile(s.file);
        return m;
    }

    static bool ConnectionClosed() {
        return !modDatabase::SharedConnection ||
               modDatabase::SharedConnection->State() != telwick::db::adStateOpen;
    }

    SyslogCollector syslog_;
    RecordingBoxes boxes_;
    TempDir work_;
};

const std::string Head =
    "SELECT EVL.*, DES.description AS message FROM t_eventLog AS EVL INNER JOIN t_description AS DES ON "
    "EVL.messagenr = DES.descriptionnr AND DES.descriptiontypenr = 17 AND DES.lang = ";

TEST_P(Engine, QueryTextsAreExactAndRunOnTheDatabase) {
    struct Case {
        MonitorSpec spec;
        std::string language;
        std::string filter;
    } cases[] = {
        {{3, 0, 5}, "1", "WHERE 1=1 AND EVL.computernr = 3 AND EVL.levelnr = 5 "},
        {{0, 0, 0}, "1", "WHERE 1=1 "},
        {{-3, -1, -2147483647 - 1}, "1", "WHERE 1=1 "},
        {{3, 4, 2}, "1", "WHERE 1=1 AND EVL.computernr = 3 AND EVL.eventtypenr = 4 AND EVL.levelnr = 2 "},
        {{0, 7, 0}, "2", "WHERE 1=1 AND EVL.eventtypenr = 7 "},
        {{2147483647, 0, 0}, "1", "WHERE 1=1 AND EVL.computernr = 2147483647 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        modRegistry::SetSetting("Language", c.language);
        modSettings::ResetLanguageCache();
        auto m = NewMonitor(c.spec);
        const int32_t last = m->lastEventLogNr();
        ASSERT_EQ(last, db().MaxEventNr());
        EXPECT_EQ(m->BuildQuery(last + 20),
                  Head + c.language + " " + c.filter + "AND eventlognr > " + std::to_string(last) +
                      " AND eventlognr <= " + std::to_string(last + 20) + " ORDER BY eventlognr ");
        // The text runs: the check reaches the newest number.
        int32_t newest = db().AddEvent(1, 1, 1, 90, "y");
        m->Check();
        EXPECT_EQ(m->lastEventLogNr(), newest);
    }
}

TEST_P(Engine, ConsecutiveChecksCoverConsecutiveWindows) {
    auto m = NewMonitor({0, 0, 5, false, true});
    const int32_t start = m->lastEventLogNr();
    EXPECT_EQ(start, db().MaxEventNr());

    db().AddEvent(1, 1, 5, 90, "a");
    db().AddEvent(1, 1, 4, 90, "other level");
    db().AddEvent(2, 2, 5, 90, "b");
    m->Check();
    EXPECT_EQ(syslog_.NewMessages(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(m->lastEventLogNr(), db().MaxEventNr());
    EXPECT_TRUE(ConnectionClosed());

    // Nothing new: nothing reported, the connection closed all the same.
    m->Check();
    EXPECT_TRUE(syslog_.NewMessages().empty());
    EXPECT_TRUE(ConnectionClosed());

    // A row stored while the check runs (here while its message box waits)
    // belongs to the next window.
    m->setShowMsgBox(true);
    db().AddEvent(3, 1, 5, 90, "c");
    boxes_.onShow = [&](size_t n) {
        if (n == 1) db().AddEvent(3, 1, 5, 90, "during");
    };
    m->Check();
    EXPECT_EQ(syslog_.NewMessages(), (std::vector<std::string>{"c"}));
    m->Check();
    EXPECT_EQ(syslog_.NewMessages(), (std::vector<std::string>{"during"}));
    EXPECT_EQ(boxes_.Texts(), (std::vector<std::string>{"c", "during"}));

    // The newest rows vanish: the covered number comes down to the newest one,
    // reporting nothing. An emptied table keeps it, and what is stored later is
    // new, even below it.
    db().Exec("DELETE FROM t_eventLog WHERE eventlognr > " + std::to_string(start));
    m->Check();
    EXPECT_EQ(m->lastEventLogNr(), start);
    db().Exec("DELETE FROM t_eventLog");
    m->Check();
    EXPECT_EQ(m->lastEventLogNr(), start);
    EXPECT_TRUE(syslog_.NewMessages().empty());
    db().Exec(
        "INSERT INTO t_eventLog (eventlognr, computernr, eventtypenr, levelnr, messagenr, parameter) "
        "VALUES (-7, 1, 1, 5, 90, 'again')");
    m->Check();
    EXPECT_EQ(syslog_.NewMessages(), (std::vector<std::string>{"again"}));
    EXPECT_EQ(m->lastEventLogNr(), -7);
}

TEST_P(Engine, AnEmptyTableAtConstructionStartsAtZero) {
    db().Exec("DELETE FROM t_eventLog");
    auto m = NewMonitor({0, 0, 0, false, true});
    EXPECT_EQ(m->lastEventLogNr(), 0);
    m->Check();
    EXPECT_EQ(m->lastEventLogNr(), 0);
    db().AddEvent(1, 1, 1, 90, "first");
    db().AddEvent(2, 2, 2, 90, "second");
    m->Check();
    EXPECT_EQ(syslog_.NewMessages(), (std::vector<std::string>{"first", "second"}));
}

TEST_P(Engine, MessagesAreFilledFromTheParameters) {
    struct Case {
        int32_t message;
        std::optional<std::string> parameter;
        std::string text;
    } cases[] = {
        {97, "C:;95", "Disk C: is 95% full"},
        {93, "x", "x0"},
        {94, "a;b;c;d;e;f", "%6"},
        {90, "a[trdoppu]b", "a;b"},
        {91, "a;b%1", "a and ba"},
        {89, "x;1;%", "x %"},
        {88, "x", "x"},
        {95, "1;2;3;4;5", "54321"},
        {96, "x;y", "xx %x 100% y"},
        {91, "only", "only and "},
        {91, std::nullopt, " and "},
        {92, "ignored", ""},
        {90, "", ""},
        {90,
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC",
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC"},
        {99, std::string(2000, 'p') + ";rest", Repeat(std::string(2000, 'p'), 50)},
        {1, "D:;85", "Disk D: is 85% full"},  // the demo text
    };
    auto m = NewMonitor({0, 0, 0, true, true});
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        db().AddEvent(1, 1, 1, c.message, c.parameter);
        expected.push_back(c.text);
    }
    // A message without a text in the language is not returned at all.
    db().AddEvent(1, 1, 1, 98, "no text");
    m->Check();
    EXPECT_EQ(boxes_.Texts(), expected);
    std::vector<std::string> logged = syslog_.NewMessages();
    ASSERT_EQ(logged.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i].size() < 60000) {
            EXPECT_EQ(logged[i], expected[i]) << i;
        } else {  // the system log takes what fits into one datagram
            EXPECT_GT(logged[i].size(), 60000u);
            EXPECT_EQ(logged[i], expected[i].substr(0, logged[i].size()));
        }
    }
    for (const auto& s : boxes_.shown) {
        EXPECT_EQ(s.title, "Telwick");
        EXPECT_EQ(s.buttons, platform::Buttons::Ok);
    }
    EXPECT_EQ(m->lastEventLogNr(), db().MaxEventNr());
}

TEST_P(Engine, TheEventLogEntryIsAnInformationDatagramNumber110) {
    auto m = NewMonitor({3, 0, 5, false, true});
    db().AddEvent(3, 1, 5, 97, "C:;95");
    m->Check();
    auto datagrams = syslog_.Datagrams();
    ASSERT_EQ(datagrams.size(), 1u);
    EXPECT_EQ(datagrams[0].rfind("<30>1 ", 0), 0u) << datagrams[0];
    EXPECT_EQ(SyslogReceiver::MsgIdOf(datagrams[0]), "110");
    EXPECT_EQ(SyslogReceiver::MessageOf(datagrams[0]), "Disk C: is 95% full");
}

TEST_P(Engine, ActionsRunInOrderRowByRow) {
    const std::string out = work_.file("batch.out");
    const std::string script = AppendScript(work_, out);
    auto m = NewMonitor({0, 0, 0, true, true, true, script});
    db().AddEvent(1, 1, 1, 90, "one");
    db().AddEvent(1, 1, 1, 90, "two");

    // While box k waits: entries 1..k are written and batch k has started, and
    // nothing of row k+1 has happened yet.
    std::vector<std::string> trace;
    boxes_.onShow = [&](size_t k) {
        for (const std::string& e : syslog_.NewMessages()) trace.push_back("entry " + e);
        std::vector<std::string> lines = WaitForLines(out, k);
        for (size_t i = k - 1; i < lines.size(); ++i) trace.push_back("batch " + lines[i]);
        trace.push_back("box " + boxes_.shown.back().text);
    };
    m->Check();
    EXPECT_EQ(trace, (std::vector<std::string>{"entry one", "batch one", "box one", "entry two", "batch two",
                                               "box two"}));
}

TEST_P(Engine, TheBatchGetsTheMessageAsOneArgumentByteForByte) {
    if (telwick::test::OnWindows) GTEST_SKIP() << PosixOnly;
    const std::string outDir = work_.file("args");
    fs::create_directory(outDir);
    const std::string script = work_.file("record.sh");
    WriteScript(script, "printf '%s' \"$1\" > '" + outDir + "'/$$.tmp && printf '%s' \"$#\" > '" + outDir +
                            "'/$$.argc && mv '" + outDir + "'/$$.tmp '" + outDir + "'/$$.arg\n");
    const std::string hostile[] = {
        "\"quoted\" 'single' \\back\\",
        "a[trdoppu] rm -rf / & echo x | cat `id` $(id) ${HOME} > /tmp/telwick-pwned",
        "line one\nline two\r\n\ttab",
        "-n",
        "\"[trdoppu] touch " + work_.file("injected") + "[trdoppu] echo \"",
        std::string(1900, 'L') + "$(touch " + work_.file("injected") + ")",
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC *?~#!",
    };
    auto m = NewMonitor({0, 0, 0, false, false, true, script});
    std::vector<std::string> expected;
    for (const std::string& p : hostile) {
        db().AddEvent(1, 1, 1, 90, p);
        expected.push_back(telwick::ReplaceAll(p, modMain::EscapeToken, modMain::RecordSeparator));
    }
    // A message of about 100,000 bytes.
    db().AddEvent(1, 1, 1, 99, hostile[5]);
    expected.push_back(Repeat(hostile[5], 50));
    m->Check();

    std::vector<std::string> got;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
        got.clear();
        for (const auto& e : fs::directory_iterator(outDir))
            if (e.path().extension() == ".arg") {
                got.push_back(ReadFile(e.path().string()));
                EXPECT_EQ(ReadFile((e.path().parent_path() / (e.path().stem().string() + ".argc")).string()), "1");
            }
        if (got.size() >= expected.size()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_TRUE(got[i] == expected[i]) << "argument " << i << " differs: " << got[i].substr(0, 80);
    EXPECT_FALSE(fs::exists(work_.file("injected")));
    EXPECT_FALSE(fs::exists("/tmp/telwick-pwned"));
}

TEST_P(Engine, AMissingBatchFileIsSkippedSilently) {
    auto m = NewMonitor({0, 0, 0, true, true, true, work_.file("no-such-script.sh")});
    db().AddEvent(1, 1, 1, 90, "one");
    db().AddEvent(1, 1, 1, 90, "two");
    m->Check();
    EXPECT_EQ(syslog_.NewMessages(), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(boxes_.Texts(), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(m->lastEventLogNr(), db().MaxEventNr());
}

TEST_P(Engine, AFailureMidWindowLeavesTheRestForTheNextCheck) {
    if (telwick::test::OnWindows) GTEST_SKIP() << PosixOnly;
    const std::string out = work_.file("batch.out");
    const std::string script = work_.file("append.sh");
    WriteScript(script, "printf '%s\\n' \"$1\" >> '" + out + "'\n");
    auto m = NewMonitor({0, 0, 0, true, true, true, script});
    std::vector<int32_t> nrs;
    for (const char* p : {"r1", "r2", "r3", "r4", "r5"}) nrs.push_back(db().AddEvent(1, 1, 1, 90, p));

    // While box 2 waits the script loses its execute permission: row 3 cannot
    // start its batch, which ends the check.
    boxes_.onShow = [&](size_t k) {
        if (k == 2) fs::permissions(script, fs::perms::owner_read | fs::perms::owner_write);
    };
    m->Check();
    EXPECT_EQ(syslog_.NewMessages(), (std::vector<std::string>{"r1", "r2", "r3"}));
    EXPECT_EQ(boxes_.Texts(), (std::vector<std::string>{"r1", "r2"}));
    EXPECT_EQ(m->lastEventLogNr(), nrs[2]);  // row 3 was attempted: it is not repeated
    EXPECT_TRUE(ConnectionClosed());

    // The next check reports the rest of the window, exactly once.
    fs::permissions(script, fs::perms::owner_all);
    boxes_.onShow = nullptr;
    m->Check();
    EXPECT_EQ(syslog_.NewMessages(), (std::vector<std::string>{"r4", "r5"}));
    EXPECT_EQ(boxes_.Texts(), (std::vector<std::string>{"r1", "r2", "r4", "r5"}));
    EXPECT_EQ(m->lastEventLogNr(), nrs[4]);
    m->Check();
    EXPECT_TRUE(syslog_.NewMessages().empty());
    std::vector<std::string> batches = WaitForLines(out, 4);  // the scripts run side by side
    std::sort(batches.begin(), batches.end());
    EXPECT_EQ(batches, (std::vector<std::string>{"r1", "r2", "r4", "r5"}));
}

TEST_P(Engine, AStuckSystemLoggerCostsNoRowItsActions) {
    if (telwick::test::OnWindows) GTEST_SKIP() << PosixOnly;
    SyslogReceiver stuck;  // never read: after its queue fills, entries go to standard error
    auto m = NewMonitor({0, 0, 0, true, true});
    // More rows than the socket queues (net.unix.max_dgram_qlen, bounded by
    // the send buffer as well).
    int queueLength = 10;
    std::ifstream("/proc/sys/net/unix/max_dgram_qlen") >> queueLength;
    const int rows = std::min(queueLength, 300) + 3;
    std::vector<int32_t> nrs;
    for (int i = 1; i <= rows; ++i) nrs.push_back(db().AddEvent(1, 1, 1, 90, "s" + std::to_string(i)));
    ::testing::internal::CaptureStderr();
    m->Check();
    const std::string err = ::testing::internal::GetCapturedStderr();
    // Every row got its message box and is done; the entries the logger did not
    // take are on standard error, none lost, none twice.
    EXPECT_EQ(boxes_.shown.size(), nrs.size());
    EXPECT_EQ(m->lastEventLogNr(), nrs.back());
    const size_t queued = stuck.Drain().size();
    const auto onStderr = static_cast<size_t>(std::count(err.begin(), err.end(), '\n'));
    EXPECT_GE(onStderr, 1u);
    EXPECT_EQ(queued + onStderr, nrs.size());
    EXPECT_NE(err.find("Telwick[110]: s" + std::to_string(rows) + "\n"), std::string::npos) << err;
}

TEST_P(Engine, AStopWhileABoxWaitsLeavesTheRestForLater) {
    auto m = NewMonitor({0, 0, 0, true, true});
    std::vector<int32_t> nrs;
    for (const char* p : {"g1", "g2", "g3", "g4"}) nrs.push_back(db().AddEvent(1, 1, 1, 90, p));
    bool mayGoOn = true;
    modMain::SetCheckGuard([&] { return mayGoOn; });
    boxes_.onShow = [&](size_t k) {
        if (k == 2) mayGoOn = false;  // paused, or "Enabled" switched off
    };
    m->Check();
    EXPECT_EQ(syslog_.NewMessages(), (std::vector<std::string>{"g1", "g2"}));
    EXPECT_EQ(m->lastEventLogNr(), nrs[1]);
    EXPECT_TRUE(ConnectionClosed());

    m->Check();  // still off: nothing handled, nothing skipped
    EXPECT_TRUE(syslog_.NewMessages().empty());
    EXPECT_EQ(m->lastEventLogNr(), nrs[1]);

    mayGoOn = true;
    m->Check();
    EXPECT_EQ(syslog_.NewMessages(), (std::vector<std::string>{"g3", "g4"}));
    EXPECT_EQ(m->lastEventLogNr(), nrs[3]);

    // The default guard is the stop request of the service.
    modMain::SetCheckGuard(nullptr);
    EXPECT_TRUE(modMain::CheckMayGoOn());
    // Stored before the stop: once it is requested, a server session gives up
    // every wait at once, and the test's own insert would be given up too.
    db().AddEvent(1, 1, 1, 90, "g5");
    platform::SetStopRequested(true);
    EXPECT_FALSE(modMain::CheckMayGoOn());
    m->Check();
    EXPECT_TRUE(syslog_.NewMessages().empty());
    platform::SetStopRequested(false);
    m->Check();
    EXPECT_EQ(syslog_.NewMessages(), (std::vector<std::string>{"g5"}));
}

TEST_P(Engine, ChecksReapTheBatchProgramsThatEnded) {
    if (telwick::test::OnWindows) GTEST_SKIP() << PosixOnly;
    const std::string out = work_.file("pids");
    const std::string script = work_.file("pid.sh");
    WriteScript(script, "echo $$ >> '" + out + "'\n");
    auto m = NewMonitor({0, 0, 0, false, false, true, script});
    for (int i = 0; i < 3; ++i) db().AddEvent(1, 1, 1, 90, "z");
    m->Check();
    std::vector<std::string> pids = WaitForLines(out, 3);
    ASSERT_EQ(pids.size(), 3u);
    // Wait until all three have ended (zombies), then the next check reaps them.
    auto state = [](const std::string& pid) {
        std::string stat = ReadFile("/proc/" + pid + "/stat");
        size_t paren = stat.rfind(')');
        return paren == std::string::npos || paren + 2 >= stat.size() ? '\0' : stat[paren + 2];
    };
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (const std::string& pid : pids)
        while (state(pid) != 'Z' && state(pid) != '\0' && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    m->Check();
    for (const std::string& pid : pids) EXPECT_EQ(state(pid), '\0') << pid;
}

TEST_P(Engine, FailuresAtConstructionReachTheCreator) {
    // A database without t_eventLog: the newest number cannot be read.
    db().Exec("DROP TABLE t_eventLog");
    EXPECT_THROW(NewMonitor({}), telwick::Fault);
}

// --- the stored records ------------------------------------------------------

TEST_P(Engine, RecordsBecomeMonitorsAndBack) {
    struct Case {
        std::string record;
        int32_t computer, type, level;
        bool box, log, batch;
        std::string file;
        std::string written;  // what the configuration list writes back
    } cases[] = {
        {"12;;3;0;1;1;C:\\jobs\\a[trdoppu]b.bat;", 12, 0, 3, false, true, true, "C:\\jobs\\a;b.bat",
         "12;;3;0;1;1;C:\\jobs\\a[trdoppu]b.bat;"},
        {"5;;;2;1;0;;", 5, 0, 0, false, true, false, "", "5;;;0;1;0;;"},
        {" 7x;;;1;1;1;/opt/a b.sh;", 7, 0, 0, true, true, true, "/opt/a b.sh", "7;;;1;1;1;/opt/a b.sh;"},
        {"-3;4.5;2.5;1;0;01", -3, 4, 2, true, false, false, "", "-3;4;2;1;0;0;;"},
        {"1;2;3;1;1;1;x;surplus;fields;", 1, 2, 3, true, true, true, "x", "1;2;3;1;1;1;x;"},
        {";", 0, 0, 0, false, false, false, "", ";;;0;0;0;;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record);
        auto m = modMain::MonitorFromRecord(c.record);
        EXPECT_EQ(m->computerNr(), c.computer);
        EXPECT_EQ(m->eventTypeNr(), c.type);
        EXPECT_EQ(m->eventLevelNr(), c.level);
        EXPECT_EQ(m->showMsgBox(), c.box);
        EXPECT_EQ(m->writeEventLog(), c.log);
        EXPECT_EQ(m->executeBatch(), c.batch);
        EXPECT_EQ(m->batchFile(), c.file);
        EXPECT_EQ(m->lastEventLogNr(), db().MaxEventNr());
        EXPECT_EQ(modMain::RecordOfMonitor(*m), c.written);
    }
}

TEST_P(Engine, LoadMonitoringsReadsTheRunOfRecords) {
    modRegistry::SetSetting("config0", "1;;;0;1;0;;");
    modRegistry::SetSetting("config1", "5;;;2;1;0;;");
    modRegistry::SetSetting("config2", "");
    modRegistry::SetSetting("config3", "9;9;9;1;1;1;x;");
    modMain::Monitors.push_back(NewMonitor({42}));  // the old collection goes
    modMain::LoadMonitorings();
    ASSERT_EQ(modMain::Monitors.size(), 2u);
    EXPECT_EQ(modMain::Monitors[0]->computerNr(), 1);
    EXPECT_EQ(modMain::Monitors[1]->computerNr(), 5);
    EXPECT_FALSE(modMain::Monitors[1]->showMsgBox());
    EXPECT_TRUE(modMain::Monitors[1]->writeEventLog());

    // The loaded monitors start at the newest number and report what follows.
    db().AddEvent(5, 1, 1, 90, "for five");
    for (auto& m : modMain::Monitors) m->Check();
    EXPECT_EQ(syslog_.NewMessages(), (std::vector<std::string>{"for five"}));
}

TEST_P(Engine, LoadMonitoringsWithoutRecordsTouchesNoDatabase) {
    // A server that cannot be reached: any database use would end up in the
    // reconnect question, which this test answers with No (the program ends).
    modMain::Monitors.push_back(NewMonitor({42}));
    modRegistry::SetSetting("Server", work_.file("missing.db"));
    modDatabase::Reset();
    modMain::LoadMonitorings();
    EXPECT_TRUE(modMain::Monitors.empty());
    EXPECT_TRUE(boxes_.shown.empty());

    // The same with one record does reach the database.
    modRegistry::SetSetting("config0", "1;;;0;1;0;;");
    EXPECT_THROW(modMain::LoadMonitorings(), ProgramEnded);
    EXPECT_FALSE(boxes_.shown.empty());
}

TEST_P(Engine, AnOverflowingFieldSkipsItsRecordOnly) {
    modRegistry::SetSetting("config0", "1;;;0;1;0;;");
    modRegistry::SetSetting("config1", "99999999999;;;0;1;0;;");
    modRegistry::SetSetting("config2", "3;;;0;1;0;;");
    EXPECT_TRUE(modMain::LoadMonitorings());
    ASSERT_EQ(modMain::Monitors.size(), 2u);
    EXPECT_EQ(modMain::Monitors[0]->computerNr(), 1);
    EXPECT_EQ(modMain::Monitors[1]->computerNr(), 3);
    EXPECT_TRUE(boxes_.shown.empty());

    // With "-debug" it goes to the error reporter, whose halt ends the load
    // (and here the program) at that record.
    modMain::SetCommandTail("-debug");
    EXPECT_THROW(modMain::LoadMonitorings(), ProgramEnded);
    modMain::SetCommandTail("");
    EXPECT_EQ(boxes_.Texts(),
              std::vector<std::string>{"Error 'Overflow' number 6 occured in modMain (LoadMonitorings) "});
    ASSERT_EQ(modMain::Monitors.size(), 1u);
    EXPECT_EQ(modMain::Monitors[0]->computerNr(), 1);
}

TELWICK_INSTANTIATE_DB_TEST(Engine);

}  // namespace
