// The error reporter, its debug halt, the retry convention and the message texts.
#include <gtest/gtest.h>

#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <new>

#include "platform/lifecycle.h"
#include "platform/messagebox.h"
#include "settings/errors.h"
#include "settings/registry.h"
#include "support/process.h"
#include "support/testenv.h"

using namespace modMain;
using telwick::test::ChildOptions;
using telwick::test::ChildProcess;
using telwick::test::ProgramEnded;
namespace platform = telwick::platform;

namespace {

class RecordingBoxes : public platform::MessageBoxHost {
public:
    platform::Answer Show(const std::string& text, const std::string& title, platform::Buttons buttons) override {
        shown.push_back(title + "|" + text);
        lastButtons = buttons;
        return platform::Answer::Ok;
    }
    std::vector<std::string> shown;
    platform::Buttons lastButtons = platform::Buttons::YesNo;
};

class Reporter : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetMessageBoxHost(&boxes_);
        platform::SetEndProgramHandler([](int status) { throw ProgramEnded{status}; });
    }
    void TearDown() override {
        platform::SetMessageBoxHost(nullptr);
        platform::SetEndProgramHandler(nullptr);
        SetCommandTail("");
    }
    RecordingBoxes boxes_;
};

}  // namespace

TEST_F(Reporter, SilentWithoutDebug) {
    for (const char* tail : {"", "-install", "-DEBUG", "- debug", "debug"}) {
        SetCommandTail(tail);
        EXPECT_FALSE(DebugMode()) << tail;
        EXPECT_EQ(ReportError("modMain", "ParseValue", 13, "X"), ActionLeave);
    }
    EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(Reporter, DebugAnywhereInTheTail) {
    for (const char* tail : {"-debug", "-install -debug", "x-debugger", "a b -debug c"}) {
        SetCommandTail(tail);
        EXPECT_TRUE(DebugMode()) << tail;
    }
}

TEST_F(Reporter, DebugShowsTheTextThenEndsTheProgram) {
    SetCommandTail("-debug");
    try {
        ReportError("modMain", "ParseValue", 13, "X");
        FAIL() << "the program went on by itself";
    } catch (const ProgramEnded& e) {
        EXPECT_EQ(e.status, 1);
    }
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0], "Telwick|Error 'X' number 13 occured in modMain (ParseValue) ");
    EXPECT_EQ(boxes_.lastButtons, platform::Buttons::Ok);
    try {
        ReportError("modDatabase", "CheckDB", telwick::FaultNr::Database, "Login failed");
    } catch (const ProgramEnded&) {
    }
    EXPECT_EQ(boxes_.shown.back(),
              "Telwick|Error 'Login failed' number -2147467259 occured in modDatabase (CheckDB) ");
}

TEST_F(Reporter, AttemptGivesUpOutsideDebugAndReportsEachKindOfFault) {
    SetCommandTail("");
    int runs = 0;
    EXPECT_TRUE(Attempt("m", "p", [&] { ++runs; }));
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(Attempt("m", "p", [&] {
        ++runs;
        throw telwick::Fault(9, "Subscript out of range");
    }));
    EXPECT_EQ(runs, 2) << "answer 0 leaves at once";

    // What reaches the reporter, seen in debug mode.
    SetCommandTail("-debug");
    struct {
        std::function<void()> step;
        std::string text;
    } cases[] = {
        {[] { throw telwick::Fault(6, "Overflow"); }, "Error 'Overflow' number 6 occured in m (p) "},
        {[] { throw std::bad_alloc(); }, "Error 'Out of memory' number 7 occured in m (p) "},
        {[] { throw std::runtime_error("boom"); }, "Error 'boom' number 5 occured in m (p) "},
    };
    for (const auto& c : cases) {
        EXPECT_THROW(Attempt("m", "p", c.step), ProgramEnded);
        EXPECT_EQ(boxes_.shown.back(), "Telwick|" + c.text);
    }
}

TEST_F(Reporter, RegistryFaultsAreSilentOutsideDebug) {
    telwick::test::ScopedHive hive;
    SetCommandTail("");
    uint32_t type = modRegistry::REG_SZ;
    EXPECT_EQ(
        modRegistry::GetRegistryValue(modRegistry::HKEY_LOCAL_MACHINE, modRegistry::ProgramKey, "x", type, ""),
        "");
    EXPECT_TRUE(boxes_.shown.empty());
}

// Runs in a fresh copy of this program started by the test below: nobody has
// set the tail there, so it comes from the process's own arguments.
TEST(CommandTail, ChildSide) {
    if (!std::getenv("TELWICK_TAIL_CHILD")) GTEST_SKIP() << "runs only as the child of ReadFromTheProcess";
    EXPECT_EQ(CommandTail(), "--gtest_filter=CommandTail.ChildSide -debug two words  end");
    EXPECT_TRUE(DebugMode());
    SetCommandTail("-install");
    EXPECT_EQ(CommandTail(), "-install");
    EXPECT_FALSE(DebugMode());
}

TEST(CommandTail, ReadFromTheProcessUntilMainSetsIt) {
    ChildOptions options;
    options.environment = telwick::test::EnvironmentWith({{"TELWICK_TAIL_CHILD", "1"}});
    options.stdinFile.clear();
    options.stdoutFile = "/dev/null";
    ChildProcess child(
        {"/proc/self/exe", "--gtest_filter=CommandTail.ChildSide", "-debug", "two words", "", "end"}, options);
    EXPECT_EQ(child.Wait(), 0);
}

TEST(MessageTexts, TheThreeTextsAndNothingElse) {
    EXPECT_EQ(GetMessageText(1), "Remove selected configuration(s)?");
    EXPECT_EQ(GetMessageText(2), "Database connection lost. Open a new connection?");
    EXPECT_EQ(GetMessageText(3), "Database connection failed. Cannot continue.");
    for (int n : {0, 4, -1, 2147483647}) EXPECT_EQ(GetMessageText(n), "") << n;
}

// Under a debugger the halt is a breakpoint: when the developer continues, the
// failed step runs again. A child traced by this process plays the developer's
// program; the parent is the debugger that continues past each SIGTRAP.
TEST(DebugHalt, UnderADebuggerTheFailedStepIsRetried) {
    pid_t pid = fork();
    if (pid == 0) {
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(90);
        raise(SIGSTOP);  // let the tracer catch up
        platform::SetEndProgramHandler([](int) { _exit(91); });
        SetCommandTail("-debug");
        int runs = 0;
        bool done = Attempt("modMain", "ParseValue", [&] {
            if (++runs < 3) throw telwick::Fault(13, "Type mismatch");
        });
        _exit(done && runs == 3 ? 0 : 92);
    }
    int traps = 0, status = 0;
    for (;;) {
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        if (WIFEXITED(status) || WIFSIGNALED(status)) break;
        int sig = WSTOPSIG(status);
        if (sig == SIGTRAP) ++traps;
        // Swallow the stop and the breakpoint; hand every other signal on.
        ptrace(PTRACE_CONT, pid, nullptr, (sig == SIGTRAP || sig == SIGSTOP) ? 0 : sig);
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(traps, 2) << "one halt per reported fault";
}
