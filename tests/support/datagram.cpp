#include "support/datagram.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace telwick::test {

namespace {

// The time left until end, in whole milliseconds.
std::chrono::milliseconds Left(std::chrono::steady_clock::time_point end) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
}

#ifdef _WIN32
struct Winsock {
    Winsock() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
};
void CloseSocket(std::intptr_t s) { closesocket(static_cast<SOCKET>(s)); }
#else
void CloseSocket(std::intptr_t s) { close(static_cast<int>(s)); }
#endif

// A UDP socket at "HOST:PORT" (port 0: a free one); path becomes udp:HOST:PORT
// with the port it got.
std::intptr_t BindUdp(const std::string& where, std::string& path) {
#ifdef _WIN32
    static Winsock winsock;
#endif
    const size_t colon = where.rfind(':');
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (colon == std::string::npos || inet_pton(AF_INET, where.substr(0, colon).c_str(), &addr.sin_addr) != 1)
        throw std::runtime_error("bad UDP address " + where);
    addr.sin_port = htons(static_cast<uint16_t>(std::stoi(where.substr(colon + 1))));
    const auto s = static_cast<std::intptr_t>(socket(AF_INET, SOCK_DGRAM, 0));
    if (s < 0) throw std::runtime_error("socket failed");
    socklen_t length = sizeof addr;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        CloseSocket(s);
        throw std::runtime_error("cannot bind udp:" + where);
    }
#ifdef _WIN32
    u_long nonBlocking = 1;
    ioctlsocket(static_cast<SOCKET>(s), FIONBIO, &nonBlocking);
#endif
    path = "udp:" + where.substr(0, colon) + ":" + std::to_string(ntohs(addr.sin_port));
    return s;
}

}  // namespace

DatagramListener::DatagramListener(const std::string& path) : path_(path) {
    if (path.rfind("udp:", 0) == 0) {
        fd_ = BindUdp(path.substr(4), path_);
        return;
    }
#ifdef _WIN32
    // No Unix sockets here: the loopback stands in for the file.
    fd_ = BindUdp("127.0.0.1:0", path_);
#else
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(addr.sun_path)) throw std::runtime_error("bad socket path " + path);
    const bool abstract = path[0] == '@';
    std::memcpy(addr.sun_path, path.data(), path.size());
    if (abstract) addr.sun_path[0] = '\0';  // an abstract name: no file
    if (!abstract) unlink(path.c_str());
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + (abstract ? 0 : 1));
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0) {
        close(fd);
        throw std::runtime_error("cannot bind " + path);
    }
    fd_ = fd;
#endif
}

DatagramListener::~DatagramListener() { Close(); }

void DatagramListener::Close() {
    if (fd_ >= 0) CloseSocket(fd_);
    fd_ = -1;
}

bool DatagramListener::WaitReadable(std::chrono::milliseconds timeout) {
    fd_set readable;
    FD_ZERO(&readable);
#ifdef _WIN32
    FD_SET(static_cast<SOCKET>(fd_), &readable);
#else
    FD_SET(static_cast<int>(fd_), &readable);
#endif
    timeval tv{};
    tv.tv_sec = static_cast<long>(timeout.count() / 1000);
    tv.tv_usec = static_cast<long>(timeout.count() % 1000 * 1000);
    return select(static_cast<int>(fd_) + 1, &readable, nullptr, nullptr, &tv) > 0;
}

std::optional<std::string> DatagramListener::Receive(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (auto d = ReceiveQueued()) return d;
        const auto left = Left(end);
        if (fd_ < 0 || left.count() <= 0) return std::nullopt;
        WaitReadable(left);
    }
}

std::optional<std::string> DatagramListener::ReceiveQueued() {
    if (fd_ < 0) return std::nullopt;
#ifdef _WIN32
    const int n = recv(static_cast<SOCKET>(fd_), buffer_.data(), static_cast<int>(buffer_.size()), 0);
#else
    const ssize_t n = recv(static_cast<int>(fd_), buffer_.data(), buffer_.size(), MSG_DONTWAIT);
#endif
    if (n < 0) return std::nullopt;
    return std::string(buffer_.data(), static_cast<size_t>(n));
}

std::vector<std::string> DatagramListener::Drain(std::chrono::milliseconds firstWait) {
    std::vector<std::string> out;
    auto wait = firstWait;
    while (auto d = Receive(wait)) {
        out.push_back(std::move(*d));
        wait = std::chrono::milliseconds(50);
    }
    return out;
}

std::vector<std::string> DatagramListener::WaitFor(size_t count, std::chrono::milliseconds deadline) {
    std::vector<std::string> out;
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (out.size() < count) {
        const auto left = Left(end);
        if (left.count() <= 0) break;
        if (auto d = Receive(left)) out.push_back(std::move(*d));
    }
    return out;
}

std::optional<std::string> DatagramListener::WaitForText(const std::string& text,
                                                         std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        const auto left = Left(end);
        if (left.count() <= 0) return std::nullopt;
        auto d = Receive(left);
        if (d && d->find(text) != std::string::npos) return d;
    }
}

DatagramCollector::DatagramCollector(const std::string& path) : listener_(path) {
    reader_ = std::thread([this] {
        while (!stop_) {
            if (paused_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            listener_.WaitReadable(std::chrono::milliseconds(20));
            std::lock_guard<std::mutex> lock(mutex_);
            if (!paused_) ReadQueued();
        }
    });
}

DatagramCollector::~DatagramCollector() {
    stop_ = true;
    reader_.join();
    listener_.Close();
    if (path().rfind('@', 0) != 0 && path().rfind("udp:", 0) != 0) std::remove(path().c_str());
}

std::vector<std::string> DatagramCollector::Datagrams() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!paused_) ReadQueued();
    return datagrams_;
}

void DatagramCollector::ReadQueued() {
    while (auto d = listener_.ReceiveQueued()) datagrams_.push_back(std::move(*d));
}

}  // namespace telwick::test
