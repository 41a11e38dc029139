#include "service/SystemdService.h"

#include "platform/syslog.h"
#include "platform/lifecycle.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace telwick::service {

namespace fs = std::filesystem;

namespace systemd {

bool UserUnit() { return geteuid() != 0; }

std::string UnitDirectory() {
    if (const char* dir = std::getenv("TELWICK_UNIT_DIR"); dir && *dir) return dir;
    if (!UserUnit()) return "/etc/systemd/system";
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config && config[0] == '/')
        return std::string(config) + "/systemd/user";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "") + "/.config/systemd/user";
}

std::string QuoteExecPath(const std::string& path) {
    bool plain = !path.empty();
    for (unsigned char c : path) {
        if (!(std::isalnum(c) || c == '/' || c == '_' || c == '.' || c == '-' || c == '+')) plain = false;
    }
    if (plain) return path;
    std::string out = "\"";
    for (char c : path) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '%': out += "%%"; break;   // specifier
        case '$': out += "$$"; break;   // variable expansion
        default: out += c;
        }
    }
    return out + "\"";
}

std::string UnitText(const std::string& executable, bool userUnit) {
    std::string text;
    text += "[Unit]\n";
    text += "Description=" + DisplayName + "\n";
    // A user's service lives with the desktop session that shows its icon.
    if (userUnit) text += "After=graphical-session.target\n";
    text += "\n[Service]\n";
    text += "Type=notify\n";
    text += "ExecStart=" + QuoteExecPath(executable) + "\n";
    text += "\n[Install]\n";
    text += std::string("WantedBy=") + (userUnit ? "default.target" : "multi-user.target") + "\n";
    return text;
}

std::string ExecutablePath() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return exe.string();
}

std::string SystemctlProgram() {
    if (const char* program = std::getenv("TELWICK_SYSTEMCTL")) return program;
    std::error_code ec;
    if (!fs::is_directory("/run/systemd/system", ec)) return {};
    for (const char* dir : {"/usr/bin", "/bin", "/usr/sbin", "/sbin"}) {
        std::string candidate = std::string(dir) + "/systemctl";
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

bool RunSystemctl(const std::string& program, bool userUnit, const std::vector<std::string>& args) {
    std::vector<std::string> words{program};
    if (userUnit) words.push_back("--user");
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int err = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool Notify(const std::string& socketPath, const std::string& state) {
    if (socketPath.empty()) return false;
    // libsystemd reads the address from $NOTIFY_SOCKET, which the programs we
    // start must not see: it is there only for the moment of the send (on the
    // one thread that starts programs).
    const char* kept = std::getenv("NOTIFY_SOCKET");
    const std::string before = kept ? kept : "";
    setenv("NOTIFY_SOCKET", socketPath.c_str(), 1);
    const int sent = sd_notify(0, state.c_str());
    if (kept) setenv("NOTIFY_SOCKET", before.c_str(), 1);
    else unsetenv("NOTIFY_SOCKET");
    return sent > 0;
}

}  // namespace systemd

namespace {

// The write end of the self-pipe, for the signal handler.
volatile sig_atomic_t signalPipe = -1;
constexpr int RequestSignals[] = {SIGTERM, SIGINT, SIGTSTP, SIGCONT};
struct sigaction previousActions[std::size(RequestSignals)];

void OnRequestSignal(int signo) {
    int saved = errno;
    if (signalPipe >= 0) {
        unsigned char byte = static_cast<unsigned char>(signo);
        ssize_t ignored = write(signalPipe, &byte, 1);
        (void)ignored;
    }
    errno = saved;
}

}  // namespace

SystemdService::SystemdService() = default;

SystemdService::~SystemdService() { RemoveSignalHandlers(); }

bool SystemdService::Install() {
    const bool userUnit = systemd::UserUnit();
    const std::string exe = systemd::ExecutablePath();
    if (exe.empty()) return false;

    const fs::path dir = systemd::UnitDirectory();
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) return false;

    // Written beside the final name and renamed, so the service manager never
    // reads half a unit.
    const fs::path unit = dir / systemd::UnitFileName;
    const fs::path partial = dir / (systemd::UnitFileName + ".partial");
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << systemd::UnitText(exe, userUnit);
        out.close();
        if (!out) {
            fs::remove(partial, ec);
            return false;
        }
    }
    fs::permissions(partial, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                 fs::perms::others_read,
                    ec);
    fs::rename(partial, unit, ec);
    if (ec) {
        fs::remove(partial, ec);
        return false;
    }

    const std::string systemctl = systemd::SystemctlProgram();
    if (systemctl.empty()) return true;  // no service manager running to tell
    return systemd::RunSystemctl(systemctl, userUnit, {"daemon-reload"}) &&
           systemd::RunSystemctl(systemctl, userUnit, {"enable", systemd::UnitFileName});
}

