// The system-log sink: the datagram it sends, where it sends it, and what it
// does when nobody or a stuck logger listens.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <cctype>
#include <vector>
#include <string>

#include "platform/consoleline.h"
#include "platform/syslog.h"
#include "support/datagram.h"
#include "support/testenv.h"

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

INSTANTIATE_TEST_SUITE_P(
    Entries, SyslogFormat,
    ::testing::Values(FormatCase{platform::EventInformation, 110, "Disk C: is 95% full", 30},
                      FormatCase{platform::EventError, 109, "[5] Invalid procedure call", 27},
                      FormatCase{platform::EventInformation, 110, "", 30},
                      FormatCase{platform::EventInformation, 110, "two\nlines \"quoted\" ; & | `x` $(y)", 30},
                      FormatCase{platform::EventInformation, 110, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC", 30}));

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

TEST(Syslog, WithoutALoggerTheEntryGoesToStandardError) {
    TempDir dir;
    struct Case {
        std::string socketPath;
        std::string what;
    };
    const std::string stale = dir.file("stale.sock");
    { BoundSocket gone(stale); }  // leaves the socket file with nobody behind it
    for (const Case& c : {Case{dir.file("missing.sock"), "no socket"}, Case{stale, "nobody listening"},
                          Case{dir.file("nofolder/log.sock"), "no folder"}}) {
        SCOPED_TRACE(c.what);
        ScopedEnv env("TELWICK_SYSLOG_SOCKET", c.socketPath);
        ::testing::internal::CaptureStderr();
        bool written = platform::WriteEventLog(platform::EventInformation, 110, "Disk C:\nfull");
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(written);
        EXPECT_EQ(err, "Telwick[110]: Disk C: full\n");
    }
}

TEST(ConsoleLine, TextFromElsewhereStaysOneLineWithoutControlCharacters) {
    const struct {
        std::string text, line;
    } cases[] = {
        {"Disk C:\r\n[Telwick] forged", "Disk C:  [Telwick] forged"},
        {std::string("nul\0bell\a esc\x1b[2J del\x7f", 22), "nul\\x00bell\\x07 esc\\x1b[2J del\\x7f"},
        {"tab\tand UTF-8 \xc3\x84rger stay", "tab\tand UTF-8 \xc3\x84rger stay"},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::OneLine(c.text), c.line);
}

TEST(Syslog, ALoggerThatStopsReadingIsWaitedForOnlyABoundedTime) {
    SyslogReceiver receiver;  // never reads until the end
    int sent = 0;
    auto begin = std::chrono::steady_clock::now();
    bool ok = true;
    while (ok && sent < 10000) {
        begin = std::chrono::steady_clock::now();
        ok = platform::WriteEventLog(platform::EventInformation, 110, "entry " + std::to_string(sent));
        if (ok) ++sent;
    }
    auto waited = std::chrono::steady_clock::now() - begin;
    ASSERT_FALSE(ok) << "the queue never filled";
    EXPECT_GE(sent, 1);
    EXPECT_GE(waited, std::chrono::milliseconds(1500));
    EXPECT_LT(waited, std::chrono::seconds(10));

    // Once the logger reads again, entries go through as before, in order.
    auto queued = receiver.Drain();
    ASSERT_EQ(queued.size(), static_cast<size_t>(sent));
    EXPECT_EQ(SyslogReceiver::MessageOf(queued.back()), "entry " + std::to_string(sent - 1));
    ASSERT_TRUE(platform::WriteEventLog(platform::EventInformation, 110, "later"));
    auto later = receiver.WaitFor(1);
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(SyslogReceiver::MessageOf(later[0]), "later");
}

}  // namespace
