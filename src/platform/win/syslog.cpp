// The application event log on Windows: ReportEventW under the source
// "Telwick". The texts of the entries come from the message table compiled
// into the program (messages.mc): every entry number the program writes has a
// message there that is just its one insertion string, so Event Viewer shows
// the text as written. The event source is registered by "-install" and by
// the installer; without it the entry is still written, only Event Viewer
// cannot find its text.
// An entry the event log does not take (no event log service, a refusal)
// becomes one line on standard error, "Telwick[" + number + "]: " + text with
// its control characters written out, and counts as written, as on Linux.
// With $TELWICK_SYSLOG_SOCKET set to udp:HOST:PORT every entry also goes there
// as one RFC 5424 datagram, the form the Linux program sends to its socket
// (facility daemon, APP-NAME Telwick, MSGID the number): for a syslog
// collector, and for tests, since Wine's event log keeps nothing.
#include "platform/syslog.h"

// <winsock2.h> before <windows.h>.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/consoleline.h"
#include "platform/win/wide.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>

namespace telwick::platform {

namespace {

// ReportEventW refuses an insertion string longer than this (in UTF-16 units).
constexpr size_t MaxInsertion = 31839;

WORD EntryType(int16_t type) {
    switch (type) {
    case EventError: return EVENTLOG_ERROR_TYPE;
    case 2: return EVENTLOG_WARNING_TYPE;
    default: return EVENTLOG_INFORMATION_TYPE;
    }
}

class EventSource {
public:
    ~EventSource() {
        if (handle_) DeregisterEventSource(handle_);
    }

    bool Report(int16_t type, int32_t number, const std::string& text) {
        std::wstring wide = win::Widen(text);
        if (wide.size() > MaxInsertion) {
            // Cut, not refused: an overlong text is still logged. A surrogate
            // pair is never split.
            size_t cut = MaxInsertion;
            if (IS_HIGH_SURROGATE(wide[cut - 1])) --cut;
            wide.resize(cut);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (!handle_) handle_ = RegisterEventSourceW(nullptr, L"Telwick");
        if (!handle_) return false;
        LPCWSTR strings[] = {wide.c_str()};
        if (ReportEventW(handle_, EntryType(type), 0, static_cast<DWORD>(number), nullptr, 1, 0, strings, nullptr))
            return true;
        // The event log service may have been restarted: register afresh once.
        DeregisterEventSource(handle_);
        handle_ = RegisterEventSourceW(nullptr, L"Telwick");
        return handle_ &&
               ReportEventW(handle_, EntryType(type), 0, static_cast<DWORD>(number), nullptr, 1, 0, strings, nullptr);
    }

private:
    std::mutex mutex_;
    HANDLE handle_ = nullptr;
};

EventSource& Source() {
    static EventSource source;
    return source;
}

constexpr int FacilityDaemon = 3;
// A datagram longer than this is cut (the event log's own limit is shorter).
constexpr size_t MaxRecord = 64 * 1024 - 512;

int Severity(int16_t type) { return type == EventError ? 3 : (type == 2 ? 4 : 6); }

class SyslogCopy {
public:
    ~SyslogCopy() {
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
    }

    // Sends the entry when $TELWICK_SYSLOG_SOCKET names udp:HOST:PORT.
    void Send(int16_t type, int32_t number, const std::string& text) {
        const char* env = std::getenv("TELWICK_SYSLOG_SOCKET");
        if (!env || std::string_view(env).substr(0, 4) != "udp:") return;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!Connect(env + 4)) return;
        std::string record = "<" + std::to_string(FacilityDaemon * 8 + Severity(type)) + ">1 " + Stamp() + " " +
                             HostName() + " Telwick " + std::to_string(GetCurrentProcessId()) + " " +
                             std::to_string(number) + " - ";
        size_t room = MaxRecord > record.size() ? MaxRecord - record.size() : 0;
        if (text.size() <= room) {
            record += text;
        } else {
            while (room > 0 && (static_cast<unsigned char>(text[room]) & 0xC0) == 0x80) --room;
            record.append(text, 0, room);
        }
        send(socket_, record.data(), static_cast<int>(record.size()), 0);
    }

private:
    bool Connect(const std::string& address) {
        if (socket_ != INVALID_SOCKET && address == address_) return true;
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
        socket_ = INVALID_SOCKET;
        static const bool started = [] {
            WSADATA data;
            return WSAStartup(MAKEWORD(2, 2), &data) == 0;
        }();
        const size_t colon = address.rfind(':');
        if (!started || colon == std::string::npos) return false;
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(address.substr(0, colon).c_str(), address.substr(colon + 1).c_str(), &hints, &found) != 0)
            return false;
        SOCKET s = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
        if (s != INVALID_SOCKET && ::connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0) {
            closesocket(s);
            s = INVALID_SOCKET;
        }
        freeaddrinfo(found);
        if (s == INVALID_SOCKET) return false;
        socket_ = s;
        address_ = address;
        return true;
    }

    static std::string Stamp() {
        SYSTEMTIME st;
        FILETIME ft;
        GetSystemTimePreciseAsFileTime(&ft);
        FileTimeToSystemTime(&ft, &st);
        const ULONGLONG ticks = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
        char buf[40];
        std::snprintf(buf, sizeof(buf), "%04u-%02u-%02uT%02u:%02u:%02u.%06uZ", st.wYear, st.wMonth, st.wDay,
                      st.wHour, st.wMinute, st.wSecond, static_cast<unsigned>((ticks / 10) % 1000000));
        return buf;
    }

    // Printable ASCII without blanks, or "-".
    static std::string HostName() {
        char buf[256] = {};
        DWORD size = sizeof(buf) - 1;
        if (!GetComputerNameExA(ComputerNameDnsHostname, buf, &size) || size == 0) return "-";
        std::string name(buf, size);
        for (char& c : name)
            if (c <= 32 || c >= 127) c = '_';
        return name;
    }

    std::mutex mutex_;
    SOCKET socket_ = INVALID_SOCKET;
    std::string address_;
};

SyslogCopy& Copy() {
    static SyslogCopy copy;
    return copy;
}

}  // namespace

bool WriteEventLog(int16_t type, int32_t number, const std::string& text) {
    try {
        Copy().Send(type, number, text);
        if (!Source().Report(type, number, text))
            WriteStandardError("Telwick[" + std::to_string(number) + "]: " + EscapeControlCharacters(text) + "\n");
        return true;
    } catch (...) {
        return false;  // out of memory while building the entry
    }
}

void ReportToOperator(int16_t type, int32_t number, const std::string& text) {
    WriteStandardError("Telwick: " + EscapeControlCharacters(text) + "\n");
    WriteEventLog(type, number, text);
}

}  // namespace telwick::platform
