#include "service/posix/SystemdService.h"

#include "platform/lifecycle.h"
#include "platform/posix/spawn.h"
#include "platform/syslog.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>


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
        case '%': out += "%%"; break;  // specifier
        case '$': out += "$$"; break;  // variable expansion
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
    // The system service's private runtime folder, made and removed by systemd.
    if (!userUnit) text += "RuntimeDirectory=telwick\nRuntimeDirectoryMode=0700\n";
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
    // Its complaints stay on our standard error, for whoever installs.
    return platform::posix::RunAndWait(program, words, {.searchPath = true, .keepStandardError = true}) == 0;
}

bool Notify(const std::string& socketPath, const std::string& state) {
    if (socketPath.empty()) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof(addr.sun_path)) return false;
    std::memcpy(addr.sun_path, socketPath.data(), socketPath.size());
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socketPath.size());
    if (socketPath[0] == '@')
        addr.sun_path[0] = '\0';  // abstract namespace
    else
        length += 1;

    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ssize_t sent = sendto(fd, state.data(), state.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                          reinterpret_cast<const sockaddr*>(&addr), length);
    close(fd);
    return sent == static_cast<ssize_t>(state.size());
}

}  // namespace systemd

namespace {

// The write end of the self-pipe, for the signal handler.
volatile sig_atomic_t signalPipe = -1;
// The write end of the stop guard's pipe (see EnableStopGuard).
volatile sig_atomic_t guardPipe = -1;
constexpr int RequestSignals[] = {SIGTERM, SIGINT, SIGTSTP, SIGCONT};
struct sigaction previousActions[std::size(RequestSignals)];

constexpr char GuardStop = 'S';   // a stop signal came
constexpr char GuardTaken = 'T';  // the event loop has taken a stop up
// How long the guard lets the one thread take a stop up before it ends the
// process itself; well inside the second a stop may take.
constexpr int StopGraceMs = 600;

void Poke(int fd, char byte) {
    if (fd < 0) return;
    ssize_t ignored = write(fd, &byte, 1);
    (void)ignored;
}

void OnRequestSignal(int signo) {
    int saved = errno;
    // Marked at once, so that a check in the middle of its window ends before
    // its next row and waits in the data layer give up; the event loop then
    // carries the request out as usual.
    switch (signo) {
    case SIGTERM:
    case SIGINT:
        telwick::platform::SetStopRequested(true);
        Poke(guardPipe, GuardStop);
        break;
    case SIGTSTP: telwick::platform::SetPauseRequested(true); break;
    case SIGCONT: telwick::platform::SetPauseRequested(false); break;
    default: break;
    }
    Poke(signalPipe, static_cast<char>(signo));
    errno = saved;
}

// The guard's thread: after each stop signal it waits for the event loop to
// take the stop up; when the one thread is held in a call that no flag reaches
// (a driver waiting on a server that does not answer), the process ends here,
// at once and with status 0, after one line on standard error.
void GuardLoop(int fd) {
    using Clock = std::chrono::steady_clock;
    char byte = 0;
    for (;;) {
        ssize_t n = read(fd, &byte, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        if (byte != GuardStop) continue;
        const auto deadline = Clock::now() + std::chrono::milliseconds(StopGraceMs);
        bool taken = false;
        while (!taken) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) break;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) > 0 && read(fd, &byte, 1) == 1 && byte == GuardTaken)
                taken = true;
        }
        if (!taken) {
            static const char line[] =
                "Telwick: a stop came while a call did not return (a database server that does not "
                "answer?); ended at once, without the usual unload\n";
            ssize_t ignored = write(STDERR_FILENO, line, sizeof(line) - 1);
            (void)ignored;
            _exit(0);
        }
    }
}

}  // namespace

void EnableStopGuard() {
    static std::once_flag once;
    std::call_once(once, [] {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        // The handler never blocks on it; the guard does.
        fcntl(fds[1], F_SETFL, O_NONBLOCK);
        // The guard takes no request signal: they are for the one thread.
        sigset_t requests, previous;
        sigemptyset(&requests);
        for (int signo : RequestSignals) sigaddset(&requests, signo);
        pthread_sigmask(SIG_BLOCK, &requests, &previous);
        try {
            std::thread(GuardLoop, fds[0]).detach();
            guardPipe = fds[1];
        } catch (const std::exception&) {
            close(fds[0]);
            close(fds[1]);
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    });
}

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
    fs::permissions(
        partial, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read,
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

void SystemdService::SetStatus(const std::string& text) {
    if (requests_) Notify("STATUS=" + text);
}

void SystemdService::InstallSignalHandlers() {
    if (handlersInstalled_) return;
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("Cannot create the request pipe");
    signalPipe = pipe_[1];
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { ReadSignals(); });

    struct sigaction action {};
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
        if (signo == SIGTERM || signo == SIGINT) Poke(guardPipe, GuardTaken);
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
    if (!requests_ || !(controls_ & AcceptPauseContinue)) {
        telwick::platform::SetPauseRequested(false);  // not accepted: the checks go on
        return;
    }
    if (requests_->OnPause()) Notify("STATUS=" + requests_->StatusText());
}

void SystemdService::RaiseContinue() {
    if (!requests_ || !(controls_ & AcceptPauseContinue)) return;
    if (requests_->OnContinue()) Notify("STATUS=" + requests_->StatusText());
}

void SystemdService::Notify(const std::string& state) { systemd::Notify(notifySocket_, state); }

}  // namespace telwick::service
