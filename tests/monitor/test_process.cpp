// The batch program: the file test, the start without a shell (the message is
// one argument, byte for byte), the failures, and the reaping of the children.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/fault.h"
#include "platform/process.h"
#include "support/testenv.h"

using telwick::test::TempDir;
namespace platform = telwick::platform;
namespace fs = std::filesystem;

using telwick::test::ReadFile;

namespace {

void WriteFile(const std::string& path, const std::string& text, fs::perms mode) {
    std::ofstream(path, std::ios::binary) << text;
    fs::permissions(path, mode);
}

// Waits for a file that a script writes last (by renaming it into place).
std::string WaitForFile(const std::string& path) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!fs::exists(path) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return ReadFile(path);
}

// The state letter of a process ('Z' for a zombie), or 0 when it is gone.
char ProcessState(pid_t pid) {
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t paren = stat.rfind(')');
    return paren == std::string::npos || paren + 2 >= stat.size() ? 0 : stat[paren + 2];
}

void WaitUntilZombie(pid_t pid) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ProcessState(pid) != 'Z' && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(ProcessState(pid), 'Z');
}

constexpr auto Exec = fs::perms::owner_all;
constexpr auto NoExec = fs::perms::owner_read | fs::perms::owner_write;

// A script that records its pid, its argument count and its first argument.
// A script that records its pid, its argument count and its first argument;
// with a gate, it first waits until the gate file exists.
std::string RecorderScript(const std::string& out, bool shebang = true, const std::string& gate = "") {
    std::string script = out + ".sh";
    std::string wait = gate.empty() ? "" : "while [ ! -e '" + gate + "' ]; do sleep 0.01; done\n";
    WriteFile(script,
              std::string(shebang ? "#!/bin/sh\n" : "") + wait + "printf '%s\\n%s\\n%s' \"$$\" \"$#\" \"$1\" > '" +
                  out + ".tmp'\nmv '" + out + ".tmp' '" + out + "'\n",
              Exec);
    return script;
}

struct Recorded {
    pid_t pid = 0;
    int argc = -1;
    std::string argument;
};

Recorded ParseRecord(const std::string& text) {
    Recorded r;
    size_t a = text.find('\n'), b = text.find('\n', a + 1);
    if (a == std::string::npos || b == std::string::npos) return r;
    r.pid = std::stoi(text.substr(0, a));
    r.argc = std::stoi(text.substr(a + 1, b - a - 1));
    r.argument = text.substr(b + 1);
    return r;
}

TEST(FileExists, OnlyARegularFileCounts) {
    TempDir dir;
    WriteFile(dir.file("job.sh"), "x", NoExec);
    fs::create_directory(dir.file("folder"));
    fs::create_symlink(dir.file("job.sh"), dir.file("link"));
    fs::create_symlink(dir.file("nothing"), dir.file("dangling"));
    mkfifo(dir.file("fifo").c_str(), 0600);
    struct Case {
        std::string path;
        bool exists;
    } cases[] = {{dir.file("job.sh"), true},
                 {dir.file("link"), true},
                 {dir.file("folder"), false},
                 {dir.file("nothing"), false},
                 {dir.file("dangling"), false},
                 {dir.file("fifo"), false},
                 {"", false},
                 {dir.file("job.sh/x"), false}};
    for (const Case& c : cases) EXPECT_EQ(platform::FileExists(c.path), c.exists) << c.path;
}

TEST(StartProgram, TheMessageArrivesAsOneArgumentByteForByte) {
    TempDir dir;
    const std::string hostile[] = {
        "Disk C: full",
        "",
        "\"quoted\" and 'single' \\ back\\\\slash",
        "a; rm -rf / & echo pwned | cat `id` $(id) ${HOME} $HOME > /tmp/x < /etc/passwd",
        "line one\nline two\r\n\ttab",
        "-n",
        "--help",
        "* ? [a-z] ~ # !",
        "\"; touch " + dir.file("injected") + "; echo \"",
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC \xFF\xFE",
        std::string(100000, 'L') + "$(touch " + dir.file("injected") + ")",
    };
    int i = 0;
    for (const std::string& message : hostile) {
        SCOPED_TRACE(i);
        const std::string out = dir.file("out" + std::to_string(i++));
        platform::StartProgram(RecorderScript(out), message);
        Recorded r = ParseRecord(WaitForFile(out));
        EXPECT_EQ(r.argc, 1);
        EXPECT_EQ(r.argument, message);
    }
    EXPECT_FALSE(fs::exists(dir.file("injected")));
    platform::ReapPrograms();
}

