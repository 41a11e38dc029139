// Bad input reaching the real service: malformed records, damaged protected
// values, a damaged hive, odd database rows and a schema that lacks a table or
// a column. Each gives a clear outcome and no crash.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <sstream>

#include "reliability/harness.h"
#include "settings/crypt.h"

namespace telwick::reliability {
namespace {

namespace fs = std::filesystem;

int CountLines(const std::string& text, const std::string& prefix) {
    std::istringstream in(text);
    std::string line;
    int n = 0;
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0) ++n;
    return n;
}

// Checks that run after every case: the service is alive, ends cleanly on a
// stop, and said nothing of a sanitizer.
void EndsCleanly(Service& svc) {
    EXPECT_TRUE(svc.Running()) << svc.Stderr();
    int status = svc.Stop();
    Figure("exit_status", status);
    EXPECT_EQ(status, 0) << svc.Stderr();
    EXPECT_EQ(svc.Stderr().find("Sanitizer"), std::string::npos) << svc.Stderr();
}

// Adds two numbered events and waits until each was logged `times` times (or,
// for 0, until a few checks have passed); returns how often each was logged.
std::map<int, int> Report(Sandbox& box, EventStore& db, int times, std::vector<int>* numbers = nullptr) {
    auto events = db.AddNumbered(2);
    if (numbers) *numbers = events;
    if (times > 0) WaitUntil([&] { return box.log().Count("110") >= 2u * static_cast<size_t>(times); }, 20s);
    std::this_thread::sleep_for(times > 0 ? 800ms : 2000ms);
    auto counts = CountNumbered(box.log().Messages("110"));
    std::map<int, int> out;
    for (int nr : events) out[nr] = counts.count(nr) ? counts[nr] : 0;
    return out;
}

// --- malformed records -------------------------------------------------------------------

struct RecordCase {
    const char* name;
    const char* what;
    std::function<std::vector<std::string>(Sandbox&)> records;
    int times;                      // how often each event is logged: the loaded monitors with the event log on
    int batchRuns;                  // batch runs per event
    const char* skipped = nullptr;  // the record skipped with an error entry and a line
};
void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }

class BadRecords : public ::testing::TestWithParam<RecordCase> {};

TEST_P(BadRecords, LoadWhatCanBeLoaded) {
    const RecordCase& c = GetParam();
    SqliteCase run(c.what, c.records);
    auto& [box, db, svc] = run;
    run.Start();
    auto counts = Report(box, db, c.times);
    int logged = 0;
    for (const auto& [nr, n] : counts) {
        EXPECT_EQ(n, c.times) << "event " << nr;
        logged += n;
    }
    Figure("entries_per_event", c.times);
    Figure("entries", logged);
    size_t runs = box.ProbeRuns().size();
    WaitUntil([&] { return box.ProbeRuns().size() >= 2u * static_cast<size_t>(c.batchRuns); }, 30s);
    runs = box.ProbeRuns().size();
    EXPECT_EQ(runs, 2u * static_cast<size_t>(c.batchRuns));
    Figure("batch_runs", static_cast<double>(runs));
    // A record that cannot be read is named once in the system log and once on
    // standard error; the others say nothing.
    const auto entries = box.log().Messages("114");
    const std::string err = svc.Stderr();
    EXPECT_EQ(entries.size(), c.skipped ? 1u : 0u) << err;
    if (c.skipped && !entries.empty()) {
        const std::string name = std::string(" ") + c.skipped + " ";
        EXPECT_NE(entries[0].find(name), std::string::npos) << entries[0];
        EXPECT_NE(entries[0].find("outside the range"), std::string::npos) << entries[0];
        EXPECT_EQ(CountLines(err, "Telwick: The monitoring record" + name), 1) << err;
        Figure("entry_114", entries[0]);
    }
    EndsCleanly(svc);
    Outcome((c.times == 0 ? std::string("no monitor reports; service runs on")
                          : std::to_string(c.times) + " monitor(s) report each event") +
            (c.skipped ? std::string("; ") + c.skipped + " skipped, named in one error entry 114 and one line"
                       : std::string()));
}

