// The protected login: hex conversion, the cipher and the stored form.
#include <gtest/gtest.h>

#include <set>

#include "platform/fault.h"
#include "settings/crypt.h"

using namespace modHex;
using namespace modCrypt;

namespace {

std::string AllBytes() {
    std::string s;
    for (int b = 0; b < 256; ++b) s += static_cast<char>(b);
    return s;
}

int FaultOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const telwick::Fault& f) {
        return f.number();
    }
    return 0;
}

struct HexCase {
    const char* text;
    int32_t separatorLength;
    std::string bytes;
};

class HexReading : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexReading, PairsAtTheirPlaces) {
    EXPECT_EQ(HexToString(GetParam().text, GetParam().separatorLength), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HexReading,
    ::testing::Values(HexCase{"61 62 63", 1, "abc"}, HexCase{"4A", 1, "J"}, HexCase{"4A", 7, "J"},
                      HexCase{"4A", 0, "J"}, HexCase{"61 6", 1, "a"}, HexCase{"61-62", 1, "ab"},
                      HexCase{"6:", 1, std::string(1, '\0')}, HexCase{"00 FF", 1, std::string("\0\xff", 2)},
                      HexCase{"616263", 0, "abc"},
                      HexCase{"61  62", 2, "a"} /* (6 + 1) / 4 pairs: wider gaps lose the last pair */,
                      HexCase{"61 62 ", 1, "ab"}, HexCase{"@@ 41", 1, std::string("\0A", 2)}, HexCase{"", 1, ""},
                      HexCase{"", -5, ""}));

TEST(Hex, FaultsOfTheReading) {
    EXPECT_EQ(FaultOf([] { HexToString("6a", 1); }), telwick::FaultNr::OutOfRange) << "lower case";
    EXPECT_EQ(FaultOf([] { HexToString("61 6g", 1); }), telwick::FaultNr::OutOfRange);
    EXPECT_EQ(FaultOf([] { HexToString("6", 1); }), telwick::FaultNr::OutOfRange) << "no whole pair";
    EXPECT_EQ(FaultOf([] { HexToString("/0", 1); }), telwick::FaultNr::OutOfRange) << "code 47";
    EXPECT_EQ(FaultOf([] { HexToString("G0", 1); }), telwick::FaultNr::OutOfRange) << "code 71";
    EXPECT_EQ(FaultOf([] { HexToString("\xff\xff", 1); }), telwick::FaultNr::OutOfRange);
    // A separator length that would read past the text, or step backwards.
    EXPECT_EQ(FaultOf([] { HexToString("616", 0); }), telwick::FaultNr::OutOfRange);
    EXPECT_EQ(FaultOf([] { HexToString("616263", -1); }), telwick::FaultNr::OutOfRange);
    EXPECT_NE(FaultOf([] { HexToString("616263", -2); }), 0);
    EXPECT_NE(FaultOf([] { HexToString("616263", INT32_MIN); }), 0);
    EXPECT_EQ(FaultOf([] { HexToString("616263", INT32_MAX); }), telwick::FaultNr::OutOfRange);
}

TEST(Hex, WritingFillsGapsWithTheSeparatorsFirstCharacter) {
    EXPECT_EQ(StringToHex("abc", " "), "61 62 63");
    EXPECT_EQ(StringToHex("abc", "-+"), "61--62--63");
    EXPECT_EQ(StringToHex("J", " "), "4A");
    EXPECT_EQ(StringToHex(std::string("\0\x0f\xf0", 3), ":"), "00:0F:F0");
    EXPECT_EQ(FaultOf([] { StringToHex("", " "); }), telwick::FaultNr::InvalidCall);
    EXPECT_EQ(FaultOf([] { StringToHex("abc", ""); }), telwick::FaultNr::InvalidCall);
}

TEST(Hex, EveryByteRoundTripsThroughTheStoredForm) {
    const std::string all = AllBytes();
    for (const std::string& sep : {std::string(" "), std::string(":")}) {
        std::string hex = StringToHex(all, sep);
        ASSERT_EQ(hex.size(), 3 * all.size() - 1);
        EXPECT_EQ(HexToString(hex, 1), all) << sep;
    }
    for (size_t n = 1; n < 6; ++n)
        EXPECT_EQ(HexToString(StringToHex(all.substr(250, n), " "), 1), all.substr(250, n));
}

TEST(Cipher, RoundTripsAndGrowsByThirtyTwoBytes) {
    SetPassphrase();
    ASSERT_EQ(Passphrase.size(), 32u);
    for (char c : Passphrase) EXPECT_TRUE(c >= 0x20 && c < 0x7f);
    for (const std::string& clear :
         {std::string("USR"), std::string("PWDs3cr;et"), std::string(1000, 'q'), std::string("x")}) {
        std::string cipher = EncryptString(clear, Passphrase);
        ASSERT_EQ(cipher.size(), clear.size() + 32);
        EXPECT_EQ(DecryptString(cipher, Passphrase), clear);
    }
    // A fresh nonce every time: the same clear text never gives the same cipher.
    std::set<std::string> seen;
    for (int i = 0; i < 20; ++i) seen.insert(EncryptString("USRsa", Passphrase));
    EXPECT_EQ(seen.size(), 20u);
}

TEST(Cipher, TamperedShortOrForeignDataGivesTheEmptyText) {
    SetPassphrase();
    const std::string cipher = EncryptString("PWDsecret", Passphrase);
    for (size_t i = 0; i < cipher.size(); ++i) {
        std::string t = cipher;
        t[i] = static_cast<char>(t[i] ^ 0x01);
        EXPECT_EQ(DecryptString(t, Passphrase), "") << "byte " << i;
    }
    EXPECT_EQ(DecryptString(cipher, "another key of thirty-two chars!"), "");
    EXPECT_EQ(DecryptString(cipher.substr(0, cipher.size() - 1), Passphrase), "");
    EXPECT_EQ(DecryptString(cipher + "x", Passphrase), "");
    EXPECT_EQ(DecryptString(std::string(31, 'a'), Passphrase), "");
    EXPECT_EQ(DecryptString("", Passphrase), "");
    EXPECT_EQ(DecryptString(std::string(32, '\0'), Passphrase), "");
}

TEST(Cipher, TheClearTextEndsAtItsFirstZeroByte) {
    SetPassphrase();
    EXPECT_EQ(DecryptString(EncryptString(std::string("USRab\0cd", 8), Passphrase), Passphrase), "USRab");
    EXPECT_EQ(DecryptString(EncryptString("", Passphrase), Passphrase), "");
}

TEST(Cipher, LibraryContractWritesOnlyItsBuffer) {
    // length + 32 bytes, a terminator, and a guard the library must not touch.
    const std::string clear = "USRadmin";
    std::string buffer = clear + std::string(32, '\0') + '\0' + "GUARD";
    ASSERT_EQ(AESEncrypt("k", reinterpret_cast<unsigned char*>(buffer.data()), 8), 0);
    EXPECT_EQ(buffer.substr(40), std::string(1, '\0') + "GUARD");
    std::string cipher = buffer.substr(0, 40);
    std::string back = cipher + std::string(32, '\0') + '\0' + "GUARD";
    ASSERT_EQ(AESDecrypt("k", reinterpret_cast<unsigned char*>(back.data()), 40), 0);
    EXPECT_EQ(back.substr(0, 9), clear + '\0');
    EXPECT_EQ(back.substr(72), std::string(1, '\0') + "GUARD");
    EXPECT_NE(AESDecrypt("other", reinterpret_cast<unsigned char*>(cipher.data()), 40), 0);
    EXPECT_NE(AESEncrypt(nullptr, reinterpret_cast<unsigned char*>(buffer.data()), 8), 0);
    EXPECT_NE(AESEncrypt("k", reinterpret_cast<unsigned char*>(buffer.data()), -1), 0);
}

TEST(StoredLogin, SizesOfTheStoredForm) {
    SetPassphrase();
    EXPECT_EQ(ProtectValue("USR", "").size(), 104u);
    EXPECT_EQ(ProtectValue("USR", "ab").size(), 110u);
    for (size_t k : {0u, 1u, 7u, 40u}) {
        std::string stored = ProtectValue("PWD", std::string(k, 'p'));
        EXPECT_EQ(stored.size(), 3 * (k + 3 + 32) - 1);
        EXPECT_EQ(stored.find_first_not_of("0123456789ABCDEF "), std::string::npos);
        EXPECT_NE(stored.front(), ' ');
        EXPECT_NE(stored.back(), ' ');
    }
}

TEST(StoredLogin, ReadingDropsTheTagAndNeedsMoreThanIt) {
    SetPassphrase();
    EXPECT_EQ(RevealValue(ProtectValue("USR", "sa")), "sa");
    EXPECT_EQ(RevealValue(ProtectValue("PWD", "p;w d\"'")), "p;w d\"'");
    EXPECT_EQ(RevealValue(ProtectValue("XYZ", "x")), "x") << "the tag is dropped unread";
    EXPECT_EQ(RevealValue(ProtectValue("USR", "")), "");
    EXPECT_EQ(RevealValue(ProtectValue("US", "R")), "") << "three characters read as empty";
    EXPECT_EQ(RevealValue(""), "");
    // A stored value that is no cipher of ours reads as empty, a broken hex text is a fault.
    EXPECT_EQ(RevealValue(StringToHex(std::string(40, 'z'), " ")), "");
    EXPECT_EQ(FaultOf([] { RevealValue("zz zz"); }), telwick::FaultNr::OutOfRange);
}

TEST(StoredLogin, UsesTheFixedPassphraseEvenBeforeItWasSet) {
    Passphrase.clear();
    const std::string stored = ProtectValue("PWD", "early");
    EXPECT_FALSE(Passphrase.empty());
    SetPassphrase();
    EXPECT_EQ(DecryptString(HexToString(stored, 1), Passphrase), "PWDearly");
}

// The stored form pinned for every system: the program's passphrase, the nonce
// 00 01 .. 0F and these clear texts give exactly these stored values, so a login
// protected on Linux opens on Windows and back.
struct KnownAnswer {
    std::string clear;
    const char* stored;
};

TEST(StoredLogin, KnownAnswersHoldOnEverySystem) {
    const KnownAnswer cases[] = {
        {"USR",
         "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F A7 4E CC F6 61 AF BC 33 C8 24 3D 18 6E EB 35 F1 25 25 "
         "2F"},
        {"PWDs3cr;et",
         "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F A2 4A DA 8A 42 DC 01 98 28 7D 25 31 7F 8F 54 AF 04 5E "
         "A6 56 61 C6 46 14 27 27"},
        {"USRa login name that spans three blocks of AES",
         "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F A7 4E CC 98 51 D3 1C C4 24 67 29 14 D1 E2 A5 8D 9B 11 "
         "F8 7A 34 8C CB AC B1 59 9D C2 7F D1 54 C1 BF FA 6B FB 72 7B 69 E8 71 01 47 AB D8 AE D0 76 AE 58 46 16 "
         "5F 8E F6 C8 E3 05 67 D3 7D 17"},
    };
    SetPassphrase();
    unsigned char nonce[16];
    for (int i = 0; i < 16; ++i) nonce[i] = static_cast<unsigned char>(i);
    for (const auto& c : cases) {
        const auto n = static_cast<int32_t>(c.clear.size());
        std::string buffer = c.clear + std::string(33, '\0');
        ASSERT_EQ(
            AESEncryptWithNonce(Passphrase.c_str(), nonce, reinterpret_cast<unsigned char*>(buffer.data()), n), 0);
        EXPECT_EQ(StringToHex(buffer.substr(0, c.clear.size() + 32), " "), c.stored) << c.clear;
        EXPECT_EQ(RevealValue(c.stored), c.clear.substr(3)) << c.clear;
    }
}

}  // namespace