TEST(StartProgram, AScriptWithoutInterpreterLineStillRuns) {
    TempDir dir;
    const std::string out = dir.file("out");
    platform::StartProgram(RecorderScript(out, false), "a b; $(c)");
    Recorded r = ParseRecord(WaitForFile(out));
    EXPECT_EQ(r.argc, 1);
    EXPECT_EQ(r.argument, "a b; $(c)");
}

TEST(StartProgram, TheProgramSeesNothingOfOurs) {
    TempDir dir;
    const std::string out = dir.file("out");
    // A descriptor of ours without close-on-exec.
    int fd = open(dir.file("mine").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(dup2(fd, 201), 201);
    WriteFile(dir.file("fds.sh"),
              "#!/bin/sh\nin=$(readlink /proc/$$/fd/0); o=$(readlink /proc/$$/fd/1); e=$(readlink /proc/$$/fd/2)\n"
              "if [ -e /proc/$$/fd/201 ]; then l=leaked; else l=closed; fi\n"
              "printf '%s\\n' \"$in\" \"$o\" \"$e\" \"$l\" > '" +
                  out + ".tmp'\nmv '" + out + ".tmp' '" + out + "'\n",
              Exec);
    platform::StartProgram(dir.file("fds.sh"), "x");
    std::string seen = WaitForFile(out);
    close(201);
    close(fd);
    EXPECT_EQ(seen, "/dev/null\n/dev/null\n/dev/null\nclosed\n");
}

TEST(StartProgram, AProgramThatCannotStartIsAFault) {
    TempDir dir;
    WriteFile(dir.file("plain.txt"), "#!/bin/sh\n", NoExec);
    fs::create_directory(dir.file("folder"));
    WriteFile(dir.file("badinterp.sh"), "#!" + dir.file("nointerpreter") + "\n", Exec);
    struct Case {
        std::string path;
        int32_t number;
    } cases[] = {
        {dir.file("missing.sh"), telwick::FaultNr::FileNotFound},
        {dir.file("badinterp.sh"), telwick::FaultNr::FileNotFound},
        {dir.file("plain.txt"), telwick::FaultNr::PermissionDenied},
        {dir.file("folder"), telwick::FaultNr::PermissionDenied},
        {dir.file(std::string(5000, 'n')), telwick::FaultNr::InvalidCall},  // name too long
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.substr(0, 120));
        try {
            platform::StartProgram(c.path, "text");
            ADD_FAILURE() << "started";
        } catch (const telwick::Fault& f) {
            EXPECT_EQ(f.number(), c.number);
            EXPECT_NE(f.description().find(c.path.substr(0, 60)), std::string::npos) << f.description();
        }
    }
}

TEST(StartProgram, EndedProgramsAreReapedNotLeftAsZombies) {
    TempDir dir;
    const std::string gate = dir.file("gate");
    std::vector<std::string> outs;
    for (int i = 0; i < 4; ++i) {
        outs.push_back(dir.file("out" + std::to_string(i)));
        platform::StartProgram(RecorderScript(outs.back(), true, gate), "x");
    }
    WriteFile(gate, "", NoExec);
    std::vector<pid_t> pids;
    for (const std::string& out : outs) {
        pids.push_back(ParseRecord(WaitForFile(out)).pid);
        ASSERT_GT(pids.back(), 0);
    }
    for (pid_t pid : pids) WaitUntilZombie(pid);
    platform::ReapPrograms();
    for (pid_t pid : pids) EXPECT_EQ(ProcessState(pid), 0) << pid;

    // Starting the next program reaps the ones that ended before it.
    const std::string first = dir.file("first");
    platform::StartProgram(RecorderScript(first), "x");
    pid_t pid = ParseRecord(WaitForFile(first)).pid;
    WaitUntilZombie(pid);
    const std::string second = dir.file("second");
    platform::StartProgram(RecorderScript(second), "x");
    EXPECT_EQ(ProcessState(pid), 0);
    WaitForFile(second);
}

}  // namespace
