// Finding the one connection this process holds to a destination's server, and reading from it
// what the far end took.

#include "engine/tcp_path_probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace relaycast;

namespace {

// A listening socket on 127.0.0.1 and the connections made to it.
struct LoopbackServer {
    int listener = -1;
    uint16_t port = 0;
    std::vector<int> fds;

    LoopbackServer() {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), length) == 0 &&
            ::listen(listener, 4) == 0 &&
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
            port = ntohs(addr.sin_port);
    }
    ~LoopbackServer() {
        for (int fd : fds)
            ::close(fd);
        ::close(listener);
    }
    // Connects a client and accepts it; the client's descriptor.
    int connectClient() {
        const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        fds.push_back(client);
        fds.push_back(::accept(listener, nullptr, nullptr));
        return client;
    }
    QString url() const { return QStringLiteral("rtmp://127.0.0.1:%1/live").arg(port); }
};

TEST(TcpPathProbe, ServerEndpointOfAnAddress) {
    const struct {
        const char* url;
        const char* host;
        uint16_t port;
    } cases[] = {
        {"rtmp://a.example/live", "a.example", 1935},
        {"  RTMPS://b.example/app?x=1 ", "b.example", 443},
        {"rtmp://127.0.0.1:19350/live", "127.0.0.1", 19350},
        {"rtmp://[::1]:2000/live", "::1", 2000},
        {"srt://c.example:9000", "", 0},
        {"rtmp:///live", "", 0},
    };
    for (const auto& c : cases) {
        const ServerEndpoint endpoint = serverEndpoint(QString::fromUtf8(c.url));
        EXPECT_EQ(endpoint.host, QString::fromUtf8(c.host)) << c.url;
        EXPECT_EQ(endpoint.port, c.port) << c.url;
    }
}

TEST(TcpPathProbe, TakesOnlyAConnectionNobodyElseCouldOwn) {
    LoopbackServer server;
    ASSERT_NE(server.port, 0);
    TcpPathProbe first;
    EXPECT_FALSE(first.find(server.url())) << "no connection yet";
    EXPECT_FALSE(first.figures().known);

    const int one = server.connectClient();
    const int other = server.connectClient();
    EXPECT_FALSE(first.find(server.url())) << "two connections: either could be another's";
    ::shutdown(other, SHUT_RDWR);
    server.fds.erase(std::find(server.fds.begin(), server.fds.end(), other));
    ::close(other);

    ASSERT_TRUE(first.find(server.url()));
    const char bytes[3000] = {};
    ASSERT_EQ(::send(one, bytes, sizeof bytes, 0), ssize_t(sizeof bytes));
    PathFigures figures;
    for (int i = 0; i < 100 && figures.ackedBytes < sizeof bytes; ++i) {
        figures = first.figures();
        ::usleep(10000);
    }
    EXPECT_TRUE(figures.known);
    EXPECT_GE(figures.ackedBytes, sizeof bytes);
    EXPECT_EQ(figures.queuedBytes, 0u);

    TcpPathProbe second;
    EXPECT_FALSE(second.find(server.url())) << "already claimed";
    first.release();
    EXPECT_TRUE(second.find(server.url()));

    // The connection closed (and its number perhaps reused): unknown, never another's figures.
    server.fds.erase(std::find(server.fds.begin(), server.fds.end(), one));
    ::close(one);
    EXPECT_FALSE(second.figures().known);
}

} // namespace