std::string Ok() { return ";;;0;1;0;;"; }

INSTANTIATE_TEST_SUITE_P(
    Cases, BadRecords,
    ::testing::Values(
        RecordCase{"MissingFields", "record with five fields and no closing \";\"",
                   [](Sandbox&) { return std::vector<std::string>{";;;0;1"}; }, 1, 0},
        RecordCase{"SurplusFields", "record with three surplus fields",
                   [](Sandbox&) { return std::vector<std::string>{";;;0;1;0;;x;y;z;"}; }, 1, 0},
        RecordCase{"NonNumeric", "number fields \"abc\", \"x7\", \"?\" (read as 0: any)",
                   [](Sandbox&) { return std::vector<std::string>{"abc;x7;?;0;1;0;;"}; }, 1, 0},
        RecordCase{"NegativeNumbers", "number fields -5, -1, -0 (any)",
                   [](Sandbox&) { return std::vector<std::string>{"-5;-1;-0;0;1;0;;"}; }, 1, 0},
        RecordCase{"HugeNumber", "second of three records has computer 99999999999 (outside 32 bits)",
                   [](Sandbox&) {
                       return std::vector<std::string>{Ok(), "99999999999;;;0;1;0;;", Ok()};
                   },
                   2, 0, "config1"},
        RecordCase{"HugeExponent", "first record has level 1e300",
                   [](Sandbox&) {
                       return std::vector<std::string>{";;1e300;0;1;0;;", Ok()};
                   },
                   1, 0, "config0"},
        RecordCase{"OneMebibyte", "second record is 1 MiB long",
                   [](Sandbox&) {
                       return std::vector<std::string>{Ok(), ";;;0;1;0;" + std::string(1 << 20, 'x') + ";"};
                   },
                   1, 0},
        RecordCase{"LongestReadable", "record of 4095 bytes (the longest a read returns) with a long batch path",
                   [](Sandbox&) {
                       std::string r = ";;;0;1;1;/";
                       return std::vector<std::string>{r + std::string(4095 - r.size() - 1, 'p') + ";"};
                   },
                   1, 0},
        RecordCase{"NotUtf8", "bytes that are not UTF-8 in the number field and in the batch path (a real file)",
                   [](Sandbox& box) {
                       std::string path = box.file("job-\xe9\xff");
                       fs::copy_file(box.ProbePath(), path);
                       chmod(path.c_str(), 0755);
                       return std::vector<std::string>{"\xff\xfe;;;0;1;1;" + path + ";"};
                   },
                   1, 1},
        RecordCase{"PercentEverywhere", "\"%\" in every field",
                   [](Sandbox&) { return std::vector<std::string>{"%1;%;%%;0;1;0;%5%;"}; }, 1, 0},
        RecordCase{"FlagsNotExactlyOne", "flags \" 1\", \"01\", \"1.0\" (all off) beside a normal record",
                   [](Sandbox&) {
                       return std::vector<std::string>{";;; 1;01;1.0;;", Ok()};
                   },
                   1, 0},
        RecordCase{"GapInTheList", "config1 empty, config2 filled (the list ends at the gap)",
                   [](Sandbox&) {
                       return std::vector<std::string>{Ok(), "", Ok()};
                   },
                   1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// With "-debug" an unreadable record is a failure of the load like any other:
// the developer sees the error reporter's text, and its halt holds the program
// there. Without a display the text is a line on standard error and the halt,
// with no debugger attached, ends the program.
TEST(BadRecordsUnderDebug, GoToTheErrorReporterAndHalt) {
    SqliteCase run("with \"-debug\": the second of three records has computer 99999999999 (outside 32 bits)",
                   {Ok(), "99999999999;;;0;1;0;;", Ok()});
    auto& [box, db, svc] = run;
    box.log();
    svc.Start({"-debug"});
    int status = svc.Wait(30s);
    if (status == -1) status = svc.Stop();
    const std::string err = svc.Stderr();
    const std::string shown = "Error 'Overflow' number 6 occured in modMain (LoadMonitorings) ";
    const size_t line = err.find("[Telwick] ");
    Figure("exit_status", status);
    Figure("reporter_line", line == std::string::npos ? "(none)" : err.substr(line, err.find('\n', line) - line));
    EXPECT_EQ(status, 1) << err;
    EXPECT_NE(err.find("[Telwick] " + shown + "\n"), std::string::npos) << err;
    EXPECT_EQ(CountLines(err, "[Telwick] "), 1) << err;
    // halted during the start: never ready, and not skipped as without -debug
    EXPECT_EQ(svc.WaitNotify("READY=1", 100ms), "");
    EXPECT_EQ(box.log().Count("114"), 0u);
    EXPECT_EQ(svc.Stderr().find("Sanitizer"), std::string::npos) << svc.Stderr();
    Outcome("the reporter's text, then the halt: ended with status " + std::to_string(status) +
            " before it was ready; no entry 114");
}

// --- protected login values ---------------------------------------------------------------

std::string OtherPassphraseValue() {
    const std::string other = "another installation's secret!!";
    return modHex::StringToHex(modCrypt::EncryptString("USRadmin", other), " ");
}

std::string TamperedValue() {
    std::string v = modCrypt::ProtectValue("USR", "admin");
    v[30] = v[30] == 'A' ? 'B' : 'A';
    return v;
}

struct LoginCase {
    const char* name;
    const char* what;
    std::function<std::string()> username;
    int times;
};
void PrintTo(const LoginCase& c, std::ostream* os) { *os << c.name; }

class BadProtectedValues : public ::testing::TestWithParam<LoginCase> {};

TEST_P(BadProtectedValues, NoCrashAndAClearOutcome) {
    const LoginCase& c = GetParam();
    modCrypt::SetPassphrase();
    SqliteCase run(c.what);
    auto& [box, db, svc] = run;
    box.Set("Username", c.username());
    box.Set("Password", c.username());
    run.Start();
    auto counts = Report(box, db, c.times);
    for (const auto& [nr, n] : counts) EXPECT_EQ(n, c.times) << "event " << nr;
    Figure("entries_per_event", c.times);
    EndsCleanly(svc);
    Outcome(c.times ? "read as an empty login; the monitors work"
                    : "the login cannot be read: the first database use fails and no monitor is loaded");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadProtectedValues,
    ::testing::Values(
        LoginCase{"NotHex", "stored user name \"ZZ 11 22\" (not hex)", [] { return std::string("ZZ 11 22"); }, 0},
        LoginCase{"LowerCaseHex", "stored user name in lower-case hex",
                  [] {
                      std::string v = modCrypt::ProtectValue("USR", "admin");
                      for (char& ch : v) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
                      return v;
                  },
                  0},
        LoginCase{"TooShort", "stored user name \"4A\" (one byte)", [] { return std::string("4A"); }, 1},
        LoginCase{"Tampered", "stored user name with one digit changed", TamperedValue, 1},
        LoginCase{"OtherPassphrase", "stored user name written with another passphrase", OtherPassphraseValue, 1},
        LoginCase{"NotUtf8", "stored user name of bytes that are not UTF-8",
                  [] { return std::string("\xff\xfe\x80 \x01"); }, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// --- a damaged hive ----------------------------------------------------------------------------

struct HiveCase {
    const char* name;
    const char* what;
    std::function<void(const std::string& hive)> damage;
};
void PrintTo(const HiveCase& c, std::ostream* os) { *os << c.name; }

class DamagedHive : public ::testing::TestWithParam<HiveCase> {};

TEST_P(DamagedHive, ClearErrorAndFileUntouched) {
    const HiveCase& c = GetParam();
    SqliteCase run(c.what);
    auto& [box, db, svc] = run;
    c.damage(box.hive());
    const std::string before = ReadFile(box.hive());

    // telwick-reg: exit status 1 with one line, for reading and for writing.
    std::string out;
    int query = RunProgram({TELWICK_REG_PATH, "query", "HKLM\\SOFTWARE\\Corvane\\Telwick"}, &out);
    EXPECT_EQ(query, 1) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    Figure("reg_query_status", query);
    Figure("reg_query_message", out);
    int add = RunProgram({TELWICK_REG_PATH, "add", "HKLM\\SOFTWARE\\Corvane\\Telwick", "/v", "X", "/d", "1", "/f"},
                         &out);
    EXPECT_EQ(add, 1) << out;
    Figure("reg_add_status", add);

    // The service reads only empty values: no records, so no monitor and no
    // database use. It must neither crash nor write to the file; whether it
    // runs on idle or ends, it ends cleanly.
    box.log();
    svc.Start();
    int status = svc.Wait(3s);
    const bool ranOn = status == -1;
    if (ranOn) status = svc.Stop();
    Figure("service_ran_on", ranOn ? "yes" : "no");
    Figure("service_exit_status", status);
    Figure("service_said", svc.Stderr().empty() ? "nothing" : svc.Stderr().substr(0, 200));
    EXPECT_GE(status, 0) << svc.Stderr();
    EXPECT_LT(status, 128) << "ended by a signal: " << svc.Stderr();
    EXPECT_EQ(svc.Stderr().find("Sanitizer"), std::string::npos) << svc.Stderr();
    EXPECT_EQ(ReadFile(box.hive()), before) << "the damaged hive was written to";
    EXPECT_NE(svc.Stderr().find("is damaged"), std::string::npos) << svc.Stderr();
    EXPECT_EQ(box.log().Count("113"), 1) << "one error entry for the damaged hive";
    Outcome(std::string("telwick-reg: exit 1 with one line; service: ") +
            (ranOn ? "runs on with no monitor" : "ended") +
            (svc.Stderr().empty() ? " and says nothing" : " with a message") + "; file unchanged");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedHive,
    ::testing::Values(HiveCase{"Garbage", "hive file of 8 KiB of random bytes",
                               [](const std::string& h) {
                                   std::string bytes;
                                   unsigned x = 12345;
                                   for (int i = 0; i < 8192; ++i) {
                                       x = x * 1103515245u + 12345u;
                                       bytes += static_cast<char>(x >> 16);
                                   }
                                   WriteFile(h, bytes, 0600);
                               }},
                      HiveCase{"Truncated", "hive cut to half its length",
                               [](const std::string& h) { fs::resize_file(h, fs::file_size(h) / 2); }},
                      HiveCase{"TextFile", "hive replaced by a text file",
                               [](const std::string& h) { WriteFile(h, "Server=/tmp/corvane.db\n", 0600); }}),
    [](const auto& info) { return std::string(info.param.name); });

// --- odd database rows ------------------------------------------------------------------------

TEST(BadRows, NullsHugeParametersAndPercentSigns) {
    SqliteCase run(
        "rows with null message or parameter, a 1 MiB parameter, \"%\" everywhere, bytes that are not UTF-8");
    auto& [box, db, svc] = run;
    LogReceiver& log = run.Start();

    struct Row {
        const char* message;  // nullptr: null
        std::string parameter;
        bool nullParameter;
        std::string expected;
    };
    const std::string big(1 << 20, 'B');
    std::vector<Row> rows = {
        {"%%1%%2%3%%%4%5%6%", "a;b;c;d;e", false, "%a%bc%%de%6%"},
        {nullptr, "x", false, ""},
        {"Null %1.", "", true, "Null ."},
        {"Order %1%2%3%4%5", "x%2;y", false, "Order x%2y"},
        {"Semi %1", "a[trdoppu]b", false, "Semi a;b"},
        {"Ten %10 %6", "x", false, "Ten x0 %6"},
        {"Bytes %1", "\xff\xfe", false, ""},  // not compared: the text reader decides
        {"Big %1", big, false, ""},           // not compared: the entry is cut
    };
    int nr = 910;
    std::vector<int> numbers;
    for (const auto& r : rows) {
        if (r.message) {
            std::string m = r.message;
            db.SetMessage(nr, &m);
        } else {
            db.SetMessage(nr, nullptr);
        }
        numbers.push_back(db.AddEvent(nr, r.nullParameter ? nullptr : &r.parameter));
        ++nr;
    }
    auto marker = db.AddNumbered(1);
    ASSERT_TRUE(WaitUntil([&] { return CountNumbered(log.Messages("110")).count(marker[0]) > 0; }, 30s))
        << svc.Stderr();
    std::this_thread::sleep_for(600ms);
    auto texts = log.Messages("110");
    ASSERT_EQ(texts.size(), rows.size() + 1) << "one entry per row, then the marker";
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i].expected.empty() || rows[i].message == nullptr) {
            EXPECT_EQ(texts[i], rows[i].expected) << "row " << i;
        }
    }
    Figure("bytes_row_text_hex", Hex(texts[6]));
    Figure("big_row_entry_bytes", static_cast<double>(texts[7].size()));
    EXPECT_EQ(texts[7].rfind("Big BBBB", 0), 0u);
    EndsCleanly(svc);
    Outcome("every row logged once with its text; the 1 MiB text cut to " + std::to_string(texts[7].size()) +
            " bytes; the invalid bytes read as " + Hex(texts[6]));
}

// --- a table or a column missing ----------------------------------------------------------------

struct SchemaCase {
    const char* name;
    const char* what;
    const char* breakSql;
    const char* mendSql;
    const char* table;  // where the events stored meanwhile go
};
void PrintTo(const SchemaCase& c, std::ostream* os) { *os << c.name; }

class MissingSchema : public ::testing::TestWithParam<SchemaCase> {};

TEST_P(MissingSchema, ChecksFailQuietlyAndResumeAfterRepair) {
    const SchemaCase& c = GetParam();
    SqliteCase run(c.what);
    auto& [box, db, svc] = run;
    LogReceiver& log = run.Start();
    auto first = db.AddNumbered(2);
    ASSERT_TRUE(WaitUntil([&] { return log.Count("110") >= 2; }, 20s));

    db.Exec(c.breakSql);
    std::vector<int> meanwhile;
    for (int i = 0; i < 2; ++i) {
        db.Exec(std::string("INSERT INTO ") + c.table +
                " (computernr, eventtypenr, levelnr, messagenr) VALUES (1, 1, 1, 900)");
    }
    db.Exec(std::string("UPDATE ") + c.table + " SET " +
            (std::string(c.name) == "ColumnMissing" ? "param2" : "parameter") +
            " = CAST(eventlognr AS TEXT) WHERE messagenr = 900");
    double cpu0 = svc.CpuSeconds();
    std::this_thread::sleep_for(3s);
    double cpu = svc.CpuSeconds() - cpu0;
    EXPECT_TRUE(svc.Running());
    db.Exec(c.mendSql);
    auto last = db.AddNumbered(2);
    int base = first.back();
    for (int i = 1; i <= 2; ++i) meanwhile.push_back(base + i);
    auto all = Join(Join(first, meanwhile), last);
    WaitUntil([&] { return Compare(all, log.Messages("110")).missing == 0; }, 20s);
    std::this_thread::sleep_for(600ms);
    Tally t = Compare(all, log.Messages("110"));
    RecordTally("", t);
    Figure("cpu_s_while_broken_3s", cpu);
    EXPECT_EQ(t.duplicates, 0);
    EXPECT_EQ(t.missing, 0) << "events stored while the schema was broken were lost";
    EndsCleanly(svc);
    Outcome("checks failed quietly while broken; after the repair " + std::to_string(t.reported) + " of " +
            std::to_string(t.expected) + " events reported once");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MissingSchema,
    ::testing::Values(SchemaCase{"DescriptionTableMissing", "table t_description renamed away for 3 s",
                                 "ALTER TABLE t_description RENAME TO t_description_away",
                                 "ALTER TABLE t_description_away RENAME TO t_description", "t_eventLog"},
                      SchemaCase{"EventTableMissing",
                                 "table t_eventLog renamed away for 3 s (events stored in it meanwhile)",
                                 "ALTER TABLE t_eventLog RENAME TO t_eventlog_away",
                                 "ALTER TABLE t_eventlog_away RENAME TO t_eventLog", "t_eventlog_away"},
                      SchemaCase{"ColumnMissing", "column parameter renamed away for 3 s",
                                 "ALTER TABLE t_eventLog RENAME COLUMN parameter TO param2",
                                 "ALTER TABLE t_eventLog RENAME COLUMN param2 TO parameter", "t_eventLog"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace telwick::reliability

namespace telwick::reliability {
namespace {

// --- event numbers as the database has them ----------------------------------------------------

// An event of message 900 ("Event %1") with the given number (empty: the
// table's next one) and parameter.
std::string Ev(const std::string& nr, const std::string& parameter) {
    return "INSERT INTO t_eventLog (" + std::string(nr.empty() ? "" : "eventlognr, ") +
           "computernr, eventtypenr, levelnr, messagenr, parameter) VALUES (" + (nr.empty() ? "" : nr + ", ") +
           "1, 1, 1, 900, '" + parameter + "');";
}
std::string Ev(const std::string& nr) { return Ev(nr, nr); }

struct NumberStep {
    std::string sql;                    // what the collector does
    std::vector<std::string> reported;  // the entries that must follow, in order (none: a few checks pass)
};
struct NumberCase {
    const char* name;
    const char* what;
    std::string before;  // stored before the service starts
    std::vector<NumberStep> steps;
};
void PrintTo(const NumberCase& c, std::ostream* os) { *os << c.name; }

class EventNumbers : public ::testing::TestWithParam<NumberCase> {};

TEST_P(EventNumbers, ReportedAsTheDatabaseHasThem) {
    const NumberCase& c = GetParam();
    Describe(c.what);
    Sandbox box;
    SqliteStore db(box.file("corvane.db"));
    if (!c.before.empty()) db.Exec(c.before);
    box.Configure(db.Server(), {Sandbox::Record(false, true, false)}, 100);
    LogReceiver& log = box.log();
    Service svc(box);
    svc.StartReady();
    std::vector<std::string> expected;
    for (const NumberStep& step : c.steps) {
        db.Exec(step.sql);
        expected.insert(expected.end(), step.reported.begin(), step.reported.end());
        if (step.reported.empty())
            std::this_thread::sleep_for(2s);  // some twenty checks look at the change
        else
            WaitUntil([&] { return log.Count("110") >= expected.size(); }, 20s);
    }
    std::this_thread::sleep_for(600ms);  // nothing may come twice
    const auto texts = log.Messages("110");
    EXPECT_EQ(texts, expected) << svc.Stderr();
    Figure("stored", static_cast<double>(expected.size()));
    Figure("entries", static_cast<double>(texts.size()));
    EndsCleanly(svc);
    Outcome(texts == expected ? "every event reported once, in order" : "not every event reported once");
}

const std::vector<std::string> NewAB = {"Event new-a", "Event new-b"};

INSTANTIATE_TEST_SUITE_P(
    Cases, EventNumbers,
    ::testing::Values(
        NumberCase{"Beyond32Bits",
                   "an event numbered 3,000,000,000 stored in SQLite, then two more events",
                   "",
                   {{Ev("1"), {"Event 1"}},
                    {Ev("3000000000"), {"Event 3000000000"}},
                    {Ev("3000000001") + Ev("3000000002"), {"Event 3000000001", "Event 3000000002"}}}},
        NumberCase{"NegativeFromTheBottom",
                   "numbers seeded at the bottom of the 32-bit range (-2147483648 on), two more events",
                   Ev("-2147483648") + Ev("-2147483647"),
                   {{Ev("-2147483646") + Ev("-2147483645"), {"Event -2147483646", "Event -2147483645"}}}},
        NumberCase{"NegativeIntoAnEmptyTable",
                   "an empty table at start, then events numbered -5 and -4",
                   "",
                   {{Ev("-5") + Ev("-4"), {"Event -5", "Event -4"}}}},
        NumberCase{"RenumberedBelowTheCovered",
                   "events 1 to 5 reported, then 3 to 5 deleted and the numbering set back to 2, two new events",
                   "",
                   {{Ev("1") + Ev("2") + Ev("3") + Ev("4") + Ev("5"),
                     {"Event 1", "Event 2", "Event 3", "Event 4", "Event 5"}},
                    {"DELETE FROM t_eventLog WHERE eventlognr > 2;"
                     "UPDATE sqlite_sequence SET seq = 2 WHERE name = 't_eventLog';",
                     {}},
                    {Ev("", "new-a") + Ev("", "new-b"), NewAB}}},
        NumberCase{"EmptiedAndNumberedAgain",
                   "events 1 to 3 reported, then every row deleted and the numbering started again at 1, two "
                   "new events",
                   "",
                   {{Ev("1") + Ev("2") + Ev("3"), {"Event 1", "Event 2", "Event 3"}},
                    {"DELETE FROM t_eventLog; DELETE FROM sqlite_sequence;", {}},
                    {Ev("", "new-a") + Ev("", "new-b"), NewAB}}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- the monitors cannot be loaded at start ------------------------------------------------------

struct LoadCase {
    const char* name;
    const char* what;
    // Spoils the database before the start; returns what mends it.
    std::function<std::function<void()>(SqliteStore&)> spoil;
};
void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

class FailedLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(FailedLoad, SaidOnceAndTriedAgainUntilItWorks) {
    const LoadCase& c = GetParam();
    Describe(c.what);
    Sandbox box;
    SqliteStore db(box.file("corvane.db"));
    box.Configure(db.Server(), {Sandbox::Record(false, true, false)}, 100);
    LogReceiver& log = box.log();
    const auto mend = c.spoil(db);
    Service svc(box);
    svc.StartReady();  // the start goes through, without monitors
    ASSERT_TRUE(WaitUntil([&] { return log.Count("115") >= 1; }, 30s)) << svc.Stderr();
    std::this_thread::sleep_for(1500ms);  // later checks fail too, and say nothing more
    EXPECT_EQ(log.Count("115"), 1u);
    EXPECT_EQ(CountLines(svc.Stderr(), "Telwick: The monitors could not be loaded (config0: "), 1) << svc.Stderr();
    Figure("entry_115", log.Messages("115").at(0));
    mend();
    EXPECT_TRUE(WaitUntil([&] { return log.Count("116") >= 1; }, 30s)) << svc.Stderr();
    for (const auto& [nr, n] : Report(box, db, 1)) EXPECT_EQ(n, 1) << "event " << nr;
    EXPECT_EQ(log.Count("115"), 1u);
    EXPECT_EQ(log.Count("116"), 1u);
    EndsCleanly(svc);
    Outcome("one error entry 115 and one line; loaded by a later check (one entry 116), events reported once");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailedLoad,
    ::testing::Values(LoadCase{"TableMissing",
                               "t_eventLog renamed away while the service starts, back 1.5 s after the entry",
                               [](SqliteStore& db) -> std::function<void()> {
                                   db.Exec("ALTER TABLE t_eventLog RENAME TO t_eventlog_away");
                                   return [&db] { db.Exec("ALTER TABLE t_eventlog_away RENAME TO t_eventLog"); };
                               }},
                      LoadCase{"DatabaseLocked",
                               "another process holds the database locked while the service starts, "
                               "releases it 1.5 s after the entry",
                               [](SqliteStore& db) -> std::function<void()> {
                                   sqlite3* h = nullptr;
                                   sqlite3_open(db.path().c_str(), &h);
                                   if (sqlite3_exec(h, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK)
                                       ADD_FAILURE() << "no lock";
                                   return [h] {
                                       sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr);
                                       sqlite3_close(h);
                                   };
                               }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace telwick::reliability