bool SystemdService::Uninstall() {
    const bool userUnit = systemd::UserUnit();
    const fs::path unit = fs::path(systemd::UnitDirectory()) / systemd::UnitFileName;
    std::error_code ec;
    if (!fs::exists(unit, ec)) return false;  // nothing installed

    const std::string systemctl = systemd::SystemctlProgram();
    bool ok = true;
    if (!systemctl.empty()) ok = systemd::RunSystemctl(systemctl, userUnit, {"disable", systemd::UnitFileName});
    if (!fs::remove(unit, ec) || ec) return false;
    if (!systemctl.empty()) ok = systemd::RunSystemctl(systemctl, userUnit, {"daemon-reload"}) && ok;
    return ok;
}

void SystemdService::StartService(ServiceRequests* requests) {
    requests_ = requests;
    // Kept for our own messages only: the programs we start must not talk to
    // the service manager in our name.
    if (const char* socket = std::getenv("NOTIFY_SOCKET")) notifySocket_ = socket;
    unsetenv("NOTIFY_SOCKET");
    InstallSignalHandlers();
    // The start request comes at once, as the first event of the loop.
    QTimer::singleShot(0, this, [this] { RaiseStart(); });
}

void SystemdService::StopService() {
    if (!requests_) return;
    QTimer::singleShot(0, this, [this] { RaiseStop(); });
}

bool SystemdService::LogEvent(int16_t type, int32_t number, const std::string& text) {
    return telwick::platform::WriteEventLog(type, number, text);
}

void SystemdService::InstallSignalHandlers() {
    if (handlersInstalled_) return;
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("Cannot create the request pipe");
    signalPipe = pipe_[1];
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { ReadSignals(); });

    struct sigaction action{};
    action.sa_handler = OnRequestSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(RequestSignals); ++i)
        sigaction(RequestSignals[i], &action, &previousActions[i]);
    handlersInstalled_ = true;
}

void SystemdService::RemoveSignalHandlers() {
    if (!handlersInstalled_) return;
    for (size_t i = 0; i < std::size(RequestSignals); ++i)
        sigaction(RequestSignals[i], &previousActions[i], nullptr);
    signalPipe = -1;
    notifier_.reset();
    close(pipe_[0]);
    close(pipe_[1]);
    pipe_[0] = pipe_[1] = -1;
    handlersInstalled_ = false;
}

void SystemdService::ReadSignals() {
    unsigned char buffer[64];
    ssize_t n;
    std::vector<int> received;
    while ((n = read(pipe_[0], buffer, sizeof(buffer))) > 0) {
        for (ssize_t i = 0; i < n; ++i) received.push_back(buffer[i]);
    }
    // One request at a time, in the order the signals came.
    for (int signo : received) {
        if (!requests_) break;
        switch (signo) {
        case SIGTERM:
        case SIGINT: RaiseStop(); break;
        case SIGTSTP: RaisePause(); break;
        case SIGCONT: RaiseContinue(); break;
        default: break;
        }
    }
}

void SystemdService::RaiseStart() {
    if (!requests_) return;
    if (requests_->OnStart()) {
        Notify("READY=1\nSTATUS=" + requests_->StatusText());
        return;
    }
    if (telwick::platform::StopRequested()) return;  // a stop overtook the start
    // The service manager sees a failed start: the process ends with a failure
    // status (the reason went to the system log).
    Notify("STATUS=Start failed");
    QCoreApplication::exit(1);
}

void SystemdService::RaiseStop() {
    if (!requests_) return;
    Notify("STOPPING=1");
    requests_->OnStop();
}

void SystemdService::RaisePause() {
    if (!requests_ || !(controls_ & AcceptPauseContinue)) return;
    if (requests_->OnPause()) Notify("STATUS=" + requests_->StatusText());
}

void SystemdService::RaiseContinue() {
    if (!requests_ || !(controls_ & AcceptPauseContinue)) return;
    if (requests_->OnContinue()) Notify("STATUS=" + requests_->StatusText());
}

void SystemdService::Notify(const std::string& state) { systemd::Notify(notifySocket_, state); }

}  // namespace telwick::service
