// telwick-reg: every verb, its refusals, its output, and that what it writes
// is what the service reads.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include <sqlite3.h>

#include "reg/reg.h"
#include "platform/posix/hive.h"
#include "settings/registry.h"
#include "support/process.h"
#include "support/testenv.h"

using namespace modRegistry;
using telwick::test::ChildOptions;
using telwick::test::ChildProcess;
using telwick::test::ScopedHive;

using telwick::test::ReadFile;

namespace {

const std::string kKey = "HKLM\\SOFTWARE\\Corvane\\Telwick";

struct Result {
    int code;
    std::string out, err;
};

Result Reg(const std::vector<std::string>& args, const std::string& input = "", bool interactive = false) {
    std::istringstream in(input);
    std::ostringstream out, err;
    int code = telwick::reg::Run(args, in, out, err, interactive);
    return {code, out.str(), err.str()};
}

std::string Read(const std::string& name, const std::string& key = ProgramKey, uint32_t* typeOut = nullptr) {
    uint32_t type = REG_SZ;
    std::string v = GetRegistryValue(HKEY_LOCAL_MACHINE, key, name, type, "");
    if (typeOut) *typeOut = type;
    return v;
}

// A failure is exit 1 with exactly one line on standard error.
void ExpectOneLineFailure(const Result& r, const std::string& part = "") {
    EXPECT_EQ(r.code, 1);
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_EQ(r.err.rfind("ERROR: ", 0), 0u) << r.err;
    if (!part.empty()) {
        EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
    }
}

class TelwickReg : public ::testing::Test {
protected:
    ScopedHive hive_;
};

}  // namespace

