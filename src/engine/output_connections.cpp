#include "engine/output_connections.h"

#include "engine/connection_attempt.h"
#include "engine/engine_clock.h"

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
// The host's RTMP output loads its certificates before it opens its socket: tens of
// milliseconds. Starts to one server port made together (a restart of every destination, say)
// share one such wait, so the interface thread never waits longer, however many there are.
constexpr auto kOpeningWait = std::chrono::milliseconds(100);
constexpr auto kOpeningPoll = std::chrono::milliseconds(2);
// The outputs still looking for their sockets share one scan per heartbeat.
constexpr int64_t kScanSharedNs = 250LL * 1000 * 1000;

} // namespace

// Every followed output, under one lock. Never destroyed: output ports may still go on
// detached host call threads while the process ends.
struct ConnectionRegistry {
    std::mutex lock;
    std::set<OutputConnection*> outputs;
    // By server port: until when the starts made together may wait for each other's sockets.
    std::map<uint16_t, std::chrono::steady_clock::time_point> startsWaitUntil;
    std::vector<TcpConnection> lastScan;
    int64_t lastScanNs = 0;

    static ConnectionRegistry& instance() {
        static ConnectionRegistry& registry = *new ConnectionRegistry;
        return registry;
    }

    const std::vector<TcpConnection>& scan(bool fresh) {
        const int64_t nowNs = steadyClock().nowNs();
        if (fresh || lastScanNs == 0 || nowNs - lastScanNs > kScanSharedNs) {
            lastScan = scanTcpConnections();
            lastScanNs = nowNs;
        }
        return lastScan;
    }

    // Finds the sockets of the followed outputs that have none yet, among `sockets`.
    void attribute(const std::vector<TcpConnection>& sockets) {
        const int64_t nowNs = steadyClock().nowNs();
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
                const int64_t since = output->connectedNs_;
                e.connected = since != 0 && nowNs - since <= kFindWithinNs;
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

    // Whether another followed output whose sockets could be taken for those of `self` is
    // still opening its connection: its attempt under way, nothing of it connected or found,
    // and no socket to its server new since it began.
    bool anotherOpening(const OutputConnection& self, const std::vector<TcpConnection>& sockets) {
        for (const OutputConnection* other : outputs) {
            if (other == &self || !other->attempt_ || !other->attempt_->underWay() ||
                other->threads_.empty() || other->found_.socket.inode != 0 ||
                other->connectedNs_ != 0 || other->server_.port != self.server_.port)
                continue;
            const bool opened =
                std::any_of(sockets.begin(), sockets.end(), [&](const TcpConnection& c) {
                    return reaches(c.socket.remote, other->server_) &&
                           !other->before_.contains(c.socket.inode);
                });
            if (!opened)
                return true;
        }
        return false;
    }

    int abort() {
#ifdef __linux__
        std::lock_guard guard(lock);
        const std::vector<TcpConnection>& now = scan(true);
        attribute(now);
        int aborted = 0;
        for (const OutputConnection* output : outputs) {
            const TcpConnection& found = output->found_;
            // Found as the only new one while connected: only while it still is.
            if (found.socket.inode == 0 || (!output->foundInCall_ && output->connectedNs_ == 0))
                continue;
            for (const TcpConnection& c : now) {
                // The same descriptor, still the same socket between the same two ends.
                if (c.fd == found.fd && c.socket.inode == found.socket.inode &&
                    c.socket.local == found.socket.local &&
                    c.socket.remote == found.socket.remote && socketInode(c.fd) == c.socket.inode &&
                    ::shutdown(c.fd, SHUT_RDWR) == 0)
                    ++aborted;
            }
        }
        return aborted;
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
    std::unique_lock guard(registry.lock);
    if (server_.port == 0)
        return;
    connectedNs_ = 0;
    found_ = {};
    foundInCall_ = false;
    threads_.clear();
    // Two attempts to one server opening their sockets at the same time could not be told
    // apart: this one opens its socket after the other did.
    registry.attribute(registry.scan(true));
    auto& until = registry.startsWaitUntil[server_.port];
    if (const auto now = std::chrono::steady_clock::now(); now >= until + kOpeningWait)
        until = now + kOpeningWait;
    while (registry.anotherOpening(*this, registry.lastScan) &&
           std::chrono::steady_clock::now() < until) {
        guard.unlock();
        std::this_thread::sleep_for(kOpeningPoll);
        guard.lock();
        registry.attribute(registry.scan(true));
    }
    before_.clear();
    for (const TcpConnection& connection : registry.lastScan)
        before_.insert(connection.socket.inode);
    threadsBefore_ = threadNumbers();
}

void OutputConnection::endStart(bool accepted) {
    ConnectionRegistry& registry = ConnectionRegistry::instance();
    std::lock_guard guard(registry.lock);
    if (server_.port == 0 || !accepted)
        return;
    for (int tid : threadNumbers()) {
        if (!threadsBefore_.contains(tid)) {
            if (const ThreadId thread = threadNamed(tid); thread.tid != 0)
                threads_.push_back(thread);
        }
    }
    threadsBefore_.clear();
}

void OutputConnection::noteConnected() {
    connectedNs_ = steadyClock().nowNs();
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
    if (found_.socket.inode == 0 && since != 0 && steadyClock().nowNs() - since <= kFindWithinNs)
        registry.attribute(registry.scan(false));
    return pathFiguresOf(found_.fd, found_.socket.inode);
}

int abortOutputConnections() {
    return ConnectionRegistry::instance().abort();
}

} // namespace relaycast
