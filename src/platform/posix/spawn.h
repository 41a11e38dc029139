// Starting a program on this system, the one way the program does it: no
// shell, standard input and output on /dev/null, no descriptor of ours left
// open, and the signal mask and dispositions of a fresh process.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace telwick::platform::posix {

struct SpawnOptions {
    // Looks the program up in PATH when it names no folder.
    bool searchPath = false;
    // Standard error stays ours (a tool whose complaints the user should see);
    // otherwise it goes to /dev/null as well.
    bool keepStandardError = false;
};

// Starts argv[0] (path) with argv; 0 and the child's id, or the errno value.
int Spawn(pid_t& pid, const std::string& path, const std::vector<std::string>& argv,
          const SpawnOptions& options = {});

// Starts and waits: the exit status, or -1 when it could not be started or
// did not end normally.
int RunAndWait(const std::string& path, const std::vector<std::string>& argv, const SpawnOptions& options = {});

}  // namespace telwick::platform::posix
