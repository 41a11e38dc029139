// The application event log of this platform: the system's logger, in the form
// it understands. Where the journal runs, a native journal entry; otherwise the
// local form of syslog(3) on /dev/log; with $TELWICK_SYSLOG_SOCKET set, one
// RFC 5424 record to that socket. A socket of our own stays connected between
// entries, so an entry costs one send; it is reopened when the socket path
// changes or a send finds the logger gone. A logger that is missing, refuses
// the entry or stalls past the bound gets nothing: the entry becomes one line
// on standard error instead, and counts as written.
#include "platform/syslog.h"

#include "platform/consoleline.h"
#include "platform/lifecycle.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
// An entry names no source file or line of ours.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

namespace telwick::platform {

namespace {

constexpr const char* DevLog = "/dev/log";
// Where journald takes native entries (libsystemd always sends there).
constexpr const char* JournalSocket = "/run/systemd/journal/socket";
constexpr int FacilityDaemon = 3;
// How long a logger that stopped reading is waited for, in all; once it has
// let an entry wait that long, the next entries wait only briefly until one
// goes through again (a burst of events is not held up two seconds a row).
constexpr int SendPatienceMs = 2000;
constexpr int StalledPatienceMs = 100;
// Records on our own sockets longer than this are cut, so that an overlong
// message text is still logged rather than refused by the socket. (The journal
// takes any length.)
constexpr size_t MaxRecord = 64 * 1024;

enum class Outcome { Sent, NoLogger, Failed };

int Severity(int16_t type) { return type == EventError ? 3 : (type == 2 ? 4 : 6); }  // 2: a warning

pid_t ProcessId();

// The journal's socket belongs to libsystemd and blocks while journald does not
// read. A timer aimed at the sending thread interrupts the send after the bound
// (and every 100 ms after that, in case the signal came between two calls).
int BoundSignal() { return SIGRTMIN + 4; }

class SendBound {
public:
    ~SendBound() {
        if (ready_ && pid_ == getpid()) timer_delete(timer_);
    }
    bool Arm(int patienceMs) {
        const pid_t tid = gettid();
        if (!ready_ || tid_ != tid) {                              // a new thread, or a child after fork
            if (ready_ && pid_ == getpid()) timer_delete(timer_);  // a child has no timers
            ready_ = false;
            static const bool handled = [] {
                struct sigaction action {};
                action.sa_handler = [](int) {};
                sigemptyset(&action.sa_mask);
                action.sa_flags = 0;  // no SA_RESTART: the send returns EINTR
                return sigaction(BoundSignal(), &action, nullptr) == 0;
            }();
            if (!handled) return false;
            sigevent event{};
            event.sigev_notify = SIGEV_THREAD_ID;
            event.sigev_signo = BoundSignal();
            event._sigev_un._tid = tid;
            if (timer_create(CLOCK_MONOTONIC, &event, &timer_) != 0) return false;
            ready_ = true;
            tid_ = tid;
            pid_ = getpid();
        }
        itimerspec spec{};
        spec.it_value.tv_sec = patienceMs / 1000;
        spec.it_value.tv_nsec = (patienceMs % 1000) * 1000000L;
        spec.it_interval.tv_nsec = 100 * 1000000L;
        return timer_settime(timer_, 0, &spec, nullptr) == 0;
    }
    void Disarm() {
        itimerspec off{};
        if (ready_) timer_settime(timer_, 0, &off, nullptr);
    }

private:
    timer_t timer_{};
    pid_t tid_ = 0;
    pid_t pid_ = 0;
    bool ready_ = false;
};

class SyslogSink {
public:
    ~SyslogSink() { Disconnect(); }

    bool Write(int16_t type, int32_t number, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        Outcome outcome;
        if (const char* env = std::getenv("TELWICK_SYSLOG_SOCKET"); env && *env) {
            BuildRfc5424(type, number, text);
            outcome = Send(env);
        } else {
            outcome = SendToJournal(type, number, text);
            if (outcome == Outcome::NoLogger) {
                BuildLocal(type, text);
                outcome = Send(DevLog);
            }
        }
        if (outcome != Outcome::Sent) WriteToStderr(number, text);
        if (outcome == Outcome::Sent) stalled_ = false;
        return true;
    }

private:
    // --- the journal --------------------------------------------------------------

