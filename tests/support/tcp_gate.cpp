#include "tcp_gate.h"

#include <algorithm>
#include <chrono>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace relaycast::test {
namespace {

constexpr int kPollMs = 50;
// While a throttled connection waits for its allowance it looks again this often.
constexpr int kThrottledPollMs = 5;
// A throttled connection may pass at most this much of its rate in one go.
constexpr double kBurstSeconds = 0.1;
constexpr size_t kChunkBytes = 16384;
// What a relayed connection holds on the way in, like a router on a path: little, so what a
// throttled path does not take waits in the sender's socket, not here.
constexpr int kReceiveBufferBytes = 16384;
// The segment size of an Ethernet path rather than loopback's 64 KiB, so a throttled connection
// is acknowledged in small steps, as on a network, not in a few bursts a second.
constexpr int kSegmentBytes = 1448;

sockaddr_in loopbackAddress(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// Copies at most `most` readable bytes from `from` to `to`; how many, or 0 when `from`
// closed or either failed.
size_t pass(int from, int to, size_t most = kChunkBytes) {
    char buffer[kChunkBytes];
    const ssize_t got = ::recv(from, buffer, std::min(most, sizeof buffer), 0);
    if (got <= 0)
        return 0;
    ssize_t sent = 0;
    while (sent < got) {
        const ssize_t n = ::send(to, buffer + sent, size_t(got - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return 0;
        sent += n;
    }
    return size_t(got);
}

} // namespace

TcpGate::TcpGate(uint16_t targetPort, Mode mode, int delayMs)
    : targetPort_(targetPort), mode_(mode), delayMs_(delayMs) {}

TcpGate::~TcpGate() {
    stopping_ = true;
    cut();
    if (acceptor_.joinable())
        acceptor_.join();
    for (std::thread& t : threads_)
        t.join();
    if (listener_ >= 0)
        ::close(listener_);
}

bool TcpGate::start() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        return false;
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Set before listening, so every accepted connection has it from its first byte.
    ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes,
                 sizeof kReceiveBufferBytes);
    ::setsockopt(listener_, IPPROTO_TCP, TCP_MAXSEG, &kSegmentBytes, sizeof kSegmentBytes);
    sockaddr_in addr = loopbackAddress(0);
    socklen_t len = sizeof addr;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return false;
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
    return true;
}

void TcpGate::cut() {
    std::lock_guard guard(lock_);
    ++generation_;
    // shutdown() wakes the relaying threads; each closes its own descriptors.
    for (int fd : open_)
        ::shutdown(fd, SHUT_RDWR);
}

void TcpGate::track(int fd) {
    std::lock_guard guard(lock_);
    open_.push_back(fd);
}

void TcpGate::untrack(int fd) {
    std::lock_guard guard(lock_);
    open_.erase(std::remove(open_.begin(), open_.end(), fd), open_.end());
}

void TcpGate::acceptLoop() {
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, kPollMs) <= 0)
            continue;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        ++accepted_;
        track(client);
        const int generation = generation_;
        std::lock_guard guard(lock_);
        threads_.emplace_back([this, client, generation] { relay(client, generation); });
    }
}

void TcpGate::relay(int client, int generation) {
    const auto alive = [&] { return !stopping_ && generation_ == generation; };
    // The mode and delay of the moment the connection came in.
    const bool silent = mode_ == Mode::Silent;
    const auto answerAt =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(int(delayMs_));
    int server = -1;
    while (alive() && (silent || std::chrono::steady_clock::now() < answerAt)) {
        pollfd closed{client, POLLRDHUP, 0};
        if (::poll(&closed, 1, kPollMs) > 0 && (closed.revents & (POLLRDHUP | POLLHUP | POLLERR)))
            break;
    }
    if (alive() && !silent) {
        server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in target = loopbackAddress(targetPort_);
        if (server >= 0 &&
            ::connect(server, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
            track(server);
            pump(client, server, alive);
            untrack(server);
        }
    }
    if (server >= 0)
        ::close(server);
    untrack(client);
    ::close(client);
}

void TcpGate::pump(int client, int server, const std::function<bool()>& alive) {
    using Clock = std::chrono::steady_clock;
    // A token bucket in bytes for the client's side, filled at the limit of the moment.
    double allowance = 0;
    Clock::time_point filledAt = Clock::now();
    while (alive()) {
        const int64_t limit = upstreamBps_;
        size_t budget = kChunkBytes;
        if (limit >= 0) {
            const Clock::time_point now = Clock::now();
            const double bytesPerSecond = double(limit) / 8.0;
            allowance = std::min(
                allowance + bytesPerSecond * std::chrono::duration<double>(now - filledAt).count(),
                bytesPerSecond * kBurstSeconds);
            filledAt = now;
            budget = size_t(allowance);
        } else {
            allowance = 0;
            filledAt = Clock::now();
        }
        pollfd both[2] = {{client, short(budget > 0 ? POLLIN : 0), 0}, {server, POLLIN, 0}};
        if (::poll(both, 2, budget > 0 ? kPollMs : kThrottledPollMs) <= 0)
            continue;
        if (budget == 0 && (both[0].revents & (POLLHUP | POLLERR)))
            break;
        if (budget > 0 && both[0].revents) {
            const size_t passed = pass(client, server, budget);
            if (passed == 0)
                break;
            forwarded_ += passed;
            if (limit >= 0)
                allowance -= double(passed);
        }
        if (both[1].revents && pass(server, client) == 0)
            break;
    }
}

} // namespace relaycast::test
