// The batch program: a file test, and starting the program without a shell and
// without waiting for it. The started programs are remembered so that they can
// be reaped when they end; none is left behind as a zombie for long.
#include "platform/process.h"

#include "platform/fault.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

extern char** environ;

namespace telwick::platform {

namespace {

std::mutex childrenMutex;
std::set<pid_t> children;

class SpawnSetup {
public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attr_);
        // The program sees nothing of ours: standard streams on /dev/null, every
        // other descriptor closed, no blocked or ignored signals inherited (the
        // service blocks its request signals for its own use).
        posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions_, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attr_, &none);
        posix_spawnattr_setsigdefault(&attr_, &all);
        posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attr_);
        posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    int Spawn(pid_t& pid, const char* program, const std::vector<const char*>& argv) {
        return posix_spawn(&pid, program, &actions_, &attr_, const_cast<char* const*>(argv.data()), environ);
    }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attr_;
};

void ReapLocked() {
    for (auto it = children.begin(); it != children.end();) {
        int status = 0;
        pid_t r = waitpid(*it, &status, WNOHANG);
        if (r == *it || (r < 0 && errno == ECHILD))
            it = children.erase(it);
        else
            ++it;
    }
}

}  // namespace

bool FileExists(const std::string& path) {
    if (path.empty()) return false;
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void StartProgram(const std::string& path, const std::string& argument) {
    std::lock_guard<std::mutex> lock(childrenMutex);
    ReapLocked();

    SpawnSetup setup;
    pid_t pid = 0;
    std::vector<const char*> argv{path.c_str(), argument.c_str(), nullptr};
    int err = setup.Spawn(pid, path.c_str(), argv);
    if (err == ENOEXEC) {
        // A script without a "#!" line: the shell reads it, as a shell would
        // when asked to run it. The message still travels as one argument and
        // is never read as a command.
        std::vector<const char*> shArgv{"/bin/sh", "--", path.c_str(), argument.c_str(), nullptr};
        err = setup.Spawn(pid, "/bin/sh", shArgv);
    }
    if (err != 0) {
        int32_t number = err == ENOENT   ? FaultNr::FileNotFound
                         : err == EACCES ? FaultNr::PermissionDenied
                                         : FaultNr::InvalidCall;
        throw Fault(number, "Cannot start " + path + ": " + std::strerror(err));
    }
    children.insert(pid);
}

void ReapPrograms() {
    std::lock_guard<std::mutex> lock(childrenMutex);
    ReapLocked();
}

}  // namespace telwick::platform
