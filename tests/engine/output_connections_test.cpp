// Which of this process's connections are an output's: the server an address connects to, the
// rule that proves a socket ours, and, on real sockets, an exit that ends our own stuck connect
// and touches nothing else of the process.

#include "engine/connection_attempt.h"
#include "engine/output_connections.h"
#include "support/unanswered_port.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

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

sockaddr_in loopback(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// A socket of this test connecting to 127.0.0.1:port without waiting for it.
int connectingSocket(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const sockaddr_in addr = loopback(port);
    ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    return fd;
}

int tcpState(int fd) {
    tcp_info info{};
    socklen_t length = sizeof info;
    return ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 ? info.tcpi_state : -1;
}

TEST(OutputConnections, AddressesGiveTheServerTheirSocketsConnectTo) {
    const struct {
        const char* url;
        uint16_t port;
        QByteArray address;
    } cases[] = {
        {"rtmp://127.0.0.1:1940/live", 1940, bytes({127, 0, 0, 1})},
        {"  RTMP://10.1.2.3/live ", 1935, bytes({10, 1, 2, 3})},
        {"rtmps://ingest.example.com/app?x=1", 443, {}},
        {"rtmp://[::ffff:192.168.0.9]:2000/x", 2000, bytes({192, 168, 0, 9})},
        {"rtmp://[::1]/x", 1935, QByteArray(15, '\0') + bytes({1})},
        {"srt://127.0.0.1:9000", 0, {}},
        {"rtmp:///live", 0, {}},
    };
    for (const auto& c : cases) {
        const TcpEndpoint endpoint = tcpEndpointOf(QString::fromUtf8(c.url));
        EXPECT_EQ(endpoint.port, c.port) << c.url;
        EXPECT_EQ(endpoint.address, c.address) << c.url;
    }
    // A named server is reached on its port at any address; no server is reached by nothing.
    EXPECT_TRUE(reaches({bytes({1, 2, 3, 4}), 443}, {{}, 443}));
    EXPECT_FALSE(reaches({bytes({1, 2, 3, 4}), 1935}, {bytes({1, 2, 3, 5}), 1935}));
    EXPECT_FALSE(reaches({{}, 0}, {}));
    // What a thread is blocked on: connect(29, ...), a read, or nothing it could be.
    EXPECT_EQ(
        blockedDescriptorOf(QByteArray::number(SYS_connect) + " 0x1d 0x7f 0x10 0 0 0 0x7 0x8"), 29);
    EXPECT_EQ(blockedDescriptorOf(QByteArray::number(SYS_read) + " 0x5 0x7f 0x10 0 0 0 0x7 0x8"),
              5);
    EXPECT_EQ(blockedDescriptorOf("running"), -1);
    EXPECT_EQ(blockedDescriptorOf("-1 0x7ffd 0x7f12"), -1);
    EXPECT_EQ(startTicksOf("77 (a) b) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 4242 9"),
              4242u);
}

// Our attempt A to 127.0.0.1:1935 (and a sibling B to the same server) among other sockets.
TcpConnection socketTo(int fd, uint64_t inode, QByteArray address, uint16_t port,
                       int state = kTcpEstablished) {
    return {fd,
            {{bytes({127, 0, 0, 1}), static_cast<uint16_t>(40000 + fd)},
             {address, port},
             state,
             inode}};
}

TEST(OutputConnections, ASocketIsAnOutputsOnlyWhenThatIsProven) {
    const QByteArray here = bytes({127, 0, 0, 1});
    const QByteArray there = bytes({10, 0, 0, 9});
    const TcpEndpoint server{here, 1935};
    const TcpEndpoint named{{}, 1935};
    const struct {
        const char* name;
        AttemptEvidence a;
        AttemptEvidence b;
        std::vector<TcpConnection> sockets;
        uint64_t aGets;
        uint64_t bGets;
    } cases[] = {
        {"one new socket once connected",
         {server, {}, {}, true},
         {},
         {socketTo(3, 30, here, 1935), socketTo(4, 40, here, 1936)},
         30,
         0},
        {"a socket that was there before is someone else's",
         {server, {30}, {}, true},
         {},
         {socketTo(3, 30, here, 1935)},
         0,
         0},
        {"another new socket to the server: either could be someone else's",
         {named, {}, {}, true},
         {},
         {socketTo(3, 30, here, 1935), socketTo(4, 40, there, 1935)},
         0,
         0},
        {"still connecting: the new socket may be another's while ours resolves its name",
         {server, {}, {}, false},
         {},
         {socketTo(3, 30, here, 1935, kTcpSynSent)},
         0,
         0},
        {"its own thread is blocked on it, among others",
         {server, {}, {4}, false},
         {},
         {socketTo(3, 30, here, 1935, kTcpSynSent), socketTo(4, 40, here, 1935, kTcpSynSent)},
         40,
         0},
        {"its thread is blocked on a socket to another server",
         {server, {}, {4}, false},
         {},
         {socketTo(4, 40, there, 1935, kTcpSynSent)},
         0,
         0},
        {"a sibling that began once ours was open takes its own; ours is then the only one",
         {server, {}, {}, true},
         {server, {30}, {}, true},
         {socketTo(3, 30, here, 1935), socketTo(4, 40, here, 1935)},
         30,
         40},
        {"two that opened together are told apart by nothing",
         {server, {}, {}, true},
         {server, {}, {}, true},
         {socketTo(3, 30, here, 1935), socketTo(4, 40, here, 1935)},
         0,
         0},
    };
    for (const auto& c : cases) {
        AttemptEvidence a = c.a;
        AttemptEvidence b = c.b;
        std::vector<AttemptEvidence*> attempts{&a};
        if (b.server.port != 0)
            attempts.push_back(&b);
        attributeConnections(attempts, c.sockets);
        EXPECT_EQ(a.inode, c.aGets) << c.name;
        EXPECT_EQ(b.inode, c.bGets) << c.name;
    }
}

TEST(OutputConnections, ExitEndsOurOwnStuckConnectAndTouchesNothingElse) {
    UnansweredPort nowhere;
    ASSERT_NE(nowhere.port(), 0);
    // Not ours: a server on another port, with a connection to it named by a watched address.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback(0);
    socklen_t size = sizeof addr;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), size), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &size), 0);
    const uint16_t otherPort = ntohs(addr.sin_port);
    const int connected = connectingSocket(otherPort);
    const int stuckBefore = connectingSocket(nowhere.port());
    ConnectionAttempt elsewhereAttempt;
    OutputConnection elsewhere;
    elsewhere.follow(QStringLiteral("rtmp://ingest.elsewhere.example:%1/live").arg(otherPort),
                     elsewhereAttempt);

    // Ours: its connecting thread created by the start, as the host's RTMP output does.
    ConnectionAttempt attempt;
    OutputConnection ours;
    ours.follow(QStringLiteral("rtmp://127.0.0.1:%1/live").arg(nowhere.port()), attempt);
    attempt.begin();
    ours.beginAttempt();
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in server = loopback(nowhere.port());
    std::promise<int> tid;
    auto connecting = std::async(std::launch::async, [&] {
        tid.set_value(static_cast<int>(::gettid()));
        return ::connect(socket, reinterpret_cast<const sockaddr*>(&server), sizeof server);
    });
    const ThreadId thread = threadNamed(tid.get_future().get());
    ours.endStart(true);
    // Opened while ours waits, to the very server it waits for.
    const int stuckDuring = connectingSocket(nowhere.port());
    for (int i = 0; i < 500 && blockedDescriptor(thread) != socket; ++i)
        std::this_thread::sleep_for(2ms);
    ASSERT_EQ(blockedDescriptor(thread), socket) << "not in connect()";
    EXPECT_FALSE(ours.figures().known) << "not connected";

    EXPECT_EQ(abortOutputConnections(), 1);
    ASSERT_EQ(connecting.wait_for(2s), std::future_status::ready);
    EXPECT_NE(connecting.get(), 0);
    EXPECT_EQ(tcpState(stuckBefore), TCP_SYN_SENT);
    EXPECT_EQ(tcpState(stuckDuring), TCP_SYN_SENT);
    EXPECT_EQ(tcpState(connected), TCP_ESTABLISHED);
    for (int fd : {socket, stuckBefore, stuckDuring, connected, listener})
        ::close(fd);
}

