// The batch program on Windows: the command line that cmd.exe parses a second
// time, and hostile event texts through a real batch file that writes its %1.
// Wine's cmd.exe turns %%cd:~,% back into % as Windows does, but then expands
// the text of %1 again when the batch file uses it (Windows does not), so under
// Wine the texts with % are checked only for starting nothing; on Windows they
// must arrive exactly like the others (the rules are in batchline.h).
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/fault.h"
#include "platform/process.h"
#include "platform/win/batchline.h"
#include "platform/win/wide.h"

namespace win = telwick::platform::win;
namespace fs = std::filesystem;

namespace {

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Hostile {
    std::string message;
    std::string arg1;  // what the batch file's %1 must be
    bool wineShows;    // false: Wine's cmd.exe expands % unlike Windows'
};

std::vector<Hostile> HostileTexts() {
    const std::string longText = std::string(7000, 'L') + "\" & echo x > PWNED";
    return {
        {"plain text", "\"plain text\"", true},
        {"", "\"\"", true},
        {"a & echo x > PWNED & b", "\"a & echo x > PWNED & b\"", true},
        {"a | echo x > PWNED", "\"a | echo x > PWNED\"", true},
        {"a && echo x > PWNED || echo x > PWNED", "\"a && echo x > PWNED || echo x > PWNED\"", true},
        {"\"; echo x > PWNED & \"", "\"\"\"; echo x > PWNED & \"\"\"", true},
        {"say \"hi & echo x > PWNED", "\"say \"\"hi & echo x > PWNED\"", true},
        {"line one\r\n& echo x > PWNED\n\ttabbed\rend", "\"line one & echo x > PWNED \ttabbed end\"", true},
        {"^& echo x ^> PWNED ^", "\"^& echo x ^> PWNED ^\"", true},
        {") & echo x > PWNED & (", "\") & echo x > PWNED & (\"", true},
        {"'single' \"double\" \\\"escaped\\\" \\\\ back\\", "\"'single' \"\"double\"\" \\\"\"escaped\\\"\" \\\\ back\\\"", true},
        {"!PATH! * ? [a-z] ~ # , ; =", "\"!PATH! * ? [a-z] ~ # , ; =\"", true},
        {"> PWNED < NUL 2>&1", "\"> PWNED < NUL 2>&1\"", true},
        {"\x1b[31m red \x07", "\"\x1b[31m red \x07\"", true},
        {"%1 %2 %% 100%", "\"%1 %2 %% 100%\"", false},
        {"100% sure %PATH%", "\"100% sure %PATH%\"", false},
        {"%CMDCMDLINE:~0,1% & echo x > PWNED & rem", "\"%CMDCMDLINE:~0,1% & echo x > PWNED & rem\"", false},
        {longText, "\"" + std::string(7000, 'L') + "\"\" & echo x > PWNED\"", true},
    };
}

class BatchProgram : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        dir_ = fs::path(temp) / ("telwick-batch-" + std::to_string(GetCurrentProcessId()));
        fs::create_directories(dir_);
        previous_ = fs::current_path();
        // The started program inherits the folder: a PWNED it makes lands here.
        fs::current_path(dir_);
        bat_ = (dir_ / "probe bat.bat").string();
        std::ofstream(bat_, std::ios::binary) << "@echo off\r\n"
                                                 ">\"%~dp0part.txt\" echo %1\r\n"
                                                 "move /y \"%~dp0part.txt\" \"%~dp0out.txt\" >nul\r\n";
    }
    void TearDown() override {
        fs::current_path(previous_);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Runs the batch file with the message; its %1 as it wrote it.
    std::string Run(const std::string& message) {
        const fs::path out = dir_ / "out.txt";
        fs::remove(out);
        telwick::platform::StartProgram(bat_, message);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!fs::exists(out) && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::string text = ReadAll(out);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return text;
    }

    fs::path dir_;
    fs::path previous_;
    std::string bat_;
};

}  // namespace

