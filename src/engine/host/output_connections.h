#pragma once

#include "engine/host/connection_scan.h"
#include "engine/host/tcp_path_probe.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace relaycast {

class ConnectionAttempt;

// One host output's TCP connection to its server, told apart from every other connection of
// the process: OBS's own stream, other plug-ins' traffic, our other outputs. It serves twice:
// its figures say what the path takes (see CongestionMeter), and at exit it is closed under an
// output whose attempt is stuck (libobs joins the connecting thread when it releases the output,
// and a connect to a host that drops packets lasts over two minutes).
//
// A socket counts as the output's only when that is proven (see attributeConnections); when
// unsure, nothing is taken: the figures stay unknown and nothing is closed. Nobody looks the
// server's name up again: round-robin ingests answer another address each time. The proof is
// the host's connecting thread, the one thread named as the host names it that the output's
// start created: while it connects or greets the server, a watcher sees which socket it waits
// on. Nothing here waits: two of our outputs to one server that connect without that thread
// ever being seen waiting cannot be told apart, and their figures stay unknown.
//
// Threads: follow() and the start calls on the thread that starts the output (the interface
// thread); noteConnected() and noteStopped() on host output threads (they only set a flag);
// figures() on any thread. One lock, over every output's record, is never taken on a host
// output thread; the watcher takes it for a moment every millisecond while an attempt's socket
// is not known, for at most the first seconds of the attempt.
class OutputConnection {
public:
    OutputConnection() = default;
    ~OutputConnection();
    OutputConnection(const OutputConnection&) = delete;
    OutputConnection& operator=(const OutputConnection&) = delete;

    // The output connects to the server of `url` (rtmp:// or rtmps://; any other address is
    // not followed); `attempt` says while it is connecting, and outlives this.
    void follow(const QString& url, const ConnectionAttempt& attempt);
    // Around the host's start of the output: what existed before, and the threads the start
    // created (the host's RTMP output creates its connecting thread there).
    void beginAttempt();
    void endStart(bool accepted);
    // The host reported the output connected, or stopped.
    void noteConnected();
    void noteStopped();
    // What the kernel knows of the connection; unknown until it is found for sure.
    PathFigures figures() const;

private:
    friend struct ConnectionRegistry;

    // Guarded by the registry's lock.
    TcpEndpoint server_;
    const ConnectionAttempt* attempt_ = nullptr;
    std::set<uint64_t> before_;
    std::set<int> threadsAtBegin_;
    std::vector<ThreadId> bornInStart_;
    std::vector<ThreadId> threads_; // the host's connecting thread, once it is known
    int64_t startedNs_ = 0;
    // Sockets (descriptor, inode) the connecting thread was seen waiting on.
    std::vector<std::pair<int, uint64_t>> seenWaitingOn_;
    TcpConnection found_;
    bool foundInCall_ = false; // one of its threads was blocked on it
    // When the host reported the output connected; 0 while it is not.
    std::atomic<int64_t> connectedNs_{0};
};

// Shuts down every socket proven to be one of the followed outputs' (each checked again, by
// descriptor, inode and both addresses, right before). Returns how many. Nothing else of the
// process is touched.
//
// Newer hosts connect from threads their connecting thread creates (one per address of the
// server, racing), and the connecting thread only waits for them. Such a thread is born after
// the start, so nothing ties it to the output but its name (inherited) and its server: a
// connecting socket to the output's server is closed only when every thread with the host's
// connecting name born since the attempt began is either one of our outputs' connecting threads
// or waits in connect on a socket to that server. Another output's connecting thread born
// meanwhile (OBS's own stream starting) makes it unsure, and then nothing is closed.
int abortOutputConnections();

// The rule, as plain data. For every attempt that has no socket yet, a socket to its server no
// other attempt holds is taken when:
// - one of the attempt's own threads is blocked in a call on it; or
// - the host reported the attempt connected (within the last few seconds) and it is the only
//   established connection to the server that did not exist when the attempt began.
struct AttemptEvidence {
    TcpEndpoint server;
    std::set<uint64_t> before;   // sockets that existed when the attempt began
    std::vector<int> blockedFds; // descriptors the attempt's own threads are blocked on
    bool connected = false;
    uint64_t inode = 0; // the attempt's socket; 0 while not known
};
void attributeConnections(const std::vector<AttemptEvidence*>& attempts,
                          const std::vector<TcpConnection>& connections);

} // namespace relaycast
