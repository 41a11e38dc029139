// The far end of a datagram socket, as the tests play it: the system logger,
// the service manager's notify socket. On Linux a Unix datagram socket; on
// Windows a UDP port on the loopback.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace telwick::test {

// A datagram socket bound at a path (a leftover file there is removed first),
// or at an abstract name when the path starts with '@'; or, given
// "udp:HOST:PORT", a UDP socket there (port 0: a free one). On Windows every
// other path means "udp:127.0.0.1:0". path() names the socket as a sender
// reaches it (with the port it got). Throws when it cannot bind.
class DatagramListener {
public:
    explicit DatagramListener(const std::string& path);
    ~DatagramListener();
    DatagramListener(const DatagramListener&) = delete;
    DatagramListener& operator=(const DatagramListener&) = delete;
    const std::string& path() const { return path_; }
    // The socket (a SOCKET on Windows), -1 once closed.
    std::intptr_t fd() const { return fd_; }
    // Stops listening; the socket file stays, with nobody behind it.
    void Close();

    // The next datagram, waited for up to timeout.
    std::optional<std::string> Receive(std::chrono::milliseconds timeout);
    // Waits up to timeout for a datagram to read; true when one is there.
    bool WaitReadable(std::chrono::milliseconds timeout);
    // A datagram already queued, without waiting.
    std::optional<std::string> ReceiveQueued();
    // Every datagram that arrives within 50 ms after the last one (the first one
    // waited for up to firstWait).
    std::vector<std::string> Drain(std::chrono::milliseconds firstWait = std::chrono::milliseconds(200));
    // Waits until count datagrams arrived in all (or the deadline passed).
    std::vector<std::string> WaitFor(size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // The first datagram from now on that holds the text, or nothing.
    std::optional<std::string> WaitForText(const std::string& text,
                                           std::chrono::milliseconds deadline = std::chrono::seconds(20));

private:
    std::string path_;
    std::intptr_t fd_ = -1;
    std::vector<char> buffer_ = std::vector<char>(1 << 20);
};

// A listener that reads on a thread of its own and keeps every datagram, so
// that a sender may send more than the socket queues. It can be told to stop
// reading (its queue then fills up).
class DatagramCollector {
public:
    explicit DatagramCollector(const std::string& path);
    ~DatagramCollector();
    const std::string& path() const { return listener_.path(); }
    void Pause(bool paused) { paused_ = paused; }
    // Every datagram sent so far: what is still queued is read first (unless
    // paused), so a datagram sent before the call is in the answer.
    std::vector<std::string> Datagrams();

private:
    void ReadQueued();  // with mutex_ held
    DatagramListener listener_;
    std::atomic<bool> stop_{false}, paused_{false};
    std::mutex mutex_;
    std::vector<std::string> datagrams_;
    std::thread reader_;
};

}  // namespace telwick::test