TEST(BatchCommandLine, QuotesThePathAndTheMessageAndEscapesWhatCmdReadsAgain) {
    const std::string pre = "/e:on /v:off /d /s /c \"\"C:\\jobs\\alert.bat\" ";
    EXPECT_EQ(win::BatchCommandLine("C:\\jobs\\alert.bat", "Disk C: full"), pre + "\"Disk C: full\"\"");
    EXPECT_EQ(win::BatchCommandLine("C:\\jobs\\alert.bat", "Disk C: is 95% full"),
              pre + "\"Disk C: is 95%%cd:~,% full\"\"");
    EXPECT_EQ(win::BatchCommandLine("C:\\jobs\\alert.bat", "a \"b\" & c"), pre + "\"a \"\"b\"\" & c\"\"");
    EXPECT_EQ(win::BatchCommandLine("C:\\jobs\\alert.bat", "one\r\ntwo\nthree\rfour"),
              pre + "\"one two three four\"\"");
    EXPECT_EQ(win::BatchCommandLine("C:\\Program Files\\100%\\a.cmd", "x"),
              "/e:on /v:off /d /s /c \"\"C:\\Program Files\\100%%cd:~,%\\a.cmd\" \"x\"\"");
    // A path cmd.exe cannot be given: refused, not guessed.
    EXPECT_EQ(win::BatchCommandLine("C:\\a\"b.bat", "x"), "");
    EXPECT_EQ(win::BatchCommandLine("C:\\a\nb.bat", "x"), "");
}

TEST(BatchCommandLine, CutsALongMessageBetweenCharactersToCmdsLimit) {
    for (const std::string& unit : {std::string("%"), std::string("\""), std::string("\xf0\x9f\x8e\x89")}) {
        const std::string line = win::BatchCommandLine("C:\\a.bat", std::string(9000 / unit.size(), 'x') + [&] {
            std::string s;
            for (int i = 0; i < 3000; ++i) s += unit;
            return s;
        }());
        const std::wstring wide = win::Widen(line);
        EXPECT_LE(wide.size() + 8, win::CmdLineLimit);  // "cmd.exe " comes before it
        EXPECT_GT(wide.size() + 8, win::CmdLineLimit - 10);
        // It still ends with the message's closing quote and /c's own.
        ASSERT_GE(line.size(), 2u);
        EXPECT_EQ(line.substr(line.size() - 2), "\"\"");
    }
    // No escape is cut in half: the %s that made it are whole.
    const std::string line = win::BatchCommandLine("C:\\a.bat", std::string(5000, '%'));
    const std::string body = line.substr(line.find("\" \"") + 3);
    size_t escapes = 0;
    for (size_t at = body.find("%%cd:~,%"); at != std::string::npos; at = body.find("%%cd:~,%", at + 8)) ++escapes;
    EXPECT_EQ(body.size(), escapes * 8 + 2);
}

TEST(BatchCommandLine, OtherProgramsGetTheMessageAsTheCRuntimeSplitsIt) {
    EXPECT_FALSE(win::IsBatchFile("C:\\a.exe"));
    EXPECT_TRUE(win::IsBatchFile("C:\\A.BAT"));
    EXPECT_TRUE(win::IsBatchFile("C:\\a.Cmd"));
    EXPECT_EQ(win::QuoteProgramArgument("a b"), "\"a b\"");
    EXPECT_EQ(win::QuoteProgramArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(win::QuoteProgramArgument("C:\\dir\\"), "\"C:\\dir\\\\\"");
    EXPECT_EQ(win::QuoteProgramArgument("a\\\"b"), "\"a\\\\\\\"b\"");
}

TEST_F(BatchProgram, HostileTextsReachItAsItsFirstArgumentAndStartNothingElse) {
    const bool wine = UnderWine();
    for (const Hostile& h : HostileTexts()) {
        const std::string got = Run(h.message);
        if (h.wineShows || !wine) {
            EXPECT_EQ(got, h.arg1) << "message: " << h.message;
        }
    }
    EXPECT_FALSE(fs::exists(dir_ / "PWNED"));
}

TEST_F(BatchProgram, UnicodeArrivesAsText) {
    // cmd.exe hands %1 on in UTF-16; echo writes it in the OEM code page.
    const std::wstring text = L"\"Gr\u00fc\u00dfe \u00e9t\u00e9\"";
    std::string oem(64, '\0');
    oem.resize(static_cast<size_t>(WideCharToMultiByte(GetOEMCP(), 0, text.c_str(), static_cast<int>(text.size()),
                                                       oem.data(), static_cast<int>(oem.size()), nullptr, nullptr)));
    EXPECT_EQ(Run("Gr\xc3\xbc\xc3\x9f" "e \xc3\xa9t\xc3\xa9"), oem);
}

TEST(StartProgram, AMissingProgramIsAFaultWithItsNumber) {
    try {
        telwick::platform::StartProgram("C:\\does\\not\\exist.exe", "x");
        FAIL() << "no fault";
    } catch (const telwick::Fault& f) {
        EXPECT_EQ(f.number(), telwick::FaultNr::FileNotFound);
    }
}
