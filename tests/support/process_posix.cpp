// Child processes of a test, the POSIX way (posix_spawn, fork, waitpid).
#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <thread>

namespace telwick::test {

namespace {

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (auto& t : texts) out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options) {
    std::vector<std::string> args = argv;
    std::vector<std::string> envs = options.environment.empty() ? EnvironmentWith({}) : options.environment;
    auto argp = Pointers(args);
    auto envp = Pointers(envs);
    const int flags = O_WRONLY | O_CREAT | (options.append ? O_APPEND : O_TRUNC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!options.stdinFile.empty())
        posix_spawn_file_actions_addopen(&actions, 0, options.stdinFile.c_str(), O_RDONLY, 0);
    if (!options.stdoutFile.empty())
        posix_spawn_file_actions_addopen(&actions, 1, options.stdoutFile.c_str(), flags, 0600);
    int closedPipe[2] = {-1, -1};
    if (options.stderrToClosedPipe && pipe2(closedPipe, O_CLOEXEC) == 0)
        posix_spawn_file_actions_adddup2(&actions, closedPipe[1], 2);
    else if (!options.stderrFile.empty())
        posix_spawn_file_actions_addopen(&actions, 2, options.stderrFile.c_str(), flags, 0600);
    if (!options.workdir.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.workdir.c_str());
    int rc = posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : closedPipe)
        if (fd >= 0) close(fd);  // no reader is left
    if (rc != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
}

ChildProcess ChildProcess::Fork(const std::function<int()>& body) {
    ChildProcess child;
    child.pid_ = fork();
    if (child.pid_ == 0) _exit(body());
    if (child.pid_ < 0) throw std::runtime_error("fork failed");
    return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), status_(other.status_), ended_(other.ended_), signalled_(other.signalled_) {
    other.pid_ = -1;
}

ChildProcess::~ChildProcess() {
    if (Running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool ChildProcess::Running() {
    if (pid_ <= 0 || ended_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    ended_ = true;
    signalled_ = WIFSIGNALED(status);
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : signalled_ ? 128 + WTERMSIG(status) : -1;
    return false;
}

int ChildProcess::Wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (Running()) {
        if (std::chrono::steady_clock::now() >= end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
}

void ChildProcess::Signal(int sig) {
    if (Running()) kill(pid_, sig);
}

int RunProgram(const std::vector<std::string>& argv, std::string* output,
               const std::map<std::string, std::string>& env) {
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], 2);
    std::vector<std::string> args = argv;
    std::vector<std::string> envs = EnvironmentWith(env);
    auto argp = Pointers(args);
    auto envp = Pointers(envs);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipefd[1]);
    std::string text;
    if (rc == 0) {
        char buf[8192];
        ssize_t n;
        while ((n = read(pipefd[0], buf, sizeof(buf))) > 0) text.append(buf, static_cast<size_t>(n));
    }
    close(pipefd[0]);
    if (output) *output = text;
    if (rc != 0) return 127;
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace telwick::test
