#include "engine/host/connection_scan.h"

#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#ifdef __linux__
#include <arpa/inet.h>
#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace relaycast {
namespace {

constexpr uint16_t kRtmpPort = 1935;
constexpr uint16_t kRtmpsPort = 443;

// An IPv4 address as an IPv6 socket shows it (::ffff:a.b.c.d), as its four bytes.
QByteArray unmappedV4(const QByteArray& address) {
    static const QByteArray prefix = QByteArray(10, '\0') + QByteArray(2, '\xff');
    return address.size() == 16 && address.startsWith(prefix) ? address.right(4) : address;
}

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
    return unmappedV4(bytes);
}

// "ADDRESS:PORT" of the socket table; port 0 when it cannot be read.
TcpEndpoint endpointFromHex(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos)
        return {};
    TcpEndpoint endpoint{addressFromHex(text.substr(0, colon)), 0};
    if (!endpoint.address.isEmpty())
        endpoint.port = static_cast<uint16_t>(std::strtoul(text.c_str() + colon + 1, nullptr, 16));
    return endpoint;
}

#ifdef __linux__
QByteArray readWhole(const std::string& path) {
    std::ifstream file(path);
    if (!file)
        return {};
    std::ostringstream text;
    text << file.rdbuf();
    return QByteArray::fromStdString(text.str());
}

// The numbered entries of a /proc folder.
std::vector<int> numberedEntries(const char* path) {
    std::vector<int> numbers;
    DIR* folder = ::opendir(path);
    if (!folder)
        return numbers;
    while (const dirent* entry = ::readdir(folder)) {
        char* end = nullptr;
        const long number = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && number >= 0)
            numbers.push_back(static_cast<int>(number));
    }
    ::closedir(folder);
    return numbers;
}

std::string taskFile(int tid, const char* name) {
    return "/proc/self/task/" + std::to_string(tid) + "/" + name;
}
#endif

} // namespace

TcpEndpoint tcpEndpointOf(const QString& url) {
    const QUrl parsed(url.trimmed(), QUrl::TolerantMode);
    const QString scheme = parsed.scheme().toLower();
    const uint16_t fallback = scheme == QLatin1String("rtmp")    ? kRtmpPort
                              : scheme == QLatin1String("rtmps") ? kRtmpsPort
                                                                 : 0;
    if (fallback == 0 || parsed.host().isEmpty())
        return {};
    TcpEndpoint endpoint{{}, static_cast<uint16_t>(parsed.port(fallback))};
#ifdef __linux__
    const QByteArray host = parsed.host().toUtf8();
    unsigned char bytes[16] = {};
    if (::inet_pton(AF_INET, host.constData(), bytes) == 1)
        endpoint.address = QByteArray(reinterpret_cast<const char*>(bytes), 4);
    else if (::inet_pton(AF_INET6, host.constData(), bytes) == 1)
        endpoint.address = unmappedV4(QByteArray(reinterpret_cast<const char*>(bytes), 16));
#endif
    return endpoint;
}

bool reaches(const TcpEndpoint& remote, const TcpEndpoint& server) {
    if (server.port == 0 || remote.port != server.port)
        return false;
    return server.address.isEmpty() || remote.address == server.address;
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
        TcpSocketEntry entry;
        entry.local = endpointFromHex(fields[1]);
        entry.remote = endpointFromHex(fields[2]);
        entry.state = static_cast<int>(std::strtol(fields[3].c_str(), nullptr, 16));
        entry.inode = std::strtoull(fields[9].c_str(), nullptr, 10);
        if (!entry.remote.address.isEmpty() && !entry.local.address.isEmpty() && entry.inode != 0)
            entries.append(entry);
    }
    return entries;
}

int blockedDescriptorOf(const QByteArray& syscallLine, bool connectOnly) {
#ifdef __linux__
    // "NUMBER ARG1 ARG2 ... SP PC" while in a call; "running", or "-1 SP PC" outside one.
    const QList<QByteArray> words = syscallLine.simplified().split(' ');
    if (words.size() < 3)
        return -1;
    bool ok = false;
    const long call = words[0].toLong(&ok);
    if (!ok || (connectOnly && call != SYS_connect))
        return -1;
    switch (call) {
    case SYS_connect:
    case SYS_sendto:
    case SYS_recvfrom:
    case SYS_sendmsg:
    case SYS_recvmsg:
    case SYS_read:
    case SYS_write:
        break;
    default:
        return -1;
    }
    const long long fd = words[1].toLongLong(&ok, 16);
    return ok && fd >= 0 && fd <= INT32_MAX ? static_cast<int>(fd) : -1;
#else
    (void)syscallLine;
    (void)connectOnly;
    return -1;
#endif
}

uint64_t startTicksOf(const QByteArray& statLine) {
    // "TID (NAME) STATE PPID ...": the name may hold anything, so count from its end; the start
    // time is the 22nd field, the 20th after the name.
    const qsizetype close = statLine.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = statLine.mid(close + 1).simplified().split(' ');
    return fields.size() >= 20 ? fields[19].toULongLong() : 0;
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

std::vector<TcpConnection> scanTcpConnections() {
    std::map<uint64_t, int> descriptors;
    for (int fd : numberedEntries("/proc/self/fd")) {
        if (const uint64_t inode = socketInode(fd); inode != 0)
            descriptors.emplace(inode, fd);
    }
    std::vector<TcpConnection> connections;
    for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
        for (const TcpSocketEntry& entry : parseTcpSocketTable(readWhole(table))) {
            if (const auto fd = descriptors.find(entry.inode); fd != descriptors.end())
                connections.push_back({fd->second, entry});
        }
    }
    return connections;
}

std::set<int> threadNumbers() {
    const std::vector<int> numbers = numberedEntries("/proc/self/task");
    return {numbers.begin(), numbers.end()};
}

ThreadId threadNamed(int tid) {
    const uint64_t ticks = startTicksOf(readWhole(taskFile(tid, "stat")));
    return ticks != 0 ? ThreadId{tid, ticks} : ThreadId{};
}

QByteArray threadNameOf(const ThreadId& thread) {
    const QByteArray name = readWhole(taskFile(thread.tid, "comm")).trimmed();
    // A thread that ended may have left its number to a new one.
    return threadNamed(thread.tid) == thread ? name : QByteArray();
}

bool waitsOnLock(const ThreadId& thread) {
    const QByteArray line = readWhole(taskFile(thread.tid, "syscall"));
    return line.startsWith(QByteArray::number(SYS_futex) + ' ') &&
           threadNamed(thread.tid) == thread;
}

int blockedDescriptor(const ThreadId& thread, bool connectOnly) {
    const int fd = blockedDescriptorOf(readWhole(taskFile(thread.tid, "syscall")), connectOnly);
    return fd >= 0 && threadNamed(thread.tid) == thread ? fd : -1;
}

#else

uint64_t socketInode(int) {
    return 0;
}

std::vector<TcpConnection> scanTcpConnections() {
    return {};
}

std::set<int> threadNumbers() {
    return {};
}

ThreadId threadNamed(int) {
    return {};
}

QByteArray threadNameOf(const ThreadId&) {
    return {};
}

bool waitsOnLock(const ThreadId&) {
    return false;
}

int blockedDescriptor(const ThreadId&, bool) {
    return -1;
}

#endif

} // namespace relaycast
