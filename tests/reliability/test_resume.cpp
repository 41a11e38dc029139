// Operating over time: the positions kept across a stop or a kill ("Resume"),
// the limit on the message boxes of one check ("MaxMessageBoxes"), and the
// status line the service manager shows.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>
#include <functional>
#include <ostream>
#include <sstream>

#include "harness.h"
#include "monitor/positions.h"
#include "platform/posix/hive.h"
#include "settings/registry.h"

namespace telwick::reliability {
namespace {

namespace hive = telwick::hive;

std::vector<std::string> Texts(const std::vector<int>& numbers) {
    std::vector<std::string> texts;
    for (int n : numbers) texts.push_back("Event " + std::to_string(n));
    return texts;
}

int64_t KeptPosition(const std::string& name = "config0") {
    auto all = modPositions::ReadAll();
    auto found = all.find(name);
    return found == all.end() ? -1 : found->second.covered;
}

int Lines(const std::string& text, const std::string& prefix) {
    std::istringstream in(text);
    int n = 0;
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) ++n;
    return n;
}

// --- a clean stop, and what happens to the events stored meanwhile -----------------

struct RestartCase {
    const char* name;
    const char* what;
    const char* resume;  // the value "Resume", nullptr: missing
    // Done while the service is down (the record or the kept position changed).
    std::function<void(Sandbox&)> meanwhile;
    bool reportsMeanwhile;  // the events stored while it was down are reported
};
void PrintTo(const RestartCase& c, std::ostream* os) { *os << c.name; }

class RestartWindow : public ::testing::TestWithParam<RestartCase> {};

TEST_P(RestartWindow, EventsStoredWhileDown) {
    const RestartCase& c = GetParam();
    Describe(c.what);
    Sandbox box;
    SqliteStore db(box.file("corvane.db"));
    box.Configure(db.Server(), {Sandbox::Record(false, true, false)});
    if (c.resume) box.Set("Resume", c.resume);
    LogReceiver& log = box.log();

    Service first(box);
    first.StartReady();
    auto before = db.AddNumbered(4);
    ASSERT_TRUE(WaitUntil([&] { return log.Count("110") >= 4; }, 20s)) << first.Stderr();
    ASSERT_EQ(first.Stop(), 0) << first.Stderr();

    auto down = db.AddNumbered(3);
    if (c.meanwhile) c.meanwhile(box);
    Service second(box);
    second.StartReady();
    auto after = db.AddNumbered(2);
    ASSERT_TRUE(WaitUntil([&] { return CountNumbered(log.Messages("110")).count(after.back()) > 0; }, 20s))
        << second.Stderr();
    std::this_thread::sleep_for(600ms);  // a few more ticks: nothing may come twice
    EXPECT_EQ(second.Stop(), 0);

    // Event for event, in order.
    std::vector<int> expected = before;
    if (c.reportsMeanwhile) expected.insert(expected.end(), down.begin(), down.end());
    expected.insert(expected.end(), after.begin(), after.end());
    EXPECT_EQ(log.Messages("110"), Texts(expected));
    Figure("meanwhile_reported", c.reportsMeanwhile ? 3 : 0);
    // Without Resume nothing is kept.
    if (!c.resume || std::string(c.resume) != "1")
        EXPECT_EQ(KeptPosition(), -1);
    else
        EXPECT_EQ(KeptPosition(), after.back());
    Outcome(std::to_string(log.Messages("110").size()) + " entries, event for event as expected");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RestartWindow,
    ::testing::Values(
        RestartCase{"ResumeOn", "clean stop, 3 events stored while down, Resume 1: each reported once", "1",
                    nullptr, true},
        RestartCase{"ChangedRecord", "Resume 1, the record changed while down: it starts at the newest", "1",
                    [](Sandbox& box) { box.Set("config0", Sandbox::Record(false, true, true, "/nonexistent")); },
                    false},
        RestartCase{"RenumberedTable", "Resume 1, kept number above the table's newest: starts at the newest", "1",
                    [](Sandbox&) {
                        const std::string text = "999999;" + Sandbox::Record(false, true, false);
                        hive::WriteValues(modRegistry::HKEY_LOCAL_MACHINE, modPositions::StateKey,
                                          {{"config0", modRegistry::REG_SZ, text + '\0'}});
                    },
                    false},
        RestartCase{"ResumeOff",
                    "Resume missing, a position kept from an earlier run: today's behaviour, the events stored "
                    "while down are skipped, and the old position is dropped",
                    nullptr,
                    [](Sandbox&) {
                        const std::string text = "0;" + Sandbox::Record(false, true, false);
                        hive::WriteValues(modRegistry::HKEY_LOCAL_MACHINE, modPositions::StateKey,
                                          {{"config0", modRegistry::REG_SZ, text + '\0'}});
                    },
                    false},
        RestartCase{"ResumeNotOne", "Resume \"yes\": the same as missing", "yes", nullptr, false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- a kill in the middle of a window ---------------------------------------------------------

TEST(ResumeAfterKill, NoEventLostAtMostTheLastTickRepeated) {
    Describe("Resume 1, SIGKILL while a window of 50000 events is being logged, restart");
    Sandbox box;
    SqliteStore db(box.file("corvane.db"));
    box.Configure(db.Server(), {Sandbox::Record(false, true, false)});
    box.Set("Resume", "1");
    LogReceiver& log = box.log();
    Service first(box);
    first.StartReady();
    auto before = db.AddNumbered(3);
    ASSERT_TRUE(WaitUntil([&] { return KeptPosition() == before.back(); }, 20s)) << first.Stderr();

    // The service is frozen as soon as the window's first entry arrives, the
    // position is seen still unwritten (so the tick is inside its window), and
    // then it is killed.
    auto window = db.AddNumbered(50000);
    ASSERT_TRUE(WaitUntil([&] { return log.Count("110") > before.size(); }, 30s, 1ms)) << first.Stderr();
    first.Signal(SIGSTOP);
    EXPECT_EQ(KeptPosition(), before.back());
    first.Signal(SIGKILL);
    first.Wait(10s);
    const size_t actedBeforeKill = log.Count("110") - before.size();
    EXPECT_LT(actedBeforeKill, window.size());

    Service second(box);
    second.StartReady();
    ASSERT_TRUE(WaitUntil([&] { return CountNumbered(EntriesWritten(log, second)).count(window.back()) > 0; },
                          240s, 200ms))
        << second.Stderr();
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(second.Stop(), 0);

    std::vector<int> all = before;
    all.insert(all.end(), window.begin(), window.end());
    const auto texts = EntriesWritten(log, second);
    Tally t = Compare(all, texts);
    RecordTally("", t);
    Figure("entries_on_stderr", static_cast<double>(EntriesOnStderr(second)));
    Figure("acted_on_before_kill", static_cast<double>(actedBeforeKill));
    EXPECT_EQ(t.missing, 0);
    EXPECT_EQ(t.unexpected, 0);
    // Only events of the window that was cut come twice.
    EXPECT_LE(t.duplicates, static_cast<int>(window.size()));
    auto counts = CountNumbered(texts);
    for (int nr : before) EXPECT_EQ(counts[nr], 1) << nr;
    Outcome("none lost; killed after about " + std::to_string(actedBeforeKill) + " of " +
            std::to_string(window.size()) + " events of a window, " + std::to_string(t.duplicates) +
            " came again");
}

// --- the flood guard ---------------------------------------------------------------------------

struct FloodCase {
    const char* name;
    const char* limit;  // "MaxMessageBoxes", nullptr: missing
    int events;
    int boxes;  // event boxes expected; one summary more when fewer than events
};
void PrintTo(const FloodCase& c, std::ostream* os) { *os << c.name; }

class FloodGuard : public ::testing::TestWithParam<FloodCase> {};

TEST_P(FloodGuard, BoxesOfOneCheck) {
    const FloodCase& c = GetParam();
    Describe(std::to_string(c.events) + " matching events in one window, MaxMessageBoxes " +
             (c.limit ? std::string("\"") + c.limit + "\"" : std::string("missing")));
    Sandbox box;
    SqliteStore db(box.file("corvane.db"));
    box.Configure(db.Server(), {Sandbox::Record(true, true, false)});
    if (c.limit) box.Set("MaxMessageBoxes", c.limit);
    LogReceiver& log = box.log();
    Service svc(box);
    svc.StartReady();
    auto events = db.AddNumbered(c.events);  // one transaction: one window
    ASSERT_TRUE(WaitUntil([&] { return log.Count("110") >= static_cast<size_t>(c.events); }, 120s, 200ms))
        << log.Count("110") << " entries";
    const bool summary = c.boxes < c.events;
    WaitUntil([&] { return !summary || Lines(svc.Stderr(), "[Telwick] ") > c.boxes; }, 10s);
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(svc.Stop(), 0);

    const std::string err = svc.Stderr();
    Tally t = Compare(events, log.Messages("110"));
    RecordTally("", t);
    EXPECT_EQ(t.missing + t.duplicates, 0);
    const int boxes = Lines(err, "[Telwick] Event ");
    Figure("message_boxes", boxes);
    EXPECT_EQ(boxes, c.boxes);
    EXPECT_EQ(Lines(err, "[Telwick] "), c.boxes + (summary ? 1 : 0));  // the summary, and nothing else
    const std::string last = std::to_string(events.back());
    const std::string summaryLine = "[Telwick] " + std::to_string(c.events - c.boxes) +
                                    " more events matched. The newest of them, event " + last + ": Event " + last;
    EXPECT_EQ(err.find(summaryLine + "\n") != std::string::npos, summary) << err;
    Outcome(std::to_string(boxes) + (summary ? " boxes and a summary" : " boxes") + " for " +
            std::to_string(t.reported) + " entries");
}

INSTANTIATE_TEST_SUITE_P(Cases, FloodGuard,
                         ::testing::Values(FloodCase{"Five", "5", 1000, 5}, FloodCase{"Missing", nullptr, 30, 30}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- the status line ---------------------------------------------------------------------------

TEST(StatusLine, SaysWhatTheTicksDidAndSinceWhenTheDatabaseIsAway) {
    Describe("status line to the notify socket after the ticks; database file moved away and back");
    Sandbox box;
    SqliteStore db(box.file("corvane.db"));
    box.Configure(db.Server(), {Sandbox::Record(false, true, false), Sandbox::Record(false, true, false)});
    LogReceiver& log = box.log();
    Service svc(box);
    svc.StartReady();
    auto events = db.AddNumbered(3);
    const std::string figures =
        "2 monitors checked, newest event " + std::to_string(events.back()) + ", 6 events acted on since start";
    std::string status = svc.WaitNotify(figures);
    EXPECT_NE(status.find("STATUS=Running, checking every 200 ms; last check "), std::string::npos) << status;
    EXPECT_EQ(status.find("unreachable"), std::string::npos) << status;

    const std::string away = box.file("corvane.away");
    std::rename(db.path().c_str(), away.c_str());
    status = svc.WaitNotify("; database unreachable since ");
    EXPECT_NE(status.find(figures), std::string::npos) << status;
    std::rename(away.c_str(), db.path().c_str());
    status = svc.WaitNotify(figures, 60s);
    EXPECT_EQ(status.find("unreachable"), std::string::npos) << status;
    EXPECT_EQ(log.Count("110"), 6u);
    EXPECT_EQ(svc.Stop(), 0);
    Outcome(status.empty() ? "no status line" : "status: " + status.substr(status.find("STATUS=") + 7));
}

}  // namespace
}  // namespace telwick::reliability
