// The field splitter and the escaping of the stored configuration records.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "monitor/modMain.h"
#include "monitor/positions.h"

using modMain::EscapeValue;
using modMain::ParseValue;

namespace {

struct ParseCase {
    std::string value;
    int32_t index;
    std::string separator;
    std::string field;
};

class ParseValueTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseValueTable, GivesTheUnescapedField) {
    const ParseCase& c = GetParam();
    EXPECT_EQ(ParseValue(c.value, c.index, c.separator), c.field);
}

const std::string Record = "12;;3;0;1;1;C:\\jobs\\a[trdoppu]b.bat;";
constexpr int32_t Huge = std::numeric_limits<int32_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Records, ParseValueTable,
    ::testing::Values(
        // A whole record, field by field, and beyond its ends.
        ParseCase{Record, 1, ";", "12"}, ParseCase{Record, 2, ";", ""}, ParseCase{Record, 3, ";", "3"},
        ParseCase{Record, 4, ";", "0"}, ParseCase{Record, 5, ";", "1"}, ParseCase{Record, 6, ";", "1"},
        ParseCase{Record, 7, ";", "C:\\jobs\\a;b.bat"}, ParseCase{Record, 8, ";", ""},
        ParseCase{Record, 0, ";", ""}, ParseCase{Record, -1, ";", ""},
        ParseCase{Record, std::numeric_limits<int32_t>::min(), ";", ""}, ParseCase{Record, Huge, ";", ""},
        // Short values.
        ParseCase{"a;b", 2, ";", "b"}, ParseCase{"a;b", 1, ";", "a"}, ParseCase{"a;b", 3, ";", ""},
        ParseCase{"", 1, ";", ""}, ParseCase{"", 2, ";", ""}, ParseCase{"abc", 1, ";", "abc"},
        ParseCase{";a", 1, ";", ""}, ParseCase{";a", 2, ";", "a"}, ParseCase{"a;", 2, ";", ""},
        ParseCase{";;;", 3, ";", ""}, ParseCase{"x;y;z", 3, ";", "z"},
        // A record without its trailing separator still yields its last field.
        ParseCase{"5;;;2;1;0;C:\\b.sh", 7, ";", "C:\\b.sh"},
        // The escape token: exact, case-sensitive, every occurrence, and only in
        // the field that holds it.
        ParseCase{"[trdoppu]", 1, ";", ";"}, ParseCase{"[trdoppu][trdoppu]x[trdoppu]", 1, ";", ";;x;"},
        ParseCase{"[TRDOPPU]", 1, ";", "[TRDOPPU]"}, ParseCase{"[trdoppu", 1, ";", "[trdoppu"},
        ParseCase{"[trd;oppu]", 1, ";", "[trd"}, ParseCase{"[trd;oppu]", 2, ";", "oppu]"},
        ParseCase{"a[trdoppu];b", 2, ";", "b"},
        // Other separators behave the same way; a longer one skips only its
        // first character.
        ParseCase{"a,b,c", 2, ",", "b"}, ParseCase{"a::b", 2, "::", ":b"}, ParseCase{"a;b", 1, "", ""}));

TEST(ParseValue, ALongParameterListSplitsLikeAShortOne) {
    // 100,000 characters and more: positions far beyond 16 bits.
    std::string list;
    int fields = 0;
    while (list.size() < 100000) list += "field" + std::to_string(++fields) + ";";
    list += "last[trdoppu]one";
    ++fields;
    ASSERT_GT(list.size(), 100000u);
    EXPECT_EQ(ParseValue(list, 1, ";"), "field1");
    EXPECT_EQ(ParseValue(list, 5000, ";"), "field5000");
    EXPECT_EQ(ParseValue(list, fields - 1, ";"), "field" + std::to_string(fields - 1));
    EXPECT_EQ(ParseValue(list, fields, ";"), "last;one");
    EXPECT_EQ(ParseValue(list, fields + 1, ";"), "");

    // One field of 100,000 characters, behind a short one.
    const std::string big(100000, 'b');
    EXPECT_EQ(ParseValue("a;" + big + ";c", 2, ";"), big);
    EXPECT_EQ(ParseValue("a;" + big + ";c", 3, ";"), "c");
    EXPECT_EQ(ParseValue(big, 1, ";"), big);
}

TEST(EscapeValue, WritesEverySeparatorAsTheToken) {
    struct Case {
        std::string text, escaped;
    } cases[] = {{"a;b;c", "a[trdoppu]b[trdoppu]c"},
                 {"", ""},
                 {"plain", "plain"},
                 {";", "[trdoppu]"},
                 {";;", "[trdoppu][trdoppu]"},
                 {"C:\\jobs\\a;b.bat", "C:\\jobs\\a[trdoppu]b.bat"},
                 {"[trdoppu]", "[trdoppu]"}};
    for (const Case& c : cases) EXPECT_EQ(EscapeValue(c.text), c.escaped) << c.text;
}

TEST(EscapeValue, AnEscapedFieldReadsBackUnchanged) {
    const std::string texts[] = {"",
                                 "x",
                                 ";",
                                 "a;b",
                                 ";;lead",
                                 "trail;;",
                                 "C:\\a b\\c;d.cmd",
                                 std::string(40000, ';'),
                                 "Gr\xC3\xBC\xC3\x9F"
                                 "e;\xE2\x82\xAC"};
    for (const std::string& t : texts) {
        const std::string record = "1;" + EscapeValue(t) + ";" + EscapeValue(t) + ";";
        EXPECT_EQ(ParseValue(record, 2, ";"), t);
        EXPECT_EQ(ParseValue(record, 3, ";"), t);
        EXPECT_EQ(ParseValue(record, 4, ";"), "");
    }
}

}  // namespace

// The kept form of a position and the texts of "MaxMessageBoxes".
TEST(OptInSettings, KeptPositionsAndBoxLimitsRead) {
    const std::string record = "12;;3;0;1;1;C:\\jobs\\a[trdoppu]b.bat;";
    auto kept = modPositions::Parse(modPositions::Format(9007199254740993, record));
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->covered, 9007199254740993);  // 64 bits, no rounding
    EXPECT_EQ(kept->record, record);
    for (const char* bad : {"", ";x;", "12", "1x;x;", " 4;x;", "99999999999999999999;x;"})
        EXPECT_FALSE(modPositions::Parse(bad)) << bad;
    EXPECT_EQ(modPositions::Parse("-4;x;")->covered, -4);  // tables numbered from below 0
    EXPECT_EQ(modPositions::Parse("0;")->record, "");

    const std::pair<const char*, int32_t> limits[] = {{"5", 5},
                                                      {" 7 ", 7},
                                                      {"2.5", 2},
                                                      {"3.5", 4},
                                                      {"", 0},
                                                      {"0", 0},
                                                      {"-3", 0},
                                                      {"five", 0},
                                                      {"5x", 0},
                                                      {"0.4", 0},
                                                      {"1e12", std::numeric_limits<int32_t>::max()}};
    for (const auto& [text, limit] : limits) EXPECT_EQ(modMain::MessageBoxLimit(text), limit) << text;
}
