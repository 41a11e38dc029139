// The application event log of this platform: one RFC 5424 datagram per entry
// to the local system logger. The socket stays connected between entries, so an
// entry costs one send; it is reopened when the socket path changes or a send
// finds the logger gone.
#include "platform/syslog.h"

#include "platform/consoleline.h"
#include "platform/lifecycle.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
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

constexpr const char* DefaultSocket = "/dev/log";
constexpr int FacilityDaemon = 3;
// How long a logger that stopped reading is waited for, in all.
constexpr int SendPatienceMs = 2000;
// Entries longer than this are cut, so that an overlong message text is still
// logged rather than refused by the socket.
constexpr size_t MaxDatagram = 64 * 1024;

enum class Outcome { Sent, NoLogger, Failed };

pid_t ProcessId();

class SyslogSink {
public:
    ~SyslogSink() { Disconnect(); }

    bool Write(int16_t type, int32_t number, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        const char* env = std::getenv("TELWICK_SYSLOG_SOCKET");
        const char* path = (env && *env) ? env : DefaultSocket;
        if (fd_ >= 0 && path_ != path) Disconnect();

        BuildDatagram(type, number, text);

        Outcome outcome = Send(path);
        if (outcome == Outcome::NoLogger) {
            WriteToStderr(number, text);
            return true;
        }
        return outcome == Outcome::Sent;
    }

private:
    void Disconnect() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        path_.clear();
    }

    // Connects to path; NoLogger when nobody listens there.
    Outcome Connect(const char* path) {
        Disconnect();
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        size_t len = std::strlen(path);
        if (len >= sizeof(addr.sun_path)) return Outcome::Failed;
        std::memcpy(addr.sun_path, path, len + 1);
        int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) return Outcome::Failed;
        if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
            int err = errno;
            close(fd);
            return (err == ENOENT || err == ECONNREFUSED || err == ENOTDIR) ? Outcome::NoLogger
                                                                            : Outcome::Failed;
        }
        fd_ = fd;
        path_ = path;
        return Outcome::Sent;
    }

    Outcome Send(const char* path) {
        using Clock = std::chrono::steady_clock;
        Clock::time_point deadline{};
        bool waited = false;
        bool reconnected = false;
        if (fd_ < 0) {
            Outcome c = Connect(path);
            if (c != Outcome::Sent) return c;
            reconnected = true;
        }
        for (;;) {
            ssize_t n = send(fd_, datagram_.data(), datagram_.size(), MSG_NOSIGNAL);
            if (n >= 0) return Outcome::Sent;
            int err = errno;
            if (err == EINTR) continue;
            if (err == EAGAIN || err == EWOULDBLOCK) {
                // The logger's queue is full: wait for room, but not for ever.
                if (!waited) {
                    deadline = Clock::now() + std::chrono::milliseconds(SendPatienceMs);
                    waited = true;
                }
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                // A stop does not wait for the logger.
                if (left <= 0 || StopRequested()) return Outcome::Failed;
                pollfd p{fd_, POLLOUT, 0};
                int r = poll(&p, 1, static_cast<int>(std::min<long>(left, 50)));
                if (r < 0 && errno != EINTR) return Outcome::Failed;
                continue;
            }
            // The logger went away or was restarted: connect afresh once.
            Disconnect();
            if (reconnected) return (err == ECONNREFUSED || err == ENOTCONN) ? Outcome::NoLogger : Outcome::Failed;
            Outcome c = Connect(path);
            if (c != Outcome::Sent) return c;
            reconnected = true;
        }
    }

    void BuildDatagram(int16_t type, int32_t number, const std::string& text) {
        int severity = type == EventError ? 3 : (type == 2 ? 4 : 6);  // 2: a warning
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
        // <PRI>1 TIMESTAMP HOSTNAME APP-NAME PROCID MSGID STRUCTURED-DATA MSG
        datagram_.clear();
        datagram_ += '<';
        AppendNumber(FacilityDaemon * 8 + severity);
        datagram_ += ">1 ";
        datagram_ += stamp_;
        char micros[8] = {'.', '0', '0', '0', '0', '0', '0', 'Z'};
        for (int i = 6, us = static_cast<int>(tv.tv_usec); i > 0; --i, us /= 10) micros[i] = static_cast<char>('0' + us % 10);
        datagram_.append(micros, sizeof(micros));
        datagram_ += ' ';
        datagram_ += hostname_;
        datagram_ += " Telwick ";
        AppendNumber(ProcessId());
        datagram_ += ' ';
        AppendNumber(number);
        datagram_ += " - ";
        size_t room = MaxDatagram - datagram_.size();
        if (text.size() <= room) {
            datagram_.append(text);
        } else {
            // Cut at a character boundary, so that a UTF-8 text stays valid.
            size_t cut = room;
            while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
            datagram_.append(text, 0, cut);
        }
    }

    void AppendNumber(long value) {
        char buf[24];
        auto [end, ec] = std::to_chars(buf, buf + sizeof(buf), value);
        (void)ec;
        datagram_.append(buf, end);
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
        WriteStandardError("Telwick[" + std::to_string(number) + "]: " + OneLine(text) + "\n");
    }

    std::mutex mutex_;
    int fd_ = -1;
    std::string path_;
    std::string datagram_;
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

}  // namespace telwick::platform
