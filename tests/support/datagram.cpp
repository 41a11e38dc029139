#include "support/datagram.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <stdexcept>

namespace telwick::test {

namespace {

// The time left until end, in whole milliseconds.
std::chrono::milliseconds Left(std::chrono::steady_clock::time_point end) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
}

}  // namespace

DatagramListener::DatagramListener(const std::string& path) : path_(path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(addr.sun_path)) throw std::runtime_error("bad socket path " + path);
    const bool abstract = path[0] == '@';
    std::memcpy(addr.sun_path, path.data(), path.size());
    if (abstract) addr.sun_path[0] = '\0';  // an abstract name: no file
    if (!abstract) unlink(path.c_str());
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error("socket failed");
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + (abstract ? 0 : 1));
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), length) != 0) {
        close(fd_);
        throw std::runtime_error("cannot bind " + path);
    }
}

DatagramListener::~DatagramListener() { Close(); }

void DatagramListener::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

std::optional<std::string> DatagramListener::Receive(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (auto d = ReceiveQueued()) return d;
        const auto left = Left(end);
        if (fd_ < 0 || left.count() <= 0) return std::nullopt;
        pollfd p{fd_, POLLIN, 0};
        poll(&p, 1, static_cast<int>(left.count()));
    }
}

std::optional<std::string> DatagramListener::ReceiveQueued() {
    if (fd_ < 0) return std::nullopt;
    ssize_t n = recv(fd_, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
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
            pollfd p{listener_.fd(), POLLIN, 0};
            poll(&p, 1, 20);
            std::lock_guard<std::mutex> lock(mutex_);
            if (!paused_) ReadQueued();
        }
    });
}

DatagramCollector::~DatagramCollector() {
    stop_ = true;
    reader_.join();
    listener_.Close();
    if (path().rfind('@', 0) != 0) unlink(path().c_str());
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
