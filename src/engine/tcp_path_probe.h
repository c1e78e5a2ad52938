#pragma once

#include <QString>

#include <cstdint>
#include <mutex>

namespace relaycast {

// What the kernel knows about one TCP connection: the bytes the other end acknowledged (what
// really left on the path) and the bytes still waiting in the socket (sent but unacknowledged,
// or not sent yet).
struct PathFigures {
    bool known = false;
    uint64_t ackedBytes = 0;
    uint64_t queuedBytes = 0;
};

// The TCP connection a host output opened to its server, found among this process's sockets.
// The host's byte count only says what its socket accepted, and a socket takes megabytes
// before a slow path shows in any host figure; the connection itself says what left.
//
// find() runs on the output's own thread right after the host reports the connection up (it
// may resolve the server's name); figures() on any thread. A socket is claimed by one probe
// at a time, so two destinations to one server do not read the same connection; when more than
// one unclaimed connection matches, none is taken (the figures stay unknown rather than
// possibly someone else's). Only Linux lets a process look at its sockets this way; elsewhere
// nothing is found.
class TcpPathProbe {
public:
    TcpPathProbe() = default;
    ~TcpPathProbe();
    TcpPathProbe(const TcpPathProbe&) = delete;
    TcpPathProbe& operator=(const TcpPathProbe&) = delete;

    // Looks for the one connected TCP socket of this process to the server of `url`
    // (rtmp:// or rtmps://, default ports 1935 and 443). False when there is none or more than
    // one; any connection found before is let go of first.
    bool find(const QString& url);
    // Lets go of the connection.
    void release();
    // The connection's figures; unknown when none was found or the host closed it since.
    PathFigures figures() const;

private:
    mutable std::mutex lock_;
    int fd_ = -1;
    uint64_t inode_ = 0;
};

// The inode of this process's socket `fd`; 0 when `fd` is not a socket (always 0 outside Linux).
// It reads the descriptor's entry in /proc, never the descriptor, which a host thread may be
// closing at that moment.
uint64_t socketInode(int fd);

// The host and port of an rtmp:// or rtmps:// address; port 0 when it is neither.
struct ServerEndpoint {
    QString host;
    uint16_t port = 0;
};
ServerEndpoint serverEndpoint(const QString& url);

} // namespace relaycast
