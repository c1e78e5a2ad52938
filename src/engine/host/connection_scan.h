#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <set>
#include <vector>

namespace relaycast {

// The plug-in's one look at this process's TCP connections and threads: which descriptor holds
// which connection (both ends and its state), which threads exist, and which socket a thread is
// blocked on. It reads /proc only, never a descriptor: the host's threads open and close theirs
// whenever they like. Linux only; elsewhere every scan is empty. Any thread.
//
// See also output_connections.h (which of these connections are our outputs') and
// tcp_path_probe.h (what one of them says about its path).

// One end of a TCP connection: its address bytes (4 for IPv4, also where an IPv6 socket shows
// it mapped; 16 for IPv6) and its port. An empty address stands for any.
struct TcpEndpoint {
    QByteArray address;
    uint16_t port = 0;

    friend bool operator==(const TcpEndpoint&, const TcpEndpoint&) = default;
};

// The server an rtmp:// or rtmps:// address connects to: its port (1935 and 443 unless given)
// and, when the host is written as an address, that address. A name leaves the address empty:
// only the resolver knows it, and a second look-up may answer another one. Port 0 for any other
// address.
TcpEndpoint tcpEndpointOf(const QString& url);

// Whether a connection whose far end is `remote` goes to `server` (for a named server, its port
// decides).
bool reaches(const TcpEndpoint& remote, const TcpEndpoint& server);

// The kernel's TCP states that matter here.
inline constexpr int kTcpEstablished = 1;
inline constexpr int kTcpSynSent = 2;

// One line of the kernel's socket table (/proc/net/tcp or tcp6).
struct TcpSocketEntry {
    TcpEndpoint local;
    TcpEndpoint remote;
    int state = 0;
    uint64_t inode = 0;
};

// Parses the kernel's socket table text; lines it cannot read are skipped.
QList<TcpSocketEntry> parseTcpSocketTable(const QByteArray& text);

// A TCP socket of this process with the descriptor that holds it.
struct TcpConnection {
    int fd = -1;
    TcpSocketEntry socket;
};

// This process's TCP sockets, by descriptor.
std::vector<TcpConnection> scanTcpConnections();

// The inode of this process's socket `fd`; 0 when `fd` is not a socket.
uint64_t socketInode(int fd);

// A thread of this process, told apart from a later one that got its number.
struct ThreadId {
    int tid = 0;
    uint64_t startTicks = 0;

    friend bool operator==(const ThreadId&, const ThreadId&) = default;
};

// The numbers of this process's threads right now.
std::set<int> threadNumbers();
// The thread with number `tid` as it is now; tid 0 when there is none.
ThreadId threadNamed(int tid);

// The name `thread` has now, as the kernel keeps it (its first 15 bytes); empty when it ended.
QByteArray threadNameOf(const ThreadId& thread);

// The descriptor `thread` is blocked on in a call that takes one first (connect, send, receive,
// read, write; with `connectOnly`, connect alone); -1 when it is in no such call, runs, or has
// ended.
int blockedDescriptor(const ThreadId& thread, bool connectOnly = false);

// Whether `thread` waits on a lock (futex), as a thread waiting for others does.
bool waitsOnLock(const ThreadId& thread);

// The parsers behind the two above: a thread's "syscall" line and its "stat" line.
int blockedDescriptorOf(const QByteArray& syscallLine, bool connectOnly = false);
uint64_t startTicksOf(const QByteArray& statLine);

} // namespace relaycast
