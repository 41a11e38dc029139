// The three registry operations over a real hive file, and the hive's own rules:
// when the file is made, what a damaged file does, names and types.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "platform/posix/hive.h"
#include "settings/registry.h"
#include "support/testenv.h"

using namespace modRegistry;
namespace hive = telwick::hive;
using telwick::test::ScopedEnv;
using telwick::test::ScopedHive;

using telwick::test::ReadFile;

namespace {

const std::string kKey = "SOFTWARE\\Corvane\\Telwick";

std::string Get(const std::string& name, uint32_t* typeOut = nullptr, const std::string& key = kKey) {
    uint32_t type = REG_SZ;
    std::string v = GetRegistryValue(HKEY_LOCAL_MACHINE, key, name, type, "");
    if (typeOut) *typeOut = type;
    return v;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

class Registry : public ::testing::Test {
protected:
    ScopedHive hive_;
};

}  // namespace

TEST_F(Registry, MissingHiveReadsEmptyAndWritesThatFailCreateNothing) {
    EXPECT_EQ(Get("Language"), "");
    EXPECT_FALSE(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, "Language", REG_SZ, "1", ""));
    EXPECT_FALSE(CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane", "Telwick", ""));
    EXPECT_FALSE(Exists(hive_.path())) << "a failed write must not make the file";
    // The keys every hive has are there before the file is.
    EXPECT_EQ(hive::KeyExists(HKEY_LOCAL_MACHINE, "software"), hive::Status::Ok);
    EXPECT_EQ(hive::KeyExists(HKEY_LOCAL_MACHINE, ""), hive::Status::Ok);
    EXPECT_FALSE(Exists(hive_.path()));
}

TEST_F(Registry, FirstWriteMakesAPrivateFileAndFolders) {
    ScopedEnv deeper("TELWICK_REGISTRY", hive_.dir().file("a/b/registry.db"));
    EXPECT_TRUE(CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE", "Corvane", ""));
    struct stat st {};
    ASSERT_EQ(stat(hive_.dir().file("a/b/registry.db").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(stat(hive_.dir().file("a/b").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(stat(hive_.dir().file("a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_F(Registry, KeysAreCreatedOneLevelAtATime) {
    EXPECT_FALSE(CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane", "Telwick", "")) << "parent missing";
    EXPECT_FALSE(CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE", "Corvane\\Telwick", ""))
        << "a name with a backslash would make two levels";
    EXPECT_EQ(hive::KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane"), hive::Status::NotFound);
    CreateProgramKey();
    EXPECT_EQ(hive::KeyExists(HKEY_LOCAL_MACHINE, kKey), hive::Status::Ok);
    EXPECT_TRUE(SetSetting("Language", "2"));
    // An existing key is found, not replaced: its values stay.
    EXPECT_TRUE(CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane", "Telwick", ""));
    EXPECT_TRUE(CreateRegistryKey(HKEY_LOCAL_MACHINE, "software\\CORVANE", "telwick", ""));
    EXPECT_EQ(GetSetting("Language"), "2");
    std::vector<hive::Value> values;
    std::vector<std::string> subKeys;
    ASSERT_EQ(hive::ListKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Corvane", values, subKeys), hive::Status::Ok);
    EXPECT_EQ(subKeys, std::vector<std::string>{"Telwick"}) << "one key, first spelling kept";
}

TEST_F(Registry, WritesNeverCreateKeys) {
    CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE", "Corvane", "");
    EXPECT_FALSE(SetSetting("Language", "1"));
    EXPECT_EQ(hive::KeyExists(HKEY_LOCAL_MACHINE, kKey), hive::Status::NotFound);
}

TEST_F(Registry, SeveralValuesAreWrittenTogetherOrNotAtAll) {
    const std::string state = kKey + "\\State";
    // On a missing hive: the file, the keys above and the values in one go.
    ASSERT_EQ(
        hive::WriteValues(HKEY_LOCAL_MACHINE, state, {{"a", REG_SZ, std::string("1\0", 2)}, {"b", REG_SZ, ""}}),
        hive::Status::Ok);
    EXPECT_EQ(Get("a", nullptr, state), "1");
    // Updates, a removal (and one of a value that is not there); a bad name
    // anywhere leaves everything as it was.
    EXPECT_EQ(hive::WriteValues(HKEY_LOCAL_MACHINE, state, {{"A", REG_SZ, std::string("2\0", 2)}}, {"nope", "b"}),
              hive::Status::Ok);
    EXPECT_EQ(hive::WriteValues(HKEY_LOCAL_MACHINE, state, {{"a", REG_SZ, std::string("3\0", 2)}},
                                {std::string("x\0y", 3)}),
              hive::Status::Invalid);
    std::vector<hive::Value> values;
    std::vector<std::string> subKeys;
    ASSERT_EQ(hive::ListKey(HKEY_LOCAL_MACHINE, state, values, subKeys), hive::Status::Ok);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, "a");
    EXPECT_EQ(values[0].data, std::string("2\0", 2));
}

TEST_F(Registry, AnotherMachineNeverAnswers) {
    CreateProgramKey();
    ASSERT_TRUE(SetSetting("Server", "db1"));
    uint32_t type = 77;
    EXPECT_EQ(GetRegistryValue(HKEY_LOCAL_MACHINE, kKey, "Server", type, "HOST"), "");
    EXPECT_EQ(type, 77u) << "nothing was read, so the type is untouched";
    EXPECT_FALSE(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, "Server", REG_SZ, "x", "HOST"));
    EXPECT_FALSE(CreateRegistryKey(HKEY_LOCAL_MACHINE, kKey, "Sub", "HOST"));
    EXPECT_EQ(GetSetting("Server"), "db1");
}

TEST_F(Registry, NamesCompareWithoutCaseAndKeepTheirSpelling) {
    CreateProgramKey();
    ASSERT_TRUE(SetSetting("Checkinterval", "5000"));
    EXPECT_EQ(Get("CHECKINTERVAL"), "5000");
    EXPECT_EQ(Get("x", nullptr, "software\\corvane\\TELWICK"), "");
    ASSERT_TRUE(SetSetting("checkINTERVAL", "6000"));
    hive::Value v;
    ASSERT_EQ(hive::ReadValue(HKEY_LOCAL_MACHINE, kKey, "checkinterval", v), hive::Status::Ok);
    EXPECT_EQ(v.name, "Checkinterval");
    EXPECT_EQ(v.data, std::string("6000\0", 5));
    // Only ASCII letters fold; other bytes must match exactly.
    ASSERT_TRUE(SetSetting("\xC4pfel", "1"));
    EXPECT_EQ(Get("\xE4pfel"), "");
    EXPECT_EQ(Get("\xC4PFEL"), "1");
}

TEST_F(Registry, BadPathsAndRootsFailQuietly) {
    CreateProgramKey();
    ASSERT_TRUE(SetSetting("a", "1"));
    for (const std::string& path : {std::string("SOFTWARE\\\\Corvane\\Telwick"), std::string("\\SOFTWARE"),
                                    std::string("SOFTWARE\\Corvane\\Telwick\\")}) {
        uint32_t type = REG_SZ;
        EXPECT_EQ(GetRegistryValue(HKEY_LOCAL_MACHINE, path, "a", type, ""), "") << path;
        EXPECT_FALSE(SetRegistryValue(HKEY_LOCAL_MACHINE, path, "a", REG_SZ, "2", "")) << path;
    }
    uint32_t type = REG_SZ;
    EXPECT_EQ(GetRegistryValue(0x12345678u, kKey, "a", type, ""), "");
    EXPECT_FALSE(CreateRegistryKey(0x12345678u, "", "x", ""));
    // Other roots are trees of their own.
    EXPECT_TRUE(CreateRegistryKey(0x80000001u, "", "Corvane", ""));
    EXPECT_EQ(hive::KeyExists(HKEY_LOCAL_MACHINE, "Corvane"), hive::Status::NotFound);
    EXPECT_EQ(Get("a"), "1");
}

// The length rule of a read: a string loses its last stored byte, whatever it
// is; every other type comes back whole; too long for the buffer reads empty.
struct StoredCase {
    const char* what;
    uint32_t type;
    std::string stored;
    std::string read;
};

class LengthRule : public ::testing::TestWithParam<StoredCase> {
protected:
    ScopedHive hive_;
};

TEST_P(LengthRule, ReadsBackAsTheRuleSays) {
    const auto& c = GetParam();
    CreateProgramKey();
    ASSERT_EQ(hive::WriteValue(HKEY_LOCAL_MACHINE, kKey, "v", c.type, c.stored), hive::Status::Ok);
    uint32_t type = REG_SZ;
    EXPECT_EQ(Get("v", &type), c.read);
    EXPECT_EQ(type, c.type) << "the stored type is handed back";
}

INSTANTIATE_TEST_SUITE_P(
    Values, LengthRule,
    ::testing::Values(
        StoredCase{"sz", REG_SZ, std::string("60000\0", 6), "60000"}, StoredCase{"sz_empty", REG_SZ, "", ""},
        StoredCase{"sz_only_terminator", REG_SZ, std::string(1, '\0'), ""},
        StoredCase{"sz_without_terminator", REG_SZ, "abc", "ab"},
        StoredCase{"sz_inner_zero", REG_SZ, std::string("a\0b\0", 4), std::string("a\0b", 3)},
        StoredCase{"sz_4095", REG_SZ, std::string(4095, 'x') + '\0', std::string(4095, 'x')},
        StoredCase{"sz_4096", REG_SZ, std::string(4096, 'x') + '\0', ""},
        StoredCase{"dword", REG_DWORD, std::string("\x60\xea\0\0", 4), std::string("\x60\xea\0\0", 4)},
        StoredCase{"expand_sz_keeps_terminator", REG_EXPAND_SZ, std::string("%P%\0", 4), std::string("%P%\0", 4)},
        StoredCase{"binary_4096", REG_BINARY, std::string(4096, '\xff'), std::string(4096, '\xff')},
        StoredCase{"binary_4097", REG_BINARY, std::string(4097, '\1'), ""},
        StoredCase{"none_empty", REG_NONE, "", ""}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(Registry, WritesStoreStringsWithOneTerminator) {
    CreateProgramKey();
    struct {
        uint32_t type;
        std::string value;
        std::string stored;
    } cases[] = {
        {REG_SZ, "60000", std::string("60000\0", 6)},
        {REG_SZ, "", ""},
        {REG_EXPAND_SZ, "%PATH%", std::string("%PATH%\0", 7)},
        {REG_BINARY, std::string("\0\1", 2), std::string("\0\1", 2)},
        {REG_SZ, " padded \t", std::string(" padded \t\0", 10)},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, "v", c.type, c.value, ""));
        hive::Value v;
        ASSERT_EQ(hive::ReadValue(HKEY_LOCAL_MACHINE, kKey, "v", v), hive::Status::Ok);
        EXPECT_EQ(v.data, c.stored);
        EXPECT_EQ(v.type, c.type);
        if (c.type == REG_SZ) {
            EXPECT_EQ(Get("v"), c.value) << "a string reads back as written";
        }
    }
    // The empty text is a value that exists.
    ASSERT_TRUE(SetSetting("e", ""));
    hive::Value v;
    EXPECT_EQ(hive::ReadValue(HKEY_LOCAL_MACHINE, kKey, "e", v), hive::Status::Ok);
}

// A file that is not a whole hive: reads are empty, writes fail, and the file
// keeps every byte it had.
struct DamageCase {
    const char* what;
    std::string (*make)(const std::string& goodHive);
};

class DamagedHive : public ::testing::TestWithParam<DamageCase> {
protected:
    ScopedHive hive_;
};

TEST_P(DamagedHive, IsNeitherReadNorWritten) {
    CreateProgramKey();
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(SetSetting("config" + std::to_string(i), std::string(300, 'r')));
    const std::string damaged = GetParam().make(ReadFile(hive_.path()));
    {
        std::ofstream out(hive_.path(), std::ios::binary | std::ios::trunc);
        out << damaged;
    }
    EXPECT_EQ(GetSetting("config0"), "");
    EXPECT_EQ(GetSetting("config39"), "");
    EXPECT_FALSE(SetSetting("config0", "new"));
    EXPECT_FALSE(SetSetting("Language", "1"));
    EXPECT_FALSE(CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE", "Other", ""));
    EXPECT_EQ(hive::Verify(), hive::Status::Damaged);
    EXPECT_NE(hive::LastError().find(hive_.path()), std::string::npos) << hive::LastError();
    EXPECT_EQ(ReadFile(hive_.path()), damaged) << "the damaged file must stay as it was";
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedHive,
    ::testing::Values(
        DamageCase{"garbage", [](const std::string&) { return std::string("this is no hive at all\n"); }},
        DamageCase{"zeros", [](const std::string& h) { return std::string(h.size(), '\0'); }},
        DamageCase{"cut_to_header", [](const std::string& h) { return h.substr(0, 100); }},
        DamageCase{"cut_in_half", [](const std::string& h) { return h.substr(0, h.size() / 2); }},
        DamageCase{"last_page_missing", [](const std::string& h) { return h.substr(0, h.size() - 4096); }},
        DamageCase{"trailing_bytes", [](const std::string& h) { return h + "junk"; }},
        DamageCase{"scribbled_pages",
                   [](const std::string& h) {
                       std::string d = h;
                       for (size_t i = 4096; i < d.size(); i += 7) d[i] = '\x5a';
                       return d;
                   }}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(Registry, ForeignDatabaseIsNotTakenForAHive) {
    // An SQLite database of some other program at the hive's place.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(hive_.path().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const std::string before = ReadFile(hive_.path());
    EXPECT_EQ(hive::KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE"), hive::Status::Damaged);
    EXPECT_FALSE(CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE", "Corvane", ""));
    EXPECT_EQ(ReadFile(hive_.path()), before);
}

TEST_F(Registry, HiveOfAnotherSchemaVersionIsLeftAlone) {
    CreateProgramKey();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(hive_.path().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 9", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const std::string before = ReadFile(hive_.path());
    EXPECT_FALSE(SetSetting("Language", "1"));
    EXPECT_EQ(hive::KeyExists(HKEY_LOCAL_MACHINE, kKey), hive::Status::Damaged);
    EXPECT_EQ(ReadFile(hive_.path()), before);
}

TEST_F(Registry, EmptyFileIsAHiveNotYetWritten) {
    // What a first write leaves when it is killed before its commit.
    { std::ofstream out(hive_.path()); }
    EXPECT_EQ(GetSetting("Language"), "");
    EXPECT_EQ(hive::Verify(), hive::Status::Ok);
    CreateProgramKey();
    EXPECT_TRUE(SetSetting("Language", "3"));
    EXPECT_EQ(GetSetting("Language"), "3");
}

TEST_F(Registry, DeletingKeysRemovesTheWholeBranchButNeverTheFixedKeys) {
    CreateProgramKey();
    ASSERT_EQ(hive::CreateKeyPath(HKEY_LOCAL_MACHINE, kKey + "\\A\\B"), hive::Status::Ok);
    ASSERT_TRUE(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey + "\\A\\B", "deep", REG_SZ, "1", ""));
    ASSERT_TRUE(SetSetting("top", "1"));
    EXPECT_EQ(hive::DeleteKey(HKEY_LOCAL_MACHINE, kKey + "\\a"), hive::Status::Ok);
    EXPECT_EQ(hive::KeyExists(HKEY_LOCAL_MACHINE, kKey + "\\A\\B"), hive::Status::NotFound);
    EXPECT_EQ(GetSetting("top"), "1");
    // A key made again under the old name starts without the old values.
    ASSERT_EQ(hive::CreateKeyPath(HKEY_LOCAL_MACHINE, kKey + "\\A\\B"), hive::Status::Ok);
    EXPECT_EQ(Get("deep", nullptr, kKey + "\\A\\B"), "");
    EXPECT_EQ(hive::DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE"), hive::Status::Denied);
    EXPECT_EQ(hive::DeleteKey(HKEY_LOCAL_MACHINE, ""), hive::Status::Denied);
    EXPECT_EQ(hive::DeleteKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nothing"), hive::Status::NotFound);
}
