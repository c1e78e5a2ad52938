#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

namespace relaycast {

// The TCP servers the plug-in's host outputs talk to, kept so that at exit the connections of
// outputs that are still stuck can be closed under them. libobs joins an output's connecting
// thread when it stops or releases it, and a connect to a host that drops packets lasts over
// two minutes: closing the socket ends that connect at once, so OBS can exit in bounded time.
// The sockets are the host output's own; nothing else of the plug-in touches them.

// A server address as its sockets show it: port, and the address bytes when the host is a
// literal IPv4 or IPv6 address (empty for a name, whose address only the resolver knows).
struct TcpEndpoint {
    uint16_t port = 0;
    QByteArray address; // 4 or 16 bytes, or empty

    friend bool operator==(const TcpEndpoint&, const TcpEndpoint&) = default;
};

// The endpoint an rtmp:// or rtmps:// address connects to; port 0 for any other address.
TcpEndpoint tcpEndpointOf(const QString& url);

// One line of the kernel's socket table (/proc/net/tcp or tcp6).
struct TcpSocketEntry {
    TcpEndpoint remote;
    int state = 0; // 1 established, 2 connecting (SYN sent), ...
    uint64_t inode = 0;
};

// Parses the kernel's socket table text; lines it cannot read are skipped.
QList<TcpSocketEntry> parseTcpSocketTable(const QByteArray& text);

// Whether a socket to `remote` is one to `endpoint` (for a named host, its port decides).
bool reachesEndpoint(const TcpEndpoint& remote, const TcpEndpoint& endpoint);

// Registers the endpoint of `url` for `owner` while its output exists. Any thread.
void watchOutputConnection(const void* owner, const QString& url);
void unwatchOutputConnection(const void* owner);

// Shuts down this process's TCP sockets that are connecting or connected to a watched endpoint.
// Returns how many. Does nothing where the kernel's socket table cannot be read.
int abortWatchedOutputConnections();

} // namespace relaycast
