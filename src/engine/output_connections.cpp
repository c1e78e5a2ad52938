#include "engine/output_connections.h"

#include "engine/tcp_path_probe.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <arpa/inet.h>
#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace relaycast {
namespace {

std::mutex g_lock;
std::map<const void*, TcpEndpoint> g_watched;

// The kernel prints each 32-bit word of an address as the number it reads from memory, so the
// word's bytes in memory are the address's bytes in network order.
QByteArray addressFromHex(const std::string& hex) {
    if (hex.size() != 8 && hex.size() != 32)
        return {};
    QByteArray bytes;
    for (size_t word = 0; word < hex.size(); word += 8) {
        char* end = nullptr;
        const std::string digits = hex.substr(word, 8);
        const auto value = static_cast<uint32_t>(std::strtoul(digits.c_str(), &end, 16));
        if (end != digits.c_str() + digits.size())
            return {};
        char raw[4];
        std::memcpy(raw, &value, sizeof raw);
        bytes.append(raw, sizeof raw);
    }
    return bytes;
}

// An IPv4 address as an IPv6 socket shows it (::ffff:a.b.c.d), as its four bytes.
QByteArray unmappedV4(const QByteArray& address) {
    static const QByteArray prefix = QByteArray(10, '\0') + QByteArray(2, '\xff');
    return address.size() == 16 && address.startsWith(prefix) ? address.right(4) : address;
}

#ifndef _WIN32
QByteArray readWhole(const char* path) {
    std::ifstream file(path);
    if (!file)
        return {};
    std::ostringstream text;
    text << file.rdbuf();
    return QByteArray::fromStdString(text.str());
}

// This process's sockets: inode -> descriptor.
std::map<uint64_t, int> ownSockets() {
    std::map<uint64_t, int> sockets;
    DIR* folder = opendir("/proc/self/fd");
    if (!folder)
        return sockets;
    while (const dirent* item = readdir(folder)) {
        const std::string fd = item->d_name;
        if (fd.empty() || fd[0] == '.')
            continue;
        const int number = std::atoi(fd.c_str());
        if (const uint64_t inode = socketInode(number); inode != 0)
            sockets.emplace(inode, number);
    }
    closedir(folder);
    return sockets;
}
#endif

} // namespace

TcpEndpoint tcpEndpointOf(const QString& url) {
    const ServerEndpoint server = serverEndpoint(url);
    TcpEndpoint endpoint;
    endpoint.port = server.port;
#ifndef _WIN32
    const QByteArray host = server.host.toUtf8();
    unsigned char bytes[16] = {};
    if (inet_pton(AF_INET, host.constData(), bytes) == 1)
        endpoint.address = QByteArray(reinterpret_cast<const char*>(bytes), 4);
    else if (inet_pton(AF_INET6, host.constData(), bytes) == 1)
        endpoint.address = unmappedV4(QByteArray(reinterpret_cast<const char*>(bytes), 16));
#endif
    return endpoint;
}

QList<TcpSocketEntry> parseTcpSocketTable(const QByteArray& text) {
    QList<TcpSocketEntry> entries;
    std::istringstream lines(text.toStdString());
    std::string line;
    std::getline(lines, line); // the heading
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        const std::vector<std::string> fields{std::istream_iterator<std::string>(words), {}};
        if (fields.size() < 10)
            continue;
        const std::string& remote = fields[2];
        const size_t colon = remote.find(':');
        if (colon == std::string::npos)
            continue;
        TcpSocketEntry entry;
        entry.remote.address = unmappedV4(addressFromHex(remote.substr(0, colon)));
        entry.remote.port =
            static_cast<uint16_t>(std::strtoul(remote.substr(colon + 1).c_str(), nullptr, 16));
        entry.state = static_cast<int>(std::strtol(fields[3].c_str(), nullptr, 16));
        entry.inode = std::strtoull(fields[9].c_str(), nullptr, 10);
        if (!entry.remote.address.isEmpty())
            entries.append(entry);
    }
    return entries;
}

bool reachesEndpoint(const TcpEndpoint& remote, const TcpEndpoint& endpoint) {
    if (endpoint.port == 0 || remote.port != endpoint.port)
        return false;
    return endpoint.address.isEmpty() || remote.address == endpoint.address;
}

void watchOutputConnection(const void* owner, const QString& url) {
    const TcpEndpoint endpoint = tcpEndpointOf(url);
    if (endpoint.port == 0)
        return;
    std::lock_guard guard(g_lock);
    g_watched[owner] = endpoint;
}

void unwatchOutputConnection(const void* owner) {
    std::lock_guard guard(g_lock);
    g_watched.erase(owner);
}

int abortWatchedOutputConnections() {
#ifdef _WIN32
    return 0;
#else
    std::vector<TcpEndpoint> endpoints;
    {
        std::lock_guard guard(g_lock);
        for (const auto& [owner, endpoint] : g_watched)
            endpoints.push_back(endpoint);
    }
    if (endpoints.empty())
        return 0;
    constexpr int kEstablished = 1;
    constexpr int kConnecting = 2;
    const std::map<uint64_t, int> own = ownSockets();
    std::set<int> matching;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        for (const TcpSocketEntry& entry : parseTcpSocketTable(readWhole(table))) {
            if (entry.state != kEstablished && entry.state != kConnecting)
                continue;
            const auto fd = own.find(entry.inode);
            if (fd == own.end())
                continue;
            for (const TcpEndpoint& endpoint : endpoints) {
                if (reachesEndpoint(entry.remote, endpoint))
                    matching.insert(fd->second);
            }
        }
    }
    int aborted = 0;
    for (int fd : matching) {
        if (shutdown(fd, SHUT_RDWR) == 0)
            ++aborted;
    }
    return aborted;
#endif
}

} // namespace relaycast