TEST(OutputConnections, AConnectedOutputReadsWhatTheFarEndTookFromItsOwnSocketOnly) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback(0);
    socklen_t size = sizeof addr;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), size), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &size), 0);
    const QString url = QStringLiteral("rtmp://127.0.0.1:%1/live").arg(ntohs(addr.sin_port));
    const int before = connectingSocket(ntohs(addr.sin_port));

    ConnectionAttempt attempt;
    OutputConnection ours;
    ours.follow(url, attempt);
    ours.beginAttempt();
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    ours.endStart(true);
    ours.noteConnected();
    const int far = ::accept(listener, nullptr, nullptr);
    const char sent[3000] = {};
    ASSERT_EQ(::send(socket, sent, sizeof sent, 0), ssize_t(sizeof sent));
    PathFigures figures;
    for (int i = 0; i < 100 && figures.ackedBytes < sizeof sent; ++i) {
        figures = ours.figures();
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(figures.known);
    EXPECT_GE(figures.ackedBytes, sizeof sent);
    EXPECT_EQ(figures.queuedBytes, 0u);

    // Closed (and its number perhaps taken again): unknown, never another's figures.
    ::close(socket);
    EXPECT_EQ(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), socket);
    EXPECT_FALSE(ours.figures().known);
    for (int fd : {socket, far, before, listener})
        ::close(fd);
}

} // namespace
