#include "engine/host/output_connections.h"

#include "engine/destinations/connection_attempt.h"

#include <obs-config.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#ifdef __linux__
#include <sys/socket.h>
#endif

namespace relaycast {
namespace {

// Long enough for the output's first heartbeats, short enough that connections opened later
// by others leave its candidates alone.
constexpr int64_t kFindWithinNs = 10LL * 1000 * 1000 * 1000;
// The outputs still looking for their sockets share one scan per heartbeat.
constexpr int64_t kScanSharedNs = 250LL * 1000 * 1000;
// A connecting thread waits on its socket for a round trip or more at a time (its connect, the
// server's greeting, the answers to its commands): looked at every millisecond, it is seen
// unless the server is on this machine and answers at once. After the first seconds a
// connection that is still not up is a stuck one, which the exit looks at again anyway.
constexpr auto kWatchPoll = std::chrono::milliseconds(1);
constexpr int64_t kWatchForNs = 15LL * 1000 * 1000 * 1000;
// How the host names its RTMP output's connecting thread, as the kernel keeps it (15 bytes).
constexpr char kHostConnectThread[] = "rtmp-stream: co";
// From OBS 30 on, that thread connects from threads it makes, one per address of the server,
// racing, and waits for them; before, it connects itself.
constexpr bool kHostRacesConnects = LIBOBS_API_MAJOR_VER >= 30;

int64_t nowNs() {
    // Not the engine clock: the watcher may still run while the process ends.
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// Every followed output, under one lock. Never destroyed: output ports may still go on
// detached host call threads, and the watcher, while the process ends.
struct ConnectionRegistry {
    std::mutex lock;
    std::set<OutputConnection*> outputs;
    std::vector<TcpConnection> lastScan;
    int64_t lastScanNs = 0;
    bool watching = false;

    static ConnectionRegistry& instance() {
        static ConnectionRegistry& registry = *new ConnectionRegistry;
        return registry;
    }

    const std::vector<TcpConnection>& scan(bool fresh) {
        const int64_t now = nowNs();
        if (fresh || lastScanNs == 0 || now - lastScanNs > kScanSharedNs) {
            lastScan = scanTcpConnections();
            lastScanNs = now;
        }
        return lastScan;
    }

    static bool watched(const OutputConnection& output, int64_t now) {
        return output.found_.socket.inode == 0 && !output.bornInStart_.empty() && output.attempt_ &&
               output.attempt_->underWay() && now - output.startedNs_ <= kWatchForNs;
    }

    // Which thread born in `output`'s start is the host's connecting thread. It names itself
    // as soon as it runs, so this is asked again until it has. The host's start makes one,
    // which on newer hosts may already have made its racing threads (named as it is, each in
    // connect to the server). The rest of OBS goes on meanwhile and may make a thread of that
    // name too (OBS's own stream reconnecting): two that are not racing prove nothing.
    void findConnectingThread(OutputConnection& output) {
        if (!output.threads_.empty() || output.bornInStart_.empty())
            return;
        std::vector<ThreadId> named;
        std::vector<ThreadId> waiting; // of those, the ones not in connect to our server
        const std::vector<TcpConnection>& sockets = scan(true);
        for (const ThreadId& thread : output.bornInStart_) {
            if (threadNameOf(thread) != kHostConnectThread)
                continue;
            named.push_back(thread);
            const int fd = blockedDescriptor(thread, true);
            if (std::none_of(sockets.begin(), sockets.end(), [&](const TcpConnection& c) {
                    return fd >= 0 && c.fd == fd && reaches(c.socket.remote, output.server_) &&
                           !output.before_.contains(c.socket.inode);
                }))
                waiting.push_back(thread);
        }
        // Two or more named: on newer hosts the one not in connect with its racing threads, on
        // older ones the one in connect.
        std::vector<ThreadId> inConnect;
        for (const ThreadId& thread : named) {
            if (std::find(waiting.begin(), waiting.end(), thread) == waiting.end())
                inConnect.push_back(thread);
        }
        const std::vector<ThreadId>& connecting = named.size() == 1    ? named
                                                  : kHostRacesConnects ? waiting
                                                                       : inConnect;
        if (connecting.size() == 1)
            output.threads_ = connecting;
    }

    // Under the lock.
    void watchSoon() {
        if (watching)
            return;
        watching = true;
        std::thread([this] { watch(); }).detach();
    }

    void watch() {
        for (;;) {
            std::this_thread::sleep_for(kWatchPoll);
            std::lock_guard guard(lock);
            const int64_t now = nowNs();
            bool any = false;
            bool seen = false;
            for (OutputConnection* output : outputs) {
                if (!watched(*output, now))
                    continue;
                any = true;
                findConnectingThread(*output);
                if (output->threads_.empty())
                    continue;
                const int fd = blockedDescriptor(output->threads_.front());
                const uint64_t inode = fd >= 0 ? socketInode(fd) : 0;
                const std::pair<int, uint64_t> socket{fd, inode};
                auto& seenOn = output->seenWaitingOn_;
                if (inode != 0 && std::find(seenOn.begin(), seenOn.end(), socket) == seenOn.end()) {
                    seenOn.push_back(socket);
                    seen = true;
                }
            }
            if (seen)
                attribute(scan(true));
            if (!any) {
                watching = false;
                return;
            }
        }
    }

    // Finds the sockets of the followed outputs that have none yet, among `sockets`.
    void attribute(const std::vector<TcpConnection>& sockets) {
        const int64_t now = nowNs();
        std::vector<AttemptEvidence> evidence;
        std::vector<OutputConnection*> owners;
        for (OutputConnection* output : outputs) {
            AttemptEvidence e{
                output->server_, output->before_, {}, false, output->found_.socket.inode};
            if (e.inode == 0) {
                for (const ThreadId& thread : output->threads_) {
                    if (const int fd = blockedDescriptor(thread); fd >= 0)
                        e.blockedFds.push_back(fd);
                }
                // Seen a moment ago: only while the descriptor still holds that socket.
                for (const auto& [fd, inode] : output->seenWaitingOn_) {
                    if (socketInode(fd) == inode)
                        e.blockedFds.push_back(fd);
                }
                const int64_t since = output->connectedNs_;
                e.connected = since != 0 && now - since <= kFindWithinNs;
            }
            evidence.push_back(std::move(e));
            owners.push_back(output);
        }
        std::vector<AttemptEvidence*> attempts;
        for (AttemptEvidence& e : evidence)
            attempts.push_back(&e);
        attributeConnections(attempts, sockets);
        for (size_t i = 0; i < owners.size(); ++i) {
            if (owners[i]->found_.socket.inode != 0 || evidence[i].inode == 0)
                continue;
            for (const TcpConnection& connection : sockets) {
                // A scan a moment old: its descriptor must still hold that socket.
                if (connection.socket.inode != evidence[i].inode ||
                    socketInode(connection.fd) != connection.socket.inode)
                    continue;
                owners[i]->found_ = connection;
                owners[i]->foundInCall_ =
                    std::find(evidence[i].blockedFds.begin(), evidence[i].blockedFds.end(),
                              connection.fd) != evidence[i].blockedFds.end();
            }
        }
    }

    // The sockets the racing threads of `output`'s stuck attempt connect on (see
    // abortOutputConnections); none when any thread born since it began could be another's.
    std::vector<TcpConnection> racingSockets(const OutputConnection& output,
                                             const std::vector<TcpConnection>& now) {
        // Racing threads exist only while the connecting thread that made them waits for them,
        // which it goes on doing after a stop at exit, the attempt then told as ended.
        if (!kHostRacesConnects || output.found_.socket.inode != 0 || output.threads_.empty() ||
            threadNameOf(output.threads_.front()) != kHostConnectThread ||
            !waitsOnLock(output.threads_.front()))
            return {};
        std::set<int> connectingThreads;
        for (const OutputConnection* other : outputs) {
            for (const ThreadId& thread : other->threads_)
                connectingThreads.insert(thread.tid);
        }
        std::vector<TcpConnection> racing;
        for (int tid : threadNumbers()) {
            const ThreadId thread = threadNamed(tid);
            if (output.threadsAtBegin_.contains(tid) || connectingThreads.contains(tid) ||
                threadNameOf(thread) != kHostConnectThread)
                continue;
            // A connect elsewhere is another output's racing thread; any other call may be
            // another output's connecting thread, whose racing threads could be on our port.
            const int fd = blockedDescriptor(thread, true);
            if (fd < 0)
                return {};
            const auto socket = std::find_if(now.begin(), now.end(), [&](const TcpConnection& c) {
                return c.fd == fd && c.socket.state == kTcpSynSent &&
                       !output.before_.contains(c.socket.inode);
            });
            if (socket != now.end() && reaches(socket->socket.remote, output.server_))
                racing.push_back(*socket);
        }
        return racing;
    }

    int abort() {
#ifdef __linux__
        std::lock_guard guard(lock);
        const std::vector<TcpConnection>& now = scan(true);
        attribute(now);
        std::vector<TcpConnection> ours;
        for (OutputConnection* output : outputs)
            findConnectingThread(*output);
        for (const OutputConnection* output : outputs) {
            const TcpConnection& found = output->found_;
            // Found as the only new one while connected: only while it still is.
            if (found.socket.inode != 0 && (output->foundInCall_ || output->connectedNs_ != 0))
                ours.push_back(found);
            for (const TcpConnection& racing : racingSockets(*output, now))
                ours.push_back(racing);
        }
        std::set<uint64_t> aborted;
        for (const TcpConnection& found : ours) {
            for (const TcpConnection& c : now) {
                // The same descriptor, still the same socket between the same two ends.
                if (c.fd == found.fd && c.socket.inode == found.socket.inode &&
                    c.socket.local == found.socket.local &&
                    c.socket.remote == found.socket.remote && socketInode(c.fd) == c.socket.inode &&
                    !aborted.contains(c.socket.inode) && ::shutdown(c.fd, SHUT_RDWR) == 0)
                    aborted.insert(c.socket.inode);
            }
        }
        return static_cast<int>(aborted.size());
#else
        return 0;
#endif
    }
};

void attributeConnections(const std::vector<AttemptEvidence*>& attempts,
                          const std::vector<TcpConnection>& connections) {
    std::set<uint64_t> taken;
    for (const AttemptEvidence* a : attempts) {
        if (a->inode != 0)
            taken.insert(a->inode);
    }
    const auto free = [&](const TcpConnection& c, const AttemptEvidence& a) {
        return reaches(c.socket.remote, a.server) && !taken.contains(c.socket.inode);
    };
    const auto take = [&](AttemptEvidence& a, const TcpConnection& c) {
        a.inode = c.socket.inode;
        taken.insert(a.inode);
    };
    for (AttemptEvidence* a : attempts) {
        for (const TcpConnection& c : connections) {
            if (a->inode == 0 && free(c, *a) &&
                std::find(a->blockedFds.begin(), a->blockedFds.end(), c.fd) != a->blockedFds.end())
                take(*a, c);
        }
    }
    // One attempt's socket taken can leave another with a single candidate.
    for (bool changed = true; changed;) {
        changed = false;
        for (AttemptEvidence* a : attempts) {
            if (a->inode != 0 || !a->connected)
                continue;
            const TcpConnection* only = nullptr;
            int candidates = 0;
            for (const TcpConnection& c : connections) {
                if (c.socket.state == kTcpEstablished && !a->before.contains(c.socket.inode) &&
                    free(c, *a)) {
                    only = &c;
                    ++candidates;
                }
            }
            if (candidates == 1) {
                take(*a, *only);
                changed = true;
            }
        }
    }
}

OutputConnection::~OutputConnection() {
    ConnectionRegistry& registry = ConnectionRegistry::instance();
    std::lock_guard guard(registry.lock);
    registry.outputs.erase(this);
}

void OutputConnection::follow(const QString& url, const ConnectionAttempt& attempt) {
    ConnectionRegistry& registry = ConnectionRegistry::instance();
    std::lock_guard guard(registry.lock);
    server_ = tcpEndpointOf(url);
    attempt_ = &attempt;
    if (server_.port != 0)
        registry.outputs.insert(this);
}

void OutputConnection::beginAttempt() {
    ConnectionRegistry& registry = ConnectionRegistry::instance();
    std::lock_guard guard(registry.lock);
    if (server_.port == 0)
        return;
    connectedNs_ = 0;
    found_ = {};
    foundInCall_ = false;
    threads_.clear();
    bornInStart_.clear();
    seenWaitingOn_.clear();
    registry.attribute(registry.scan(true));
    before_.clear();
    for (const TcpConnection& connection : registry.lastScan)
        before_.insert(connection.socket.inode);
    threadsAtBegin_ = threadNumbers();
}

void OutputConnection::endStart(bool accepted) {
    ConnectionRegistry& registry = ConnectionRegistry::instance();
    std::lock_guard guard(registry.lock);
    if (server_.port == 0 || !accepted)
        return;
    for (int tid : threadNumbers()) {
        if (!threadsAtBegin_.contains(tid))
            bornInStart_.push_back(threadNamed(tid));
    }
    startedNs_ = nowNs();
    registry.findConnectingThread(*this);
    registry.watchSoon();
}

void OutputConnection::noteConnected() {
    connectedNs_ = nowNs();
}

void OutputConnection::noteStopped() {
    connectedNs_ = 0;
}

PathFigures OutputConnection::figures() const {
    ConnectionRegistry& registry = ConnectionRegistry::instance();
    std::lock_guard guard(registry.lock);
    if (server_.port == 0)
        return {};
    const int64_t since = connectedNs_;
    if (found_.socket.inode == 0 && since != 0 && nowNs() - since <= kFindWithinNs)
        registry.attribute(registry.scan(false));
    return pathFiguresOf(found_.fd, found_.socket.inode);
}

int abortOutputConnections() {
    return ConnectionRegistry::instance().abort();
}

} // namespace relaycast
