#include "engine/tcp_path_probe.h"

#include <QUrl>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#ifdef __linux__
#include <arpa/inet.h>
#include <dirent.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace relaycast {
namespace {

constexpr uint16_t kRtmpPort = 1935;
constexpr uint16_t kRtmpsPort = 443;

#ifdef __linux__

// Sockets some probe holds, by inode, so no two destinations read one connection.
std::mutex claimsLock;
std::set<uint64_t>& claimedSockets() {
    static std::set<uint64_t> claimed;
    return claimed;
}

// The server's addresses as the connection would see them (IPv4 ones also as mapped IPv6).
std::vector<sockaddr_storage> resolve(const ServerEndpoint& endpoint) {
    std::vector<sockaddr_storage> found;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(endpoint.host.toUtf8().constData(), nullptr, &hints, &list) != 0)
        return found;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        sockaddr_storage address{};
        std::memcpy(&address, a->ai_addr, std::min<size_t>(a->ai_addrlen, sizeof address));
        found.push_back(address);
    }
    ::freeaddrinfo(list);
    return found;
}

bool sameAddress(const sockaddr_storage& peer, const sockaddr_storage& server) {
    const auto ipv4Of = [](const sockaddr_storage& a, in_addr* out) {
        if (a.ss_family == AF_INET) {
            *out = reinterpret_cast<const sockaddr_in&>(a).sin_addr;
            return true;
        }
        const auto& six = reinterpret_cast<const sockaddr_in6&>(a);
        if (a.ss_family == AF_INET6 && IN6_IS_ADDR_V4MAPPED(&six.sin6_addr)) {
            std::memcpy(out, six.sin6_addr.s6_addr + 12, sizeof *out);
            return true;
        }
        return false;
    };
    in_addr a4{};
    in_addr b4{};
    if (ipv4Of(peer, &a4) && ipv4Of(server, &b4))
        return a4.s_addr == b4.s_addr;
    if (peer.ss_family == AF_INET6 && server.ss_family == AF_INET6)
        return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr,
                           &reinterpret_cast<const sockaddr_in6&>(server).sin6_addr,
                           sizeof(in6_addr)) == 0;
    return false;
}

uint16_t portOf(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
    if (a.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
    return 0;
}

bool connectedTo(int fd, uint16_t port, const std::vector<sockaddr_storage>& servers) {
    int type = 0;
    socklen_t length = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM)
        return false;
    sockaddr_storage peer{};
    length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 || portOf(peer) != port)
        return false;
    for (const sockaddr_storage& server : servers) {
        if (sameAddress(peer, server))
            return true;
    }
    return false;
}

#endif
} // namespace

ServerEndpoint serverEndpoint(const QString& url) {
    const QUrl parsed(url.trimmed(), QUrl::TolerantMode);
    const QString scheme = parsed.scheme().toLower();
    const uint16_t fallback = scheme == QLatin1String("rtmp")    ? kRtmpPort
                              : scheme == QLatin1String("rtmps") ? kRtmpsPort
                                                                 : 0;
    if (fallback == 0 || parsed.host().isEmpty())
        return {};
    return {parsed.host(), static_cast<uint16_t>(parsed.port(fallback))};
}

TcpPathProbe::~TcpPathProbe() {
    release();
}

#ifdef __linux__

// Read from the descriptor's entry in /proc ("socket:[INODE]") rather than with fstat: the scan
// passes every descriptor of the process, and the host's threads close theirs whenever they like.
uint64_t socketInode(int fd) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    char target[64];
    const ssize_t length = ::readlink(path, target, sizeof target - 1);
    if (length <= 0)
        return 0;
    target[length] = '\0';
    unsigned long long inode = 0;
    if (std::sscanf(target, "socket:[%llu]", &inode) != 1)
        return 0;
    return inode;
}

bool TcpPathProbe::find(const QString& url) {
    release();
    const ServerEndpoint endpoint = serverEndpoint(url);
    if (endpoint.port == 0)
        return false;
    const std::vector<sockaddr_storage> servers = resolve(endpoint);
    if (servers.empty())
        return false;
    DIR* fds = ::opendir("/proc/self/fd");
    if (!fds)
        return false;
    int match = -1;
    uint64_t matchInode = 0;
    int matches = 0;
    {
        // Held over the scan and the claim, so two probes never take one connection.
        std::lock_guard guard(claimsLock);
        while (const dirent* entry = ::readdir(fds)) {
            char* end = nullptr;
            const long fd = std::strtol(entry->d_name, &end, 10);
            if (end == entry->d_name || *end != '\0' || fd == ::dirfd(fds))
                continue;
            const uint64_t inode = socketInode(static_cast<int>(fd));
            if (inode == 0 || claimedSockets().contains(inode) ||
                !connectedTo(static_cast<int>(fd), endpoint.port, servers))
                continue;
            ++matches;
            match = static_cast<int>(fd);
            matchInode = inode;
        }
        if (matches == 1)
            claimedSockets().insert(matchInode);
    }
    ::closedir(fds);
    if (matches != 1)
        return false;
    std::lock_guard mine(lock_);
    fd_ = match;
    inode_ = matchInode;
    return true;
}

void TcpPathProbe::release() {
    std::lock_guard mine(lock_);
    if (fd_ < 0)
        return;
    {
        std::lock_guard guard(claimsLock);
        claimedSockets().erase(inode_);
    }
    fd_ = -1;
    inode_ = 0;
}

PathFigures TcpPathProbe::figures() const {
    std::lock_guard mine(lock_);
    // The host may have closed its socket and the number been reused: only the same inode
    // is the same connection.
    if (fd_ < 0 || socketInode(fd_) != inode_)
        return {};
    tcp_info info{};
    socklen_t length = sizeof info;
    int queued = 0;
    if (::getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked ||
        ::ioctl(fd_, SIOCOUTQ, &queued) != 0)
        return {};
    return {true, info.tcpi_bytes_acked, static_cast<uint64_t>(std::max(queued, 0))};
}

#else

uint64_t socketInode(int) {
    return 0;
}

bool TcpPathProbe::find(const QString&) {
    return false;
}

void TcpPathProbe::release() {}

PathFigures TcpPathProbe::figures() const {
    return {};
}

#endif

} // namespace relaycast
