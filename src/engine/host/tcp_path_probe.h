#pragma once

#include <cstdint>

namespace relaycast {

// What the kernel knows about one TCP connection: the bytes the other end acknowledged (what
// really left on the path) and the bytes still waiting in the socket (sent but unacknowledged,
// or not sent yet). The host's byte count only says what its socket accepted, and a socket
// takes megabytes before a slow path shows in any host figure; the connection itself says what
// left.
struct PathFigures {
    bool known = false;
    uint64_t ackedBytes = 0;
    uint64_t queuedBytes = 0;
};

// The figures of this process's socket `fd`, as long as it is still the socket with `inode`
// (the host may have closed it and the number been reused: then unknown, never another
// connection's figures). Unknown outside Linux. Any thread.
PathFigures pathFiguresOf(int fd, uint64_t inode);

} // namespace relaycast