    Outcome SendToJournal(int16_t type, int32_t number, const std::string& text) {
        struct stat st {};
        if (stat(JournalSocket, &st) != 0 || !S_ISSOCK(st.st_mode)) return Outcome::NoLogger;
        const std::string fields[] = {
            "MESSAGE=" + text,
            "PRIORITY=" + std::to_string(Severity(type)),
            "SYSLOG_IDENTIFIER=Telwick",
            "SYSLOG_FACILITY=" + std::to_string(FacilityDaemon),
            "SYSLOG_PID=" + std::to_string(ProcessId()),
            "TELWICK_EVENT_ID=" + std::to_string(number),
        };
        iovec vector[std::size(fields)];
        for (size_t i = 0; i < std::size(fields); ++i)
            vector[i] = iovec{const_cast<char*>(fields[i].data()), fields[i].size()};
        const bool bounded = bound_.Arm(Patience());
        const int r = sd_journal_sendv(vector, static_cast<int>(std::size(fields)));
        if (bounded) bound_.Disarm();
        if (r >= 0) return Outcome::Sent;
        if (r == -EINTR) stalled_ = true;
        // A socket with nobody behind it: journald is not running after all.
        if (r == -ECONNREFUSED || r == -ENOENT || r == -ENOTDIR) return Outcome::NoLogger;
        return Outcome::Failed;  // stalled (interrupted at the bound) or refused
    }

    int Patience() const { return stalled_ ? StalledPatienceMs : SendPatienceMs; }

    // --- our own socket -------------------------------------------------------------

    void Disconnect() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        path_.clear();
    }

