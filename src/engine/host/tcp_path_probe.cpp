#include "engine/host/tcp_path_probe.h"

#include "engine/host/connection_scan.h"

#include <algorithm>
#include <cstddef>

#ifdef __linux__
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#endif

namespace relaycast {

#ifdef __linux__

PathFigures pathFiguresOf(int fd, uint64_t inode) {
    if (fd < 0 || inode == 0 || socketInode(fd) != inode)
        return {};
    tcp_info info{};
    socklen_t length = sizeof info;
    int queued = 0;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked ||
        ::ioctl(fd, SIOCOUTQ, &queued) != 0)
        return {};
    // Closed and taken by another socket while it was read: those were not its figures.
    if (socketInode(fd) != inode)
        return {};
    return {true, info.tcpi_bytes_acked, static_cast<uint64_t>(std::max(queued, 0))};
}

#else

PathFigures pathFiguresOf(int, uint64_t) {
    return {};
}

#endif

} // namespace relaycast
