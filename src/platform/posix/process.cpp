// The batch program: a file test, and starting the program without a shell and
// without waiting for it. The started programs are remembered so that they can
// be reaped when they end; none is left behind as a zombie for long.
#include "platform/process.h"

#include "platform/fault.h"
#include "platform/posix/spawn.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

namespace telwick::platform {

namespace {

std::mutex childrenMutex;
std::set<pid_t> children;

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

    pid_t pid = 0;
    int err = posix::Spawn(pid, path, {path, argument});
    if (err == ENOEXEC) {
        // A script without a "#!" line: the shell reads it, as a shell would
        // when asked to run it. The message still travels as one argument and
        // is never read as a command.
        err = posix::Spawn(pid, "/bin/sh", {"/bin/sh", "--", path, argument});
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
