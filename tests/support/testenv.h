// What every test needs to stay hermetic: a private folder, its own hive and
// its own system-log socket.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "support/datagram.h"

namespace telwick::test {

// A private temporary folder (in $TELWICK_TEST_TMPDIR when set, else the
// system's), removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Points TELWICK_REGISTRY at a fresh hive file in a private folder (the file
// itself is not created) and restores the old value at the end. On Windows the
// store is the registry of the machine (the test run's own Wine prefix):
// HKLM\SOFTWARE\Corvane is removed at the start and at the end instead, so
// the tests there run one at a time.
class ScopedHive {
public:
    ScopedHive();
    ~ScopedHive();
    const std::string& path() const { return path_; }
    const TempDir& dir() const { return dir_; }

private:
    TempDir dir_;
    std::string path_;
    std::string old_;
    bool hadOld_ = false;
};

// A datagram listener in a private folder (on Windows a UDP port on the
// loopback, named udp:127.0.0.1:PORT), with TELWICK_SYSLOG_SOCKET pointed at
// it for the life of the object.
class SyslogReceiver {
public:
    SyslogReceiver();
    ~SyslogReceiver();
    const std::string& socketPath() const { return path_; }
    // Every datagram that arrives within the timeout after the last one (the
    // first one waited for up to firstWait).
    std::vector<std::string> Drain(std::chrono::milliseconds firstWait = std::chrono::milliseconds(200));
    // Waits until count datagrams arrived in all (or the deadline passed).
    std::vector<std::string> WaitFor(size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // The MSG part of an RFC 5424 datagram.
    static std::string MessageOf(const std::string& datagram);
    // The MSGID part.
    static std::string MsgIdOf(const std::string& datagram);

private:
    TempDir dir_;
    std::string path_;
    DatagramListener listener_;
    std::string old_;
    bool hadOld_ = false;
};

// True in the Windows build: for the few cases that stand on what only POSIX
// gives (sh, the execute bit, /proc, a datagram queue that pushes back).
#ifdef _WIN32
inline constexpr bool OnWindows = true;
#else
inline constexpr bool OnWindows = false;
#endif

// The whole content of a file, byte for byte; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// Sets or removes an environment variable of this process (on Windows an
// empty value removes it too).
void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const std::string& name, const std::string& value);
    ~ScopedEnv();

private:
    std::string name_, old_;
    bool hadOld_ = false;
};

}  // namespace telwick::test
