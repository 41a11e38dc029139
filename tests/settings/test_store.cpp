// The registry calls over this system's store: the hive on Linux, the
// registry on Windows give the same answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry.h"
#include "settings/registry.h"
#include "support/testenv.h"

using namespace modRegistry;
using namespace std::string_literals;
namespace store = telwick::platform::registry;
using store::Status;

namespace {

const std::string kKey = "SOFTWARE\\TelwickStoreTest";

class Store : public ::testing::Test {
protected:
    void SetUp() override {
        store::DeleteKey(HKEY_LOCAL_MACHINE, kKey);
        ASSERT_TRUE(CreateRegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE", "TelwickStoreTest", ""));
    }
    void TearDown() override { store::DeleteKey(HKEY_LOCAL_MACHINE, kKey); }

    telwick::test::ScopedHive hive_;
};

// A value as stored, and what GetRegistryValue makes of it.
struct Stored {
    uint32_t type;
    std::string data;
    std::string read;
};

TEST_F(Store, ValuesComeBackAsTheRegistryCallsPromise) {
    const Stored cases[] = {
        {REG_SZ, "60000\0"s, "60000"},
        {REG_SZ, "", ""},
        {REG_SZ, "\0"s, ""},
#ifndef _WIN32
        // Stored without its terminator by another tool. (Wine's registry adds
        // the terminator itself, so Windows builds leave this case out.)
        {REG_SZ, "abc", "ab"},
#endif
        {REG_SZ,
         "Gr\xc3\xbc\xc3\x9f"
         "e \xe2\x9c\x93\0"s,
         "Gr\xc3\xbc\xc3\x9f"
         "e \xe2\x9c\x93"},
        {REG_EXPAND_SZ, "%TEMP%\0"s, "%TEMP%\0"s},
        {REG_DWORD, "\x10\x27\0\0"s, "\x10\x27\0\0"s},
        {REG_BINARY, "\xff\0\x01"s, "\xff\0\x01"s},
        {REG_SZ, std::string(4095, 'x') + '\0', std::string(4095, 'x')},
        {REG_SZ, std::string(4096, 'x') + '\0', ""},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(store::WriteValue(HKEY_LOCAL_MACHINE, kKey, "v", c.type, c.data), Status::Ok)
            << store::LastError();
        uint32_t type = REG_SZ;
        EXPECT_EQ(GetRegistryValue(HKEY_LOCAL_MACHINE, kKey, "v", type, ""), c.read) << c.data.size();
        EXPECT_EQ(type, c.type);
        store::Value raw;
        ASSERT_EQ(store::ReadValue(HKEY_LOCAL_MACHINE, kKey, "V", raw), Status::Ok);
        EXPECT_EQ(raw.data, c.data);
    }
    // The registry call stores a string with its terminator, the empty text without.
    ASSERT_TRUE(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, "w", REG_SZ, "1", ""));
    ASSERT_TRUE(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, "e", REG_SZ, "", ""));
    store::Value w, e;
    ASSERT_EQ(store::ReadValue(HKEY_LOCAL_MACHINE, kKey, "w", w), Status::Ok);
    ASSERT_EQ(store::ReadValue(HKEY_LOCAL_MACHINE, kKey, "e", e), Status::Ok);
    EXPECT_EQ(w.data, "1\0"s);
    EXPECT_EQ(e.data, "");
}

TEST_F(Store, KeysOneLevelAtATimeAndWritesNeedTheirKey) {
    EXPECT_FALSE(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey + "\\Sub", "x", REG_SZ, "1", ""));
    EXPECT_FALSE(CreateRegistryKey(HKEY_LOCAL_MACHINE, kKey + "\\A", "B", "")) << "parent missing";
    EXPECT_FALSE(CreateRegistryKey(HKEY_LOCAL_MACHINE, kKey, "A\\B", "")) << "two levels";
    EXPECT_EQ(store::KeyExists(HKEY_LOCAL_MACHINE, kKey + "\\A"), Status::NotFound);
    EXPECT_EQ(store::KeyExists(HKEY_LOCAL_MACHINE, kKey + "\\\\x"), Status::Invalid);
    ASSERT_TRUE(CreateRegistryKey(HKEY_LOCAL_MACHINE, kKey, "Sub", ""));
    ASSERT_TRUE(SetRegistryValue(HKEY_LOCAL_MACHINE, kKey + "\\sub", "Name", REG_SZ, "v", ""));
    EXPECT_TRUE(CreateRegistryKey(HKEY_LOCAL_MACHINE, kKey, "SUB", "")) << "found, not replaced";
    uint32_t type = REG_SZ;
    EXPECT_EQ(GetRegistryValue(HKEY_LOCAL_MACHINE, kKey + "\\Sub", "NAME", type, ""), "v");
    EXPECT_EQ(GetRegistryValue(HKEY_LOCAL_MACHINE, kKey + "\\Sub", "Other", type, ""), "");
}

TEST_F(Store, SeveralValuesInOneStepThenTheTreeRemoved) {
    const std::string state = kKey + "\\State\\Deeper";
    ASSERT_EQ(store::WriteValues(HKEY_LOCAL_MACHINE, state, {{"a", REG_SZ, "1\0"s}, {"b", REG_SZ, "2\0"s}}),
              Status::Ok)
        << "the keys above are made";
    ASSERT_EQ(store::WriteValues(HKEY_LOCAL_MACHINE, state, {{"A", REG_SZ, "3\0"s}}, {"b", "nope"}), Status::Ok);
    EXPECT_EQ(store::WriteValues(HKEY_LOCAL_MACHINE, state, {{"c", REG_SZ, "4\0"s}}, {"x\0y"s}), Status::Invalid)
        << "a bad name writes nothing";
    std::vector<store::Value> values;
    std::vector<std::string> keys;
    ASSERT_EQ(store::ListKey(HKEY_LOCAL_MACHINE, state, values, keys), Status::Ok);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].data, "3\0"s);
    EXPECT_TRUE(keys.empty());
    ASSERT_EQ(store::ListKey(HKEY_LOCAL_MACHINE, kKey + "\\State", values, keys), Status::Ok);
    EXPECT_EQ(keys, std::vector<std::string>{"Deeper"});

    EXPECT_EQ(store::DeleteKey(HKEY_LOCAL_MACHINE, kKey + "\\State"), Status::Ok);
    EXPECT_EQ(store::KeyExists(HKEY_LOCAL_MACHINE, state), Status::NotFound);
    EXPECT_EQ(store::KeyExists(HKEY_LOCAL_MACHINE, kKey), Status::Ok);
    EXPECT_EQ(store::DeleteKey(HKEY_LOCAL_MACHINE, kKey + "\\Nothing"), Status::NotFound);
    EXPECT_EQ(store::DeleteKey(HKEY_LOCAL_MACHINE, "software"), Status::Denied);
    EXPECT_EQ(store::DeleteKey(HKEY_LOCAL_MACHINE, ""), Status::Denied);
}

}  // namespace
