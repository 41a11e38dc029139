#include "support/testenv.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace telwick::test {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void SetEnv(const std::string& name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name.c_str(), value.c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

void UnsetEnv(const std::string& name) {
#ifdef _WIN32
    _putenv_s(name.c_str(), "");
#else
    unsetenv(name.c_str());
#endif
}

TempDir::TempDir() {
    // A new folder with a random name; create_directory fails on a name taken.
    static std::mt19937_64 random{std::random_device{}()};
    // $TELWICK_TEST_TMPDIR when set: under Wine a Unix path there (/tmp/...)
    // names the same file for the Windows program and for the host's
    // libraries behind it (the SQLite ODBC driver), which C:\ does not.
    const char* chosen = std::getenv("TELWICK_TEST_TMPDIR");
    const auto base = chosen && *chosen ? std::filesystem::path(chosen) : std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "telwick-test-%012llx",
                      static_cast<unsigned long long>(random() & 0xffffffffffffULL));
        std::error_code ec;
        if (std::filesystem::create_directory(base / name, ec)) {
            std::filesystem::permissions(base / name, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::replace, ec);
            path_ = (base / name).generic_string();  // forward slashes on both systems
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder in " + base.string());
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
    SetEnv(name, value);
}

ScopedEnv::~ScopedEnv() {
    if (hadOld_)
        SetEnv(name_, old_);
    else
        UnsetEnv(name_);
}

ScopedHive::ScopedHive() : path_(dir_.file("registry.db")) {
    if (const char* old = std::getenv("TELWICK_REGISTRY")) {
        old_ = old;
        hadOld_ = true;
    }
    SetEnv("TELWICK_REGISTRY", path_);
#ifdef _WIN32
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvane");
#endif
}

ScopedHive::~ScopedHive() {
#ifdef _WIN32
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvane");
#endif
    if (hadOld_)
        SetEnv("TELWICK_REGISTRY", old_);
    else
        UnsetEnv("TELWICK_REGISTRY");
}

SyslogReceiver::SyslogReceiver() : listener_(dir_.file("log.sock")) {
    path_ = listener_.path();  // on Windows the UDP port it got
    if (const char* old = std::getenv("TELWICK_SYSLOG_SOCKET")) {
        old_ = old;
        hadOld_ = true;
    }
    SetEnv("TELWICK_SYSLOG_SOCKET", path_);
}

SyslogReceiver::~SyslogReceiver() {
    if (hadOld_)
        SetEnv("TELWICK_SYSLOG_SOCKET", old_);
    else
        UnsetEnv("TELWICK_SYSLOG_SOCKET");
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
void SetDefault(const char* name, const std::string& value) {
    if (!std::getenv(name)) telwick::test::SetEnv(name, value);
}

struct DefaultEnvironment {
    DefaultEnvironment() {
        SetDefault("TELWICK_SOURCE_DIR", TELWICK_SOURCE_DIR_DEFAULT);
        SetDefault("TELWICK_BINARY_DIR", TELWICK_BINARY_DIR_DEFAULT);
#ifndef _WIN32
        SetDefault("QT_QPA_PLATFORM", "offscreen");
        // What Qt keeps for the user (the file dialog's history) goes into the
        // build, never into the home folder of whoever runs the tests.
        telwick::test::SetEnv("XDG_CONFIG_HOME", std::string(TELWICK_BINARY_DIR_DEFAULT) + "/test-config");
#endif
    }
} defaultEnvironment;
}  // namespace