    // Connects to path, as a datagram socket or, where the logger listens on a
    // stream socket, as a stream; NoLogger when nobody listens there.
    Outcome Connect(const char* path) {
        Disconnect();
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        size_t len = std::strlen(path);
        if (len >= sizeof(addr.sun_path)) return Outcome::Failed;
        std::memcpy(addr.sun_path, path, len + 1);
        for (int type : {SOCK_DGRAM, SOCK_STREAM}) {
            int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
            if (fd < 0) return Outcome::Failed;
            // A stream logger whose backlog is full lets the connection wait: not
            // for longer than the bound. The sends then never block.
            timeval patience{SendPatienceMs / 1000, (SendPatienceMs % 1000) * 1000};
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof(patience));
            int err = 0;
            if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) err = errno;
            if (err == 0 && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) err = errno;
            if (err == 0) {
                fd_ = fd;
                path_ = path;
                stream_ = type == SOCK_STREAM;
                return Outcome::Sent;
            }
            close(fd);
            if (err == EPROTOTYPE) continue;  // a stream socket: connect again as a stream
            return (err == ENOENT || err == ECONNREFUSED || err == ENOTDIR) ? Outcome::NoLogger : Outcome::Failed;
        }
        return Outcome::Failed;
    }

    Outcome Send(const char* path) {
        using Clock = std::chrono::steady_clock;
        if (fd_ >= 0 && path_ != path) Disconnect();
        Clock::time_point deadline{};
        bool waited = false;
        bool reconnected = false;
        if (fd_ < 0) {
            Outcome c = Connect(path);
            if (c != Outcome::Sent) return c;
            reconnected = true;
        }
        // On a stream the record ends with a NUL, as syslog(3) writes it.
        size_t size = record_.size() + (stream_ ? 1 : 0);
        size_t done = 0;
        for (;;) {
            ssize_t n = send(fd_, record_.c_str() + done, size - done, MSG_NOSIGNAL);
            if (n >= 0) {
                done += static_cast<size_t>(n);
                if (done == size) return Outcome::Sent;
                if (!stream_) return Outcome::Sent;  // a datagram goes whole or not at all
                continue;
            }
            int err = errno;
            if (err == EINTR) continue;
            if (err == EAGAIN || err == EWOULDBLOCK) {
                // The logger's queue is full: wait for room, but not for ever.
                if (!waited) {
                    deadline = Clock::now() + std::chrono::milliseconds(Patience());
                    waited = true;
                }
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                // A stop does not wait for the logger.
                if (left <= 0 || StopRequested()) {
                    stalled_ = true;
                    break;
                }
                pollfd p{fd_, POLLOUT, 0};
                int r = poll(&p, 1, static_cast<int>(std::min<long>(left, 50)));
                if (r < 0 && errno != EINTR) break;
                continue;
            }
            // The logger went away or was restarted: connect afresh once (not
            // in the middle of a record on a stream).
            Disconnect();
            if (reconnected || done > 0)
                return (err == ECONNREFUSED || err == ENOTCONN) ? Outcome::NoLogger : Outcome::Failed;
            Outcome c = Connect(path);
            if (c != Outcome::Sent) return c;
            reconnected = true;
            size = record_.size() + (stream_ ? 1 : 0);
        }
        // Given up: a stream that holds half a record is not used again.
        if (stream_ && done > 0) Disconnect();
        return Outcome::Failed;
    }

    // <PRI>1 TIMESTAMP HOSTNAME APP-NAME PROCID MSGID STRUCTURED-DATA MSG
    void BuildRfc5424(int16_t type, int32_t number, const std::string& text) {
        timeval tv{};
        gettimeofday(&tv, nullptr);
        if (tv.tv_sec != stampSecond_ || stamp_.empty()) {
            std::tm tm{};
            time_t sec = tv.tv_sec;
            gmtime_r(&sec, &tm);
            char buf[32];
            std::strftime(buf, sizeof(buf), "%Y-%m-%dT%H:%M:%S", &tm);
            stamp_ = buf;
            stampSecond_ = tv.tv_sec;
            hostname_ = HostName();
        }
        record_.clear();
        record_ += '<';
        AppendNumber(FacilityDaemon * 8 + Severity(type));
        record_ += ">1 ";
        record_ += stamp_;
        char micros[8] = {'.', '0', '0', '0', '0', '0', '0', 'Z'};
        for (int i = 6, us = static_cast<int>(tv.tv_usec); i > 0; --i, us /= 10)
            micros[i] = static_cast<char>('0' + us % 10);
        record_.append(micros, sizeof(micros));
        record_ += ' ';
        record_ += hostname_;
        record_ += " Telwick ";
        AppendNumber(ProcessId());
        record_ += ' ';
        AppendNumber(number);
        record_ += " - ";
        AppendText(text);
    }

    // The local form of syslog(3): <PRI>Mmm dd hh:mm:ss Telwick[PID]: text, the
    // time local and the month's name English whatever the locale.
    void BuildLocal(int16_t type, const std::string& text) {
        static constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        time_t now = time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        char stamp[32];
        std::snprintf(stamp, sizeof(stamp), "%s %2d %02d:%02d:%02d", Months[tm.tm_mon % 12], tm.tm_mday,
                      tm.tm_hour, tm.tm_min, tm.tm_sec);
        record_.clear();
        record_ += '<';
        AppendNumber(FacilityDaemon * 8 + Severity(type));
        record_ += '>';
        record_ += stamp;
        record_ += " Telwick[";
        AppendNumber(ProcessId());
        record_ += "]: ";
        AppendText(text);
    }

    void AppendText(const std::string& text) {
        size_t room = MaxRecord - record_.size();
        if (text.size() <= room) {
            record_.append(text);
            return;
        }
        // Cut at a character boundary, so that a UTF-8 text stays valid.
        size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        record_.append(text, 0, cut);
    }

    void AppendNumber(long value) {
        char buf[24];
        auto [end, ec] = std::to_chars(buf, buf + sizeof(buf), value);
        (void)ec;
        record_.append(buf, end);
    }

    // The host name as RFC 5424 wants it: printable ASCII without blanks, or "-".
    static std::string HostName() {
        char buf[256] = {};
        if (gethostname(buf, sizeof(buf) - 1) != 0 || !buf[0]) return "-";
        std::string name(buf);
        for (char& c : name)
            if (c <= 32 || c >= 127) c = '_';
        return name;
    }

    static void WriteToStderr(int32_t number, const std::string& text) {
        // One entry stays one line.
        WriteStandardError("Telwick[" + std::to_string(number) + "]: " + EscapeControlCharacters(text) + "\n");
    }

    std::mutex mutex_;
    SendBound bound_;
    int fd_ = -1;
    bool stream_ = false;
    bool stalled_ = false;  // the last wait for the logger ran out
    std::string path_;
    std::string record_;
    std::string stamp_;
    std::string hostname_;
    time_t stampSecond_ = 0;
};

// The process id, asked once (and again in a child made by fork).
pid_t cachedPid = 0;

pid_t ProcessId() {
    static const bool registered = [] {
        pthread_atfork(nullptr, nullptr, [] { cachedPid = 0; });
        return true;
    }();
    (void)registered;
    if (cachedPid == 0) cachedPid = getpid();
    return cachedPid;
}

SyslogSink& Sink() {
    static SyslogSink sink;
    return sink;
}

}  // namespace

bool WriteEventLog(int16_t type, int32_t number, const std::string& text) {
    try {
        return Sink().Write(type, number, text);
    } catch (...) {
        return false;  // out of memory while building the entry
    }
}

void ReportToOperator(int16_t type, int32_t number, const std::string& text) {
    WriteStandardError("Telwick: " + EscapeControlCharacters(text) + "\n");
    WriteEventLog(type, number, text);
}

}  // namespace telwick::platform
