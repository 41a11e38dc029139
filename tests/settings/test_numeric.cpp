// The numeric reading of settings and records, the numeric test of a field,
// and the language number with its cache and repair.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <limits>

#include "platform/fault.h"
#include "platform/registry.h"
#include "settings/registry.h"
#include "settings/settings.h"
#include "support/testenv.h"

using namespace modSettings;
using telwick::test::ScopedHive;

namespace {

struct Reading {
    const char* text;
    double value;
};

class NumericReading : public ::testing::TestWithParam<Reading> {};

TEST_P(NumericReading, LeadingNumber) {
    EXPECT_DOUBLE_EQ(NumericValue(GetParam().text), GetParam().value) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NumericReading,
    ::testing::Values(Reading{"", 0}, Reading{"abc", 0}, Reading{"60000", 60000}, Reading{"-5", -5},
                      Reading{"+7", 7}, Reading{"  42  ", 42}, Reading{"1 2", 12}, Reading{"1\t2\n3", 123},
                      Reading{"- 5", -5}, Reading{"1\r2", 1}, Reading{"12abc", 12}, Reading{"3.75", 3.75},
                      Reading{".5", 0.5}, Reading{"5.", 5}, Reading{"1.2.3", 1.2}, Reading{"1e3", 1000},
                      Reading{"1E+2", 100}, Reading{"25e-1", 2.5}, Reading{"1d2", 100}, Reading{"2D1", 20},
                      Reading{"1e", 1}, Reading{"1e+", 1}, Reading{"1ex", 1}, Reading{"1 e 2", 100},
                      Reading{"--5", 0}, Reading{"+-5", 0}, Reading{"-", 0}, Reading{".", 0}, Reading{"e5", 0},
                      Reading{".e5", 0}, Reading{"&H10", 0}, Reading{"1,5", 1}, Reading{"0x10", 0},
                      Reading{"007", 7}, Reading{"1e-400", 0}, Reading{"5-3", 5},
                      // Beyond a double: too large is an infinity, too small 0, by where the digits stand.
                      Reading{"12345e305", HUGE_VAL}, Reading{"-0.00001e999", -HUGE_VAL}, Reading{"0.001e-400", 0},
                      Reading{"-99999e-999", 0}));

struct Rounding {
    double value;
    int32_t result;
};

class ToLongRounding : public ::testing::TestWithParam<Rounding> {};

TEST_P(ToLongRounding, HalvesGoToTheEvenNeighbour) { EXPECT_EQ(ToLong(GetParam().value), GetParam().result); }

INSTANTIATE_TEST_SUITE_P(Values, ToLongRounding,
                         ::testing::Values(Rounding{2.5, 2}, Rounding{3.5, 4}, Rounding{-2.5, -2},
                                           Rounding{-3.5, -4}, Rounding{0.5, 0}, Rounding{1.5, 2},
                                           Rounding{2.4999, 2}, Rounding{2.5001, 3}, Rounding{-0.4, 0},
                                           Rounding{2147483647.0, 2147483647}, Rounding{2147483647.4, 2147483647},
                                           Rounding{-2147483648.0, -2147483647 - 1},
                                           Rounding{-2147483648.5, -2147483647 - 1}));

TEST(ToLong, OutsideThirtyTwoBitsIsAnOverflowFault) {
    for (double v : {2147483647.5, 2147483648.0, -2147483648.51, -2147483649.0, 1e300,
                     std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()}) {
        try {
            ToLong(v);
            ADD_FAILURE() << "no fault for " << v;
        } catch (const telwick::Fault& f) {
            EXPECT_EQ(f.number(), telwick::FaultNr::Overflow);
            EXPECT_EQ(f.description(), "Overflow");
        }
    }
    EXPECT_THROW(ReadLong("1e999"), telwick::Fault);
    EXPECT_THROW(ReadLong("99999999999"), telwick::Fault);
    EXPECT_EQ(ReadLong(" 6 5 5 3 5 "), 65535);
    EXPECT_EQ(ReadLong("2.5"), 2);
    EXPECT_EQ(ReadLong("3.5"), 4);
    EXPECT_EQ(ReadLong("-2147483648"), -2147483647 - 1);
}

TEST(ToLong, RoundsHalvesToEvenWhateverTheRoundingModeElsewhere) {
    // The reading must not depend on a rounding mode some library left behind.
    const int old = std::fegetround();
    std::fesetround(FE_UPWARD);
    int32_t r = 0;
    EXPECT_NO_THROW(r = ToLong(2.5));
    std::fesetround(old);
    EXPECT_EQ(r, 2);
}

struct NumericTest {
    const char* text;
    bool numeric;
};

class IsNumericTest : public ::testing::TestWithParam<NumericTest> {};

TEST_P(IsNumericTest, WholeTextIsOneNumber) {
    EXPECT_EQ(IsNumeric(GetParam().text), GetParam().numeric) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IsNumericTest,
    ::testing::Values(NumericTest{"12", true}, NumericTest{" 3.5", true}, NumericTest{"-7 ", true},
                      NumericTest{"+0", true}, NumericTest{".5", true}, NumericTest{"5.", true},
                      NumericTest{"1e5", true}, NumericTest{"1E-5", true}, NumericTest{"\t4\t", true},
                      NumericTest{"", false}, NumericTest{" ", false}, NumericTest{"7x", false},
                      NumericTest{"abc", false}, NumericTest{"1 2", false}, NumericTest{".", false},
                      NumericTest{"-", false}, NumericTest{"1e", false}, NumericTest{"1e+", false},
                      NumericTest{"1;DROP TABLE t", false}, NumericTest{"1 OR 1=1", false},
                      NumericTest{"0x10", false}, NumericTest{"1,5", false}, NumericTest{"--1", false},
                      NumericTest{"1\n", false}, NumericTest{"1d2", false}));

class Language : public ::testing::Test {
protected:
    void SetUp() override { ResetLanguageCache(); }
    void TearDown() override { ResetLanguageCache(); }
    ScopedHive hive_;
};

TEST_F(Language, MissingValueIsRepairedWithoutCreatingKeys) {
    EXPECT_EQ(GetLanguage(), 1);
    // No key: the repair write fails quietly and makes no file.
    EXPECT_EQ(telwick::platform::registry::KeyExists(modRegistry::HKEY_LOCAL_MACHINE, modRegistry::ProgramKey),
              telwick::platform::registry::Status::NotFound);
    ResetLanguageCache();
    modRegistry::CreateProgramKey();
    EXPECT_EQ(GetLanguage(), 1);
    EXPECT_EQ(modRegistry::GetSetting("Language"), "1");
}

TEST_F(Language, ZeroAndTextsThatAreNoNumberGiveOne) {
    modRegistry::CreateProgramKey();
    for (const char* stored : {"0", "", "abc", " 0.4 "}) {
        ResetLanguageCache();
        ASSERT_TRUE(modRegistry::SetSetting("Language", stored));
        EXPECT_EQ(GetLanguage(), 1) << stored;
        EXPECT_EQ(modRegistry::GetSetting("Language"), "1") << stored;
    }
}

TEST_F(Language, ReadOnceAndKeptForTheRun) {
    modRegistry::CreateProgramKey();
    ASSERT_TRUE(modRegistry::SetSetting("Language", "2"));
    EXPECT_EQ(GetLanguage(), 2);
    ASSERT_TRUE(modRegistry::SetSetting("Language", "3"));
    EXPECT_EQ(GetLanguage(), 2);
    EXPECT_EQ(modRegistry::GetSetting("Language"), "3") << "a good value is never rewritten";
    ResetLanguageCache();
    ASSERT_TRUE(modRegistry::SetSetting("Language", "-4"));
    EXPECT_EQ(GetLanguage(), -4);
}

TEST_F(Language, OverflowReachesTheCallerAndCachesNothing) {
    modRegistry::CreateProgramKey();
    ASSERT_TRUE(modRegistry::SetSetting("Language", "4294967296"));
    EXPECT_THROW(GetLanguage(), telwick::Fault);
    ASSERT_TRUE(modRegistry::SetSetting("Language", "5"));
    EXPECT_EQ(GetLanguage(), 5);
}

}  // namespace