TEST_F(TelwickReg, UsageOnRequest) {
    for (auto args : {std::vector<std::string>{"/?"}, {"-?"}, {"query", "/?"}, {"add", "/?"}}) {
        Result r = Reg(args);
        EXPECT_EQ(r.code, 0);
        EXPECT_NE(r.out.find("telwick-reg add"), std::string::npos);
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(TelwickReg, RefusalsAreOneLineAndChangeNothing) {
    ASSERT_EQ(Reg({"add", kKey, "/v", "Language", "/d", "2"}).code, 0);
    const std::string before = ReadFile(hive_.path());
    struct {
        std::vector<std::string> args;
        const char* part;
    } cases[] = {
        {{}, "Invalid syntax"},
        {{"frob", kKey}, "Invalid syntax"},
        {{"query"}, "KEY"},
        {{"query", kKey, "/v"}, "/v"},
        {{"query", kKey, "/f"}, "unknown option"},
        {{"query", kKey, "stray"}, "unexpected"},
        {{"add", kKey, "/v", "a", "/v", "b"}, "twice"},
        {{"add", kKey, "/v", "a", "/ve"}, "/ve"},
        {{"query", "HKXX\\SOFTWARE"}, "HKLM"},
        {{"query", "SOFTWARE\\Corvane"}, "HKLM"},
        {{"query", "\\\\host\\HKLM\\SOFTWARE"}, "other computers"},
        {{"add", kKey, "/v", "a", "/t", "REG_QWORD", "/d", "1"}, "REG_QWORD"},
        {{"add", kKey, "/v", "a", "/t", "REG_DWORD", "/d", "12x"}, "REG_DWORD"},
        {{"add", kKey, "/v", "a", "/t", "REG_DWORD", "/d", "4294967296"}, "32 bits"},
        {{"add", kKey, "/v", "a", "/t", "REG_DWORD", "/d", "-1"}, "REG_DWORD"},
        {{"add", kKey, "/v", "a", "/t", "REG_DWORD", "/d", "0x"}, "REG_DWORD"},
        {{"add", kKey, "/v", "a", "/t", "REG_BINARY", "/d", "abc"}, "even"},
        {{"add", kKey, "/v", "a", "/t", "REG_BINARY", "/d", "zz"}, "hex"},
        {{"add", kKey, "/v", "a", "/d", std::string(4096, 'x')}, "4095"},
        {{"add", kKey, "/v", "Language", "/d", "3"}, "/f"},
        {{"add", "HKLM\\SOFTWARE\\A\\\\B"}, "Invalid key"},
        {{"delete", "HKLM\\SOFTWARE", "/f"}, "denied"},
        {{"delete", "HKLM", "/f"}, "denied"},
        {{"delete", kKey, "/v", "Language"}, "/f"},
        {{"delete", kKey}, "/f"},
        {{"delete", kKey, "/v", "Nothing", "/f"}, "unable to find"},
        {{"delete", kKey + "\\Nothing", "/f"}, "unable to find"},
        {{"query", kKey, "/v", "Nothing"}, "unable to find"},
        {{"query", kKey + "\\Nothing"}, "unable to find"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        ExpectOneLineFailure(Reg(c.args), c.part);
    }
    EXPECT_EQ(ReadFile(hive_.path()), before);
    EXPECT_EQ(Read("Language"), "2");
}

TEST_F(TelwickReg, StringsReadBackThroughTheServiceByteForByte) {
    const std::string texts[] = {
        "",
        "60000",
        "  lead and trail  ",
        "tab\there",
        "1;0;5;1;0;1;C:\\run.cmd;",
        "semi[trdoppu]colon",
        "\xe4\xf6\xfc latin-1 bytes \xff",
        "-looks like an option",
        "/d",
        "quote \" and back\\slash",
        "line\nbreak",
        std::string(4095, 'x'),
    };
    int i = 0;
    for (const auto& text : texts) {
        std::string name = "v";
        name += std::to_string(i++);
        Result r = Reg({"add", kKey, "/v", name, "/d", text});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, "The operation completed successfully.\n");
        uint32_t type = 0;
        EXPECT_EQ(Read(name, ProgramKey, &type), text) << name;
        EXPECT_EQ(type, REG_SZ);
    }
    // The service's own write of the same text is stored the same way.
    ASSERT_TRUE(SetSetting("svc", "a b"));
    ASSERT_EQ(Reg({"add", kKey, "/v", "cli", "/d", "a b"}).code, 0);
    telwick::hive::Value svc, cli;
    ASSERT_EQ(telwick::hive::ReadValue(HKEY_LOCAL_MACHINE, ProgramKey, "svc", svc), telwick::hive::Status::Ok);
    ASSERT_EQ(telwick::hive::ReadValue(HKEY_LOCAL_MACHINE, ProgramKey, "cli", cli), telwick::hive::Status::Ok);
    EXPECT_EQ(svc.data, cli.data);
}

TEST_F(TelwickReg, OtherTypesAndHowQueryShowsThem) {
    ASSERT_EQ(Reg({"add", kKey, "/v", "Checkinterval", "/d", "60000"}).code, 0);
    ASSERT_EQ(Reg({"add", kKey, "/v", "n", "/t", "reg_dword", "/d", "1000"}).code, 0);
    ASSERT_EQ(Reg({"add", kKey, "/v", "h", "/t", "REG_DWORD", "/d", "0xFFFFFFFF"}).code, 0);
    ASSERT_EQ(Reg({"add", kKey, "/v", "z", "/t", "REG_DWORD"}).code, 0);
    ASSERT_EQ(Reg({"add", kKey, "/v", "b", "/t", "REG_BINARY", "/d", "00ff10Ab"}).code, 0);
    ASSERT_EQ(Reg({"add", kKey, "/v", "e", "/t", "REG_EXPAND_SZ", "/d", "%PATH%"}).code, 0);
    ASSERT_EQ(Reg({"add", kKey, "/ve", "/d", "default"}).code, 0);
    ASSERT_EQ(Reg({"add", kKey + "\\Sub"}).code, 0);

    EXPECT_EQ(Read("n"), std::string("\xe8\x03\0\0", 4));
    EXPECT_EQ(Read("b"), std::string("\0\xff\x10\xab", 4));
    EXPECT_EQ(Read("e"), std::string("%PATH%\0", 7));
    EXPECT_EQ(Read(""), "default");

    Result q = Reg({"query", kKey});
    EXPECT_EQ(q.code, 0);
    EXPECT_EQ(q.out,
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Telwick\n"
              "    Checkinterval    REG_SZ    60000\n"
              "    n    REG_DWORD    0x3e8\n"
              "    h    REG_DWORD    0xffffffff\n"
              "    z    REG_DWORD    0x0\n"
              "    b    REG_BINARY    00FF10AB\n"
              "    e    REG_EXPAND_SZ    %PATH%\n"
              "    (Default)    REG_SZ    default\n"
              "\n"
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Telwick\\Sub\n");
    Result one = Reg({"query", "hkey_local_machine\\software\\corvane\\telwick", "-V", "CHECKINTERVAL"});
    EXPECT_EQ(one.code, 0);
    EXPECT_EQ(one.out,
              "\nHKEY_LOCAL_MACHINE\\software\\corvane\\telwick\n    Checkinterval    REG_SZ    60000\n\n");
}

TEST_F(TelwickReg, AddMakesMissingParentsAndKeepsExistingKeys) {
    EXPECT_FALSE(std::ifstream(hive_.path()).good());
    ASSERT_EQ(Reg({"query", "HKLM\\SOFTWARE\\Corvane"}).code, 1);
    EXPECT_FALSE(std::ifstream(hive_.path()).good()) << "a query makes no file";
    Result r = Reg({"add", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Telwick\\Deep\\Er\\"});
    ASSERT_EQ(r.code, 0) << r.err;
    for (const char* key :
         {"SOFTWARE\\Corvane", "SOFTWARE\\Corvane\\Telwick", "SOFTWARE\\Corvane\\Telwick\\Deep\\Er"})
        EXPECT_EQ(telwick::hive::KeyExists(HKEY_LOCAL_MACHINE, key), telwick::hive::Status::Ok) << key;
    ASSERT_TRUE(SetSetting("Language", "2"));
    EXPECT_EQ(Reg({"add", kKey}).code, 0);
    EXPECT_EQ(Read("Language"), "2");
    struct stat st {};
    ASSERT_EQ(stat(hive_.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// Where scripts written against reg.exe read its output or rely on its
// defaults, telwick-reg answers the same.
TEST_F(TelwickReg, BehavesAsRegExeDoes) {
    const std::string key = kKey + "\\Plain";
    // add without /v sets the default value to the empty text; a second one asks.
    ASSERT_EQ(Reg({"add", key}).code, 0);
    EXPECT_EQ(Reg({"query", key, "/ve"}).out,
              "\n" + std::string("HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Telwick\\Plain") +
                  "\n    (Default)    REG_SZ    \n\n");
    ExpectOneLineFailure(Reg({"add", key}), "/f");
    EXPECT_EQ(Reg({"add", key, "/f"}).code, 0);
    // add KEY /d DATA without /v sets the default value too.
    ASSERT_EQ(Reg({"add", key, "/d", "x", "/f"}).code, 0);
    EXPECT_EQ(Read("", "SOFTWARE\\Corvane\\Telwick\\Plain"), "x");

    // A key without values: a blank line, then its subkeys alphabetically
    // without regard to case; values keep the order they were written in.
    const std::string bare = kKey + "\\Bare";
    for (const char* sub : {"beta", "Alpha", "gamma", "ALPHA2"})
        ASSERT_EQ(telwick::hive::CreateKeyPath(HKEY_LOCAL_MACHINE,
                                               "SOFTWARE\\Corvane\\Telwick\\Bare\\" + std::string(sub)),
                  telwick::hive::Status::Ok);
    const std::string shown = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Telwick\\Bare";
    EXPECT_EQ(Reg({"query", bare}).out,
              "\n" + shown + "\\Alpha\n" + shown + "\\ALPHA2\n" + shown + "\\beta\n" + shown + "\\gamma\n");
    // An unset default value is shown as not set, with status 0.
    Result unset = Reg({"query", bare, "/ve"});
    EXPECT_EQ(unset.code, 0) << unset.err;
    EXPECT_EQ(unset.out, "\n" + shown + "\n    (Default)    REG_SZ    (value not set)\n\n");
    ExpectOneLineFailure(Reg({"query", bare + "\\Nothing", "/ve"}), "unable to find");
}

// Names compare without regard to case for every letter, not only A to Z; the
// spelling of the first write is kept.
TEST_F(TelwickReg, NamesFoldCaseForEveryLetter) {
    const std::pair<const char*, const char*> pairs[] = {
        {"\xc3\x84RGER", "\xc3\xa4rger"},                                          // ÄRGER, ärger
        {"\xd0\x9a\xd0\x9b\xd0\xae\xd0\xa7", "\xd0\xba\xd0\xbb\xd1\x8e\xd1\x87"},  // КЛЮЧ, ключ
        {"\xce\xa3\xce\x9f\xce\xa6", "\xcf\x83\xce\xbf\xcf\x86"},                  // ΣΟΦ, σοφ
        {"\xcf\x83", "\xcf\x82"},                                                  // σ, ς
    };
    for (const auto& [first, second] : pairs) {
        SCOPED_TRACE(first);
        ASSERT_EQ(Reg({"add", kKey, "/v", first, "/d", "1"}).code, 0);
        ExpectOneLineFailure(Reg({"add", kKey, "/v", second, "/d", "2"}), "/f");
        ASSERT_EQ(Reg({"add", kKey, "/v", second, "/d", "2", "/f"}).code, 0);
        EXPECT_EQ(
            Reg({"query", kKey, "/v", second}).out,
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Telwick\n    " + std::string(first) + "    REG_SZ    2\n\n");
        ASSERT_EQ(Reg({"add", kKey + "\\" + first}).code, 0);
        EXPECT_EQ(
            telwick::hive::KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane\\Telwick\\" + std::string(second)),
            telwick::hive::Status::Ok);
        EXPECT_EQ(Reg({"delete", kKey, "/v", second, "/f"}).code, 0);
        EXPECT_EQ(Reg({"query", kKey, "/v", first}).code, 1);
    }
    // A hive written before kept such names folded in ASCII alone; they are
    // still found, and written over in place.
    ASSERT_EQ(Reg({"add", kKey, "/v", "\xc3\x84RGER", "/d", "old"}).code, 0);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(hive_.path().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "UPDATE hive_values SET fold = CAST(X'c38472676572' AS BLOB) WHERE fold = "
                           "CAST(X'c3a472676572' AS BLOB)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(sqlite3_changes(db), 1);
    sqlite3_close(db);
    EXPECT_EQ(Read("\xc3\xa4rger"), "old");
    ASSERT_EQ(Reg({"add", kKey, "/v", "\xc3\xa4rGER", "/d", "new", "/f"}).code, 0);
    EXPECT_EQ(Read("\xc3\x84RGER"), "new");
    const std::string listing = Reg({"query", kKey}).out;
    EXPECT_EQ(listing.find("RGER    REG_SZ"), listing.rfind("RGER    REG_SZ"))
        << "one value, not two: " << listing;
    // Bytes that are no UTF-8 are names of their own, byte for byte.
    ASSERT_EQ(Reg({"add", kKey, "/v", "\xc4", "/d", "1"}).code, 0);
    EXPECT_EQ(Reg({"add", kKey, "/v", "\xe4", "/d", "2"}).code, 0);
}

TEST_F(TelwickReg, OverwriteNeedsForceOrAYes) {
    ASSERT_EQ(Reg({"add", kKey, "/v", "Server", "/d", "old"}).code, 0);
    ExpectOneLineFailure(Reg({"add", kKey, "/v", "server", "/d", "new"}), "/f");
    EXPECT_EQ(Read("Server"), "old");
    // On a terminal the question is asked; no (or no answer at all) keeps the value.
    for (const char* answer : {"no\n", "n\n", ""}) {
        Result r = Reg({"add", kKey, "/v", "Server", "/d", "new"}, answer, true);
        ExpectOneLineFailure(r, "cancelled");
        EXPECT_NE(r.out.find("(Yes/No)?"), std::string::npos);
        EXPECT_EQ(Read("Server"), "old");
    }
    Result yes = Reg({"add", kKey, "/v", "Server", "/d", "asked"}, "maybe\nYes\n", true);
    EXPECT_EQ(yes.code, 0) << yes.err;
    EXPECT_EQ(Read("Server"), "asked");
    EXPECT_EQ(Reg({"add", kKey, "/v", "Server", "/d", "forced", "/F"}).code, 0);
    EXPECT_EQ(Read("Server"), "forced");
}

TEST_F(TelwickReg, DeleteValuesAndKeys) {
    for (const char* name : {"a", "b", "c"}) ASSERT_EQ(Reg({"add", kKey, "/v", name, "/d", "1"}).code, 0);
    ASSERT_EQ(Reg({"add", kKey + "\\Sub\\Deeper", "/v", "x", "/d", "1"}).code, 0);

    EXPECT_EQ(Reg({"delete", kKey, "/v", "a", "/f"}).code, 0);
    EXPECT_EQ(Read("a"), "");
    EXPECT_EQ(Read("b"), "1");

    ExpectOneLineFailure(Reg({"delete", kKey, "/v", "b"}, "no\n", true), "cancelled");
    EXPECT_EQ(Read("b"), "1");
    EXPECT_EQ(Reg({"delete", kKey, "/v", "b"}, "y\n", true).code, 0);
    EXPECT_EQ(Read("b"), "");

    EXPECT_EQ(Reg({"delete", kKey + "\\Sub", "/f"}).code, 0);
    EXPECT_EQ(telwick::hive::KeyExists(HKEY_LOCAL_MACHINE, ProgramKey + "\\Sub\\Deeper"),
              telwick::hive::Status::NotFound);
    EXPECT_EQ(Read("c"), "1");

    EXPECT_EQ(Reg({"delete", kKey, "/va", "/f"}).code, 0);
    EXPECT_EQ(Read("c"), "");
    EXPECT_EQ(telwick::hive::KeyExists(HKEY_LOCAL_MACHINE, ProgramKey), telwick::hive::Status::Ok);

    EXPECT_EQ(Reg({"delete", "HKLM\\SOFTWARE\\Corvane", "/f"}).code, 0);
    EXPECT_EQ(telwick::hive::KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane"), telwick::hive::Status::NotFound);
}

TEST_F(TelwickReg, DamagedHiveIsNamedAndLeftAsItIs) {
    {
        std::ofstream out(hive_.path(), std::ios::binary);
        out << "SQLite format 3 but not really";
    }
    for (auto args : {std::vector<std::string>{"query", kKey},
                      {"add", kKey, "/v", "a", "/d", "1", "/f"},
                      {"delete", kKey, "/f"},
                      {"add", "HKLM\\SOFTWARE\\X"}}) {
        Result r = Reg(args);
        ExpectOneLineFailure(r, hive_.path());
        EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadFile(hive_.path()), "SQLite format 3 but not really");
}

// The real program: exit codes and its streams.
TEST_F(TelwickReg, TheProgramItself) {
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), TELWICK_REG_PATH);
        ChildOptions options;
        options.stdoutFile = hive_.dir().file("out");
        options.stderrFile = hive_.dir().file("err");
        ChildProcess reg(args, options);
        const int status = reg.Wait();
        return Result{reg.KilledBySignal() ? -1 : status, ReadFile(options.stdoutFile),
                      ReadFile(options.stderrFile)};
    };
    Result add = run({"add", kKey, "/v", "Server", "/d", " sql01 "});
    EXPECT_EQ(add.code, 0) << add.err;
    EXPECT_EQ(Read("Server"), " sql01 ");
    Result q = run({"query", kKey, "/v", "Server"});
    EXPECT_EQ(q.code, 0);
    EXPECT_EQ(q.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Telwick\n    Server    REG_SZ     sql01 \n\n");
    // Standard input is no terminal here: overwriting needs /f.
    ExpectOneLineFailure(run({"add", kKey, "/v", "Server", "/d", "x"}), "/f");
    ExpectOneLineFailure(run({}), "Invalid syntax");
    EXPECT_EQ(run({"/?"}).code, 0);
    // One value, whatever the case of its letters.
    EXPECT_EQ(run({"add", kKey, "/v", "\xc3\x84RGER", "/d", "1"}).code, 0);
    ExpectOneLineFailure(run({"add", kKey, "/v", "\xc3\xa4rger", "/d", "2"}), "/f");
}
