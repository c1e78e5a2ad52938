// The connections of outputs stuck at exit: which server an address connects to, and a real
// connect() that would wait for minutes ended at once by closing its socket.

#include "engine/output_connections.h"
#include "support/unanswered_port.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <iterator>
#include <string>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray result;
    for (int v : values)
        result.append(static_cast<char>(v));
    return result;
}

TEST(OutputConnections, AddressesGiveTheServerTheirSocketsConnectTo) {
    const struct {
        const char* url;
        uint16_t port;
        QByteArray address;
    } cases[] = {
        {"rtmp://127.0.0.1:1940/live", 1940, bytes({127, 0, 0, 1})},
        {"RTMP://10.1.2.3/live", 1935, bytes({10, 1, 2, 3})},
        {"rtmps://ingest.example.com/app", 443, {}},
        {"rtmp://[::ffff:192.168.0.9]:2000/x", 2000, bytes({192, 168, 0, 9})},
        {"rtmp://[::1]/x", 1935, QByteArray(15, '\0') + bytes({1})},
        {"srt://127.0.0.1:9000", 0, {}},
    };
    for (const auto& c : cases) {
        const TcpEndpoint endpoint = tcpEndpointOf(QString::fromUtf8(c.url));
        EXPECT_EQ(endpoint.port, c.port) << c.url;
        EXPECT_EQ(endpoint.address, c.address) << c.url;
    }
    // A named host is matched by its port alone; no endpoint matches nothing.
    EXPECT_TRUE(reachesEndpoint({443, bytes({1, 2, 3, 4})}, {443, {}}));
    EXPECT_FALSE(reachesEndpoint({1935, bytes({1, 2, 3, 4})}, {1935, bytes({1, 2, 3, 5})}));
    EXPECT_FALSE(reachesEndpoint({0, {}}, {}));
}

TEST(OutputConnections, AStuckConnectToAWatchedServerIsEndedAtOnce) {
    UnansweredPort server;
    ASSERT_NE(server.port(), 0);
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(server.port());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto connecting = std::async(std::launch::async, [&] {
        return ::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    });
    ASSERT_EQ(connecting.wait_for(500ms), std::future_status::timeout) << "the server answered";

    // The kernel's table shows it connecting to that server.
    bool seen = false;
    std::ifstream table("/proc/net/tcp");
    const std::string text{std::istreambuf_iterator<char>(table), {}};
    for (const TcpSocketEntry& entry : parseTcpSocketTable(QByteArray::fromStdString(text)))
        seen |=
            entry.state == 2 && entry.remote == TcpEndpoint{server.port(), bytes({127, 0, 0, 1})};
    EXPECT_TRUE(seen);

    const int owner = 0;
    watchOutputConnection(&owner, QStringLiteral("rtmp://127.0.0.1:%1/live").arg(server.port()));
    // The server's own queue fillers live in this process too.
    EXPECT_GE(abortWatchedOutputConnections(), 1);
    ASSERT_EQ(connecting.wait_for(2s), std::future_status::ready);
    EXPECT_NE(connecting.get(), 0);
    // Once its output is gone, nothing of that server is touched any more.
    unwatchOutputConnection(&owner);
    EXPECT_EQ(abortWatchedOutputConnections(), 0);
    ::close(client);
}

} // namespace
