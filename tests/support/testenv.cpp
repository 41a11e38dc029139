#include "support/testenv.h"

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
    if (hadOld_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

ScopedHive::ScopedHive() : path_(dir_.file("registry.db")) {
    if (const char* old = std::getenv("TELWICK_REGISTRY")) {
        old_ = old;
        hadOld_ = true;
    }
    setenv("TELWICK_REGISTRY", path_.c_str(), 1);
}

ScopedHive::~ScopedHive() {
    if (hadOld_)
        setenv("TELWICK_REGISTRY", old_.c_str(), 1);
    else
        unsetenv("TELWICK_REGISTRY");
}

SyslogReceiver::SyslogReceiver() : path_(dir_.file("log.sock")), listener_(path_) {
    if (const char* old = std::getenv("TELWICK_SYSLOG_SOCKET")) {
        old_ = old;
        hadOld_ = true;
    }
    setenv("TELWICK_SYSLOG_SOCKET", path_.c_str(), 1);
}

SyslogReceiver::~SyslogReceiver() {
    if (hadOld_)
        setenv("TELWICK_SYSLOG_SOCKET", old_.c_str(), 1);
    else
        unsetenv("TELWICK_SYSLOG_SOCKET");
}

std::vector<std::string> SyslogReceiver::Drain(std::chrono::milliseconds firstWait) {
    return listener_.Drain(firstWait);
}

std::vector<std::string> SyslogReceiver::WaitFor(size_t count, std::chrono::milliseconds deadline) {
    return listener_.WaitFor(count, deadline);
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
        // What Qt keeps for the user (the file dialog's history) goes into the
        // build, never into the home folder of whoever runs the tests.
        setenv("XDG_CONFIG_HOME", (std::string(TELWICK_BINARY_DIR_DEFAULT) + "/test-config").c_str(), 1);
    }
} defaultEnvironment;
}  // namespace
