#include "testenv.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace telwick::test {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "telwick-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(const std::string& name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name.c_str())) {
        old_ = old;
        hadOld_ = true;
    }
    setenv(name.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (hadOld_) setenv(name_.c_str(), old_.c_str(), 1);
    else unsetenv(name_.c_str());
}

ScopedHive::ScopedHive() : path_(dir_.file("registry.db")) {
    if (const char* old = std::getenv("TELWICK_REGISTRY")) {
        old_ = old;
        hadOld_ = true;
    }
    setenv("TELWICK_REGISTRY", path_.c_str(), 1);
}

ScopedHive::~ScopedHive() {
    if (hadOld_) setenv("TELWICK_REGISTRY", old_.c_str(), 1);
    else unsetenv("TELWICK_REGISTRY");
}

SyslogReceiver::SyslogReceiver() : path_(dir_.file("log.sock")) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error("socket failed");
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path_.size() >= sizeof(addr.sun_path)) throw std::runtime_error("socket path too long");
    std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0)
        throw std::runtime_error("bind failed");
    if (const char* old = std::getenv("TELWICK_SYSLOG_SOCKET")) {
        old_ = old;
        hadOld_ = true;
    }
    setenv("TELWICK_SYSLOG_SOCKET", path_.c_str(), 1);
}

SyslogReceiver::~SyslogReceiver() {
    if (fd_ >= 0) close(fd_);
    if (hadOld_) setenv("TELWICK_SYSLOG_SOCKET", old_.c_str(), 1);
    else unsetenv("TELWICK_SYSLOG_SOCKET");
}

std::vector<std::string> SyslogReceiver::Drain(std::chrono::milliseconds firstWait) {
    std::vector<std::string> out;
    int wait = static_cast<int>(firstWait.count());
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, wait) <= 0) break;
        char buf[65536];
        ssize_t n = recv(fd_, buf, sizeof(buf), 0);
        if (n < 0) break;
        out.emplace_back(buf, static_cast<size_t>(n));
        wait = 50;
    }
    return out;
}

std::vector<std::string> SyslogReceiver::WaitFor(size_t count, std::chrono::milliseconds deadline) {
    std::vector<std::string> out;
    auto end = std::chrono::steady_clock::now() + deadline;
    while (out.size() < count && std::chrono::steady_clock::now() < end) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::max<long>(1, left.count()))) <= 0) continue;
        char buf[65536];
        ssize_t n = recv(fd_, buf, sizeof(buf), 0);
        if (n > 0) out.emplace_back(buf, static_cast<size_t>(n));
    }
    return out;
}

namespace {
// Skips n blank-separated header fields of an RFC 5424 datagram.
size_t SkipFields(const std::string& d, int n) {
    size_t pos = 0;
    for (int i = 0; i < n && pos != std::string::npos; ++i) {
        pos = d.find(' ', pos);
        if (pos != std::string::npos) ++pos;
    }
    return pos;
}
}  // namespace

std::string SyslogReceiver::MsgIdOf(const std::string& d) {
    // <PRI>1 TIMESTAMP HOST APP PROCID MSGID SD MSG
    size_t pos = SkipFields(d, 5);
    if (pos == std::string::npos) return {};
    return d.substr(pos, d.find(' ', pos) - pos);
}

std::string SyslogReceiver::MessageOf(const std::string& d) {
    size_t pos = SkipFields(d, 7);
    if (pos == std::string::npos) return {};
    return d.substr(pos);
}

}  // namespace telwick::test

namespace {
// Every test program starts with the folders of this build and Qt's offscreen
// platform, unless its caller set them otherwise.
struct DefaultEnvironment {
    DefaultEnvironment() {
        setenv("TELWICK_SOURCE_DIR", TELWICK_SOURCE_DIR_DEFAULT, 0);
        setenv("TELWICK_BINARY_DIR", TELWICK_BINARY_DIR_DEFAULT, 0);
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
} defaultEnvironment;
}  // namespace
