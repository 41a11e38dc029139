// Other processes in a test: programs started as children, code run in a
// forked child, and the end of the program turned into an exception.
#pragma once

#ifndef _WIN32
#include <sys/types.h>
#endif

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace telwick::test {

// What the test's end-of-program handler throws: not a std::exception, so that
// no handler of the program swallows it.
struct ProgramEnded {
    int status;
};

// For its life, EndProgram throws ProgramEnded instead of ending the test.
class EndProgramThrows {
public:
    EndProgramThrows();
    ~EndProgramThrows();
    EndProgramThrows(const EndProgramThrows&) = delete;
    EndProgramThrows& operator=(const EndProgramThrows&) = delete;
};

// The environment of this process with set on top; the names in removed are
// left out unless set gives them.
std::vector<std::string> EnvironmentWith(const std::map<std::string, std::string>& set,
                                         const std::set<std::string>& removed = {});

#ifndef _WIN32
// Children are started the POSIX way; on Windows the tests that need them are
// not built.

// How a child starts: its environment (empty: this process's), where its
// standard streams go (empty: inherited; stdin defaults to /dev/null), whether
// the files are appended to, and its working folder.
struct ChildOptions {
    std::vector<std::string> environment;
    std::string stdinFile = "/dev/null";
    std::string stdoutFile;
    std::string stderrFile;
    bool append = false;
    std::string workdir;
    bool stderrToClosedPipe = false;  // standard error a pipe whose reader has gone
};

// A child process: a program started with posix_spawn, or a function run in a
// forked copy of this process (its result is the exit status). A child still
// running at the end is killed (SIGKILL) and reaped.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options = {});
    static ChildProcess Fork(const std::function<int()>& body);
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ~ChildProcess();

    pid_t pid() const { return pid_; }
    bool Running();  // started and not ended (reaps it when it ended)
    // The exit status (128 + signal when a signal ended it), or -1 when it was
    // still running at the end of the limit.
    int Wait(std::chrono::milliseconds limit = std::chrono::hours(1));
    bool KilledBySignal() const { return signalled_; }
    void Signal(int sig);  // only while it runs

private:
    ChildProcess() = default;
    pid_t pid_ = -1;
    int status_ = -1;
    bool ended_ = false, signalled_ = false;
};

// Runs a program to its end (found on PATH when the name has no slash), its
// standard output and error collected in output; env is set on top of this
// process's environment. Returns the exit status (128 + signal when killed,
// 127 when it could not start).
int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr,
               const std::map<std::string, std::string>& env = {});
#endif

}  // namespace telwick::test
