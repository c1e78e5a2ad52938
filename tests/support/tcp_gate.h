#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace relaycast::test {

// A TCP port on 127.0.0.1 that stands between a client and a real server, to play servers
// that are slow or dead without touching the real one:
// - Relay: each connection is passed on to the target, after `delayMs` of silence;
// - Silent: connections are accepted and never answered (a server that hangs);
// cut() closes every connection it carries, like a network that drops. A relayed connection
// can be throttled at any time: what the client sends then reaches the server at most at the
// given rate, and at 0 not at all (a path that stalls); replies pass freely.
class TcpGate {
public:
    enum class Mode { Relay, Silent };

    explicit TcpGate(uint16_t targetPort, Mode mode = Mode::Relay, int delayMs = 0);
    ~TcpGate();
    TcpGate(const TcpGate&) = delete;
    TcpGate& operator=(const TcpGate&) = delete;

    // Listens on a free port; false when it cannot.
    bool start();
    uint16_t port() const { return port_; }

    // Applies to connections accepted from now on.
    void setMode(Mode mode) { mode_ = mode; }
    void setDelayMs(int delayMs) { delayMs_ = delayMs; }
    // Closes every open connection (relayed or silent).
    void cut();
    // Connections accepted so far.
    int accepted() const { return accepted_; }
    // Limits what every relayed connection passes from client to server, from now on, to
    // `bitsPerSecond`; 0 stops passing anything, a negative rate lifts the limit.
    void setUpstreamLimit(int64_t bitsPerSecond) { upstreamBps_ = bitsPerSecond; }
    // Bytes passed from clients to the server so far: what the server really received.
    uint64_t forwardedBytes() const { return forwarded_; }

private:
    void acceptLoop();
    void relay(int client, int generation);
    void pump(int client, int server, const std::function<bool()>& alive);
    void track(int fd);
    void untrack(int fd);

    uint16_t targetPort_;
    std::atomic<Mode> mode_;
    std::atomic<int> delayMs_;
    uint16_t port_ = 0;
    int listener_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<int> generation_{0};
    std::atomic<int> accepted_{0};
    std::atomic<int64_t> upstreamBps_{-1};
    std::atomic<uint64_t> forwarded_{0};
    std::mutex lock_;
    std::vector<int> open_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

} // namespace relaycast::test
