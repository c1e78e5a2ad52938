#pragma once

#include <cstdint>
#include <vector>

namespace relaycast::test {

// A port on 127.0.0.1 whose server never answers a new connection: its listening queue is kept
// full, so the kernel drops every further connection request and a client's connect() waits
// for minutes, as towards a host that drops packets.
class UnansweredPort {
public:
    UnansweredPort();
    ~UnansweredPort();
    UnansweredPort(const UnansweredPort&) = delete;
    UnansweredPort& operator=(const UnansweredPort&) = delete;

    // 0 when it could not be set up.
    uint16_t port() const { return port_; }
    // A new socket of the caller's knocking on it without waiting (it stays connecting).
    int knock() const;

private:
    int listener_ = -1;
    std::vector<int> fillers_;
    uint16_t port_ = 0;
};

// The TCP state of socket `fd` (TCP_SYN_SENT while it connects); -1 when it has none.
int tcpStateOf(int fd);

} // namespace relaycast::test
