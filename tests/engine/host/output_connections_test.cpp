// Which of this process's connections are an output's: the server an address connects to, the
// rule that proves a socket ours, and, on real sockets, an exit that ends our own stuck connect
// and touches nothing else of the process.

#include "engine/destinations/connection_attempt.h"
#include "engine/host/output_connections.h"
#include "support/unanswered_port.h"

#include <gtest/gtest.h>
#include <obs-config.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

using namespace relaycast;
using namespace std::chrono_literals;

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray result;
    for (int v : values)
        result.append(static_cast<char>(v));
    return result;
}

// Connects `fd` to 127.0.0.1:port.
int connectOn(int fd, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
}

// Names the calling thread as the host names its RTMP output's connecting thread.
void nameAsHostConnectingThread() {
    ::pthread_setname_np(::pthread_self(), "rtmp-stream: co");
}

// A new thread connecting a new socket to 127.0.0.1:`port`, named as the host's connecting
// thread when `named`; `result` is what its connect() returned.
struct Connecting {
    ThreadId thread;
    int fd = -1;
    std::future<int> result;
};
Connecting connectFromNewThread(uint16_t port, bool named) {
    std::promise<int> tid;
    std::promise<int> socket;
    std::future<int> tidKnown = tid.get_future();
    std::future<int> socketKnown = socket.get_future();
    std::future<int> result =
        std::async(std::launch::async,
                   [port, named, tid = std::move(tid), socket = std::move(socket)]() mutable {
                       if (named)
                           nameAsHostConnectingThread();
                       tid.set_value(static_cast<int>(::gettid()));
                       const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                       socket.set_value(fd);
                       return connectOn(fd, port);
                   });
    const ThreadId thread = threadNamed(tidKnown.get());
    return {thread, socketKnown.get(), std::move(result)};
}

// Whether `thread` comes to wait in a call on `fd` within a second.
bool waitsOn(const ThreadId& thread, int fd) {
    for (int i = 0; i < 500 && blockedDescriptor(thread) != fd; ++i)
        std::this_thread::sleep_for(2ms);
    return blockedDescriptor(thread) == fd;
}

TEST(OutputConnections, AddressesNameTheirServerAndThreadsTheSocketTheyWaitOn) {
    const struct {
        const char* url;
        TcpEndpoint server;
    } cases[] = {
        {"rtmp://127.0.0.1:1940/live", {bytes({127, 0, 0, 1}), 1940}},
        {"  RTMPS://ingest.example.com/app?x=1 ", {{}, 443}},
        {"rtmp://[::ffff:192.168.0.9]/x", {bytes({192, 168, 0, 9}), 1935}},
        {"rtmp://[::1]:2000/x", {QByteArray(15, '\0') + bytes({1}), 2000}},
        {"srt://127.0.0.1:9000", {}},
        {"rtmp:///live", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tcpEndpointOf(QString::fromUtf8(c.url)), c.server) << c.url;
    // A named server is reached on its port at any address; no server is reached by nothing.
    EXPECT_TRUE(reaches({bytes({1, 2, 3, 4}), 443}, {{}, 443}));
    EXPECT_FALSE(reaches({bytes({1, 2, 3, 4}), 1935}, {bytes({1, 2, 3, 5}), 1935}));
    EXPECT_FALSE(reaches({{}, 0}, {}));
    EXPECT_EQ(blockedDescriptorOf(QByteArray::number(SYS_connect) + " 0x1d 0x7f 0x10 0 0 0 7 8"),
              29);
    EXPECT_EQ(blockedDescriptorOf(QByteArray::number(SYS_read) + " 0x5 0x7f 0x10 0 0 0 7 8"), 5);
    EXPECT_EQ(blockedDescriptorOf("running"), -1);
    EXPECT_EQ(blockedDescriptorOf("-1 0x7ffd 0x7f12"), -1);
    EXPECT_EQ(startTicksOf("77 (a) b) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 4242 9"),
              4242u);
}

// Socket `fd` (inode fd * 10) of this process to `address`:1935.
TcpConnection to(int fd, QByteArray address, int state = kTcpEstablished) {
    return {fd, {{bytes({127, 0, 0, 1}), 40000}, {address, 1935}, state, fd * 10ULL}};
}

TEST(OutputConnections, ASocketIsAnOutputsOnlyWhenThatIsProven) {
    const QByteArray here = bytes({127, 0, 0, 1});
    const TcpEndpoint server{here, 1935};
    const TcpEndpoint named{{}, 1935};
    const struct {
        const char* name;
        AttemptEvidence a, b; // b: a sibling, when it has a server
        std::vector<TcpConnection> sockets;
        uint64_t aGets, bGets;
    } cases[] = {
        {"the one new socket once connected", {server, {}, {}, true}, {}, {to(3, here)}, 30, 0},
        {"a socket there before is someone else's",
         {server, {30}, {}, true},
         {},
         {to(3, here)},
         0,
         0},
        {"two new ones: either could be someone else's",
         {named, {}, {}, true},
         {},
         {to(3, here), to(4, bytes({10, 0, 0, 9}))},
         0,
         0},
        {"still connecting: a new one may be another's while ours resolves its name",
         {server, {}, {}, false},
         {},
         {to(3, here, kTcpSynSent)},
         0,
         0},
        {"its own thread is blocked on it, among others",
         {server, {}, {4}, false},
         {},
         {to(3, here, kTcpSynSent), to(4, here, kTcpSynSent)},
         40,
         0},
        {"a sibling begun after ours was open takes its own, leaving ours alone",
         {server, {}, {}, true},
         {server, {30}, {}, true},
         {to(3, here), to(4, here)},
         30,
         40},
        {"two opened together are told apart by nothing",
         {server, {}, {}, true},
         {server, {}, {}, true},
         {to(3, here), to(4, here)},
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
    test::UnansweredPort nowhere;
    test::UnansweredPort elsewhere;
    ASSERT_NE(nowhere.port(), 0);
    // Not ours: one waiting for the server ours waits for, one to a port a named address has.
    const int stuckBefore = nowhere.knock();
    const int other = elsewhere.knock();
    ConnectionAttempt elsewhereAttempt;
    OutputConnection named;
    named.follow(QStringLiteral("rtmp://ingest.elsewhere.example:%1/x").arg(elsewhere.port()),
                 elsewhereAttempt);

    // Ours: its connecting thread is created by the start, as the host's RTMP output does.
    ConnectionAttempt attempt;
    OutputConnection ours;
    ours.follow(QStringLiteral("rtmp://127.0.0.1:%1/live").arg(nowhere.port()), attempt);
    attempt.begin();
    ours.beginAttempt();
    auto [thread, fd, connecting] = connectFromNewThread(nowhere.port(), true);
    ours.endStart(true);
    const int stuckDuring = nowhere.knock(); // opened while ours waits
    ASSERT_TRUE(waitsOn(thread, fd)) << "not in connect()";

    EXPECT_EQ(abortOutputConnections(), 1);
    ASSERT_EQ(connecting.wait_for(2s), std::future_status::ready);
    EXPECT_NE(connecting.get(), 0);
    EXPECT_EQ(test::tcpStateOf(stuckBefore), TCP_SYN_SENT);
    EXPECT_EQ(test::tcpStateOf(stuckDuring), TCP_SYN_SENT);
    EXPECT_EQ(test::tcpStateOf(other), TCP_SYN_SENT);
    for (int socketFd : {fd, stuckBefore, stuckDuring, other})
        ::close(socketFd);
}

// The host's start runs while the rest of OBS goes on: another component (OBS's own stream
// reconnecting, a media source, another plug-in) may create a thread in that moment, and that
// thread may connect to the same server port. Ours is still resolving the server's name (a
// resolver that does not answer: the exit's usual stuck case), so its socket does not exist.
TEST(OutputConnections, ExitLeavesAloneAThreadOfAnotherComponentBornDuringOurStart) {
    test::UnansweredPort nowhere;
    ASSERT_NE(nowhere.port(), 0);
    ConnectionAttempt attempt;
    OutputConnection ours;
    ours.follow(QStringLiteral("rtmp://127.0.0.1:%1/live").arg(nowhere.port()), attempt);
    attempt.begin();
    ours.beginAttempt();
    std::promise<void> resolved;
    std::promise<void> named;
    auto resolving = std::async(std::launch::async, [&, done = resolved.get_future()]() mutable {
        nameAsHostConnectingThread();
        named.set_value();
        done.wait(); // our connecting thread, still in its name look-up
    });
    named.get_future().wait();
    auto [thread, foreignFd, foreign] = connectFromNewThread(nowhere.port(), false);
    ours.endStart(true);
    EXPECT_TRUE(waitsOn(thread, foreignFd)) << "not in connect()";

    EXPECT_EQ(abortOutputConnections(), 0) << "a socket that is not ours was closed";
    EXPECT_EQ(test::tcpStateOf(foreignFd), TCP_SYN_SENT)
        << "the other component's connect was ended";
    ::shutdown(foreignFd, SHUT_RDWR);
    foreign.wait();
    ::close(foreignFd);
    resolved.set_value();
    resolving.wait();
    attempt.end();
}

// Newer hosts connect from threads their connecting thread creates, one per address of the
// server, racing; the connecting thread only waits for them. Their sockets are closed at exit
// unless another thread named as a connecting thread was born meanwhile and could have made them.
TEST(OutputConnections, ExitEndsTheRacingConnectsOfOurStuckStartUnlessAnotherStartedMeanwhile) {
#if LIBOBS_API_MAJOR_VER < 30
    GTEST_SKIP() << "this host connects from its connecting thread itself";
#endif
    test::UnansweredPort nowhere;
    ASSERT_NE(nowhere.port(), 0);
    ConnectionAttempt attempt;
    OutputConnection ours;
    ours.follow(QStringLiteral("rtmp://127.0.0.1:%1/live").arg(nowhere.port()), attempt);
    attempt.begin();
    ours.beginAttempt();
    std::promise<int> racingSocket;
    std::promise<int> racingTid;
    std::future<int> racer;
    std::promise<void> raced;
    auto connecting = std::async(std::launch::async, [&, done = raced.get_future()]() mutable {
        nameAsHostConnectingThread();
        racer = std::async(std::launch::async, [&] {
            racingTid.set_value(static_cast<int>(::gettid()));
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            racingSocket.set_value(fd);
            return connectOn(fd, nowhere.port());
        });
        done.wait();
    });
    const ThreadId racingThread = threadNamed(racingTid.get_future().get());
    const int fd = racingSocket.get_future().get();
    ours.endStart(true);
    ASSERT_TRUE(waitsOn(racingThread, fd)) << "not in connect()";

    // Another output's connecting thread, born since, still resolving its server's name.
    std::promise<int> otherTid;
    std::promise<void> otherDone;
    auto other = std::async(std::launch::async, [&, done = otherDone.get_future()]() mutable {
        nameAsHostConnectingThread();
        otherTid.set_value(static_cast<int>(::gettid()));
        done.wait();
    });
    const int otherThread = otherTid.get_future().get();
    EXPECT_EQ(abortOutputConnections(), 0) << "closed though another output could own it";
    EXPECT_EQ(test::tcpStateOf(fd), TCP_SYN_SENT);
    otherDone.set_value();
    other.wait();
    for (int i = 0; i < 500 && threadNumbers().contains(otherThread); ++i)
        std::this_thread::sleep_for(2ms); // its result comes a moment before its end

    // Exit stops the output first: the host tells its attempt ended, while its connecting
    // thread goes on waiting for the racing one.
    attempt.end();
    EXPECT_EQ(abortOutputConnections(), 1);
    raced.set_value();
    connecting.wait();
    ASSERT_EQ(racer.wait_for(2s), std::future_status::ready);
    EXPECT_NE(racer.get(), 0);
    ::close(fd);
}

// OBS's own stream (or another plug-in's RTMP output) reconnecting makes a connecting thread of
// the same name after our start, and it connects to its own server on the port ours has too.
// Ours is still resolving its server's name (OBS 29 has no racing threads at all): that socket
// is not ours and must stay open at exit.
TEST(OutputConnections, ExitLeavesAloneAnotherOutputsConnectingThreadToAnotherServerOnOurPort) {
#if LIBOBS_API_MAJOR_VER >= 30
    // There, our connecting thread waiting and that one in connect are what our own racing
    // connect looks like: a coincidence of one moment the exit accepts.
    GTEST_SKIP() << "this host connects from racing threads";
#endif
    test::UnansweredPort nowhere;
    ASSERT_NE(nowhere.port(), 0);
    ConnectionAttempt attempt;
    OutputConnection ours;
    ours.follow(QStringLiteral("rtmp://ingest.ours.example:%1/live").arg(nowhere.port()), attempt);
    attempt.begin();
    ours.beginAttempt();
    std::promise<void> resolved;
    std::promise<void> named;
    auto resolving = std::async(std::launch::async, [&, done = resolved.get_future()]() mutable {
        nameAsHostConnectingThread();
        named.set_value();
        done.wait(); // our connecting thread, still in its name look-up
    });
    named.get_future().wait();
    ours.endStart(true);

    // To 127.0.0.1: not ingest.ours.example.
    auto [thread, foreignFd, foreign] = connectFromNewThread(nowhere.port(), true);
    ASSERT_TRUE(waitsOn(thread, foreignFd)) << "not in connect()";

    EXPECT_EQ(abortOutputConnections(), 0) << "a socket that is not ours was closed";
    EXPECT_EQ(test::tcpStateOf(foreignFd), TCP_SYN_SENT) << "another output's connect was ended";
    ::shutdown(foreignFd, SHUT_RDWR);
    foreign.wait();
    ::close(foreignFd);
    resolved.set_value();
    resolving.wait();
    attempt.end();
}

// OBS's own stream reconnecting may make its connecting thread, named as ours, while our start
// runs; it resolves its server's name while ours already waits in connect (OBS 29 connects from
// that thread itself). Ours is the one in connect: at exit ours is closed, and the other's
// connect, once it waits on our port too, is left alone.
TEST(OutputConnections, AConnectingThreadOfAnotherOutputBornDuringOurStartIsNotTakenForOurs) {
#if LIBOBS_API_MAJOR_VER >= 30
    // There, one thread waiting and one in connect, both born in our start, are what our own
    // start with its racing connect looks like: a coincidence of one moment that is accepted.
    GTEST_SKIP() << "this host connects from racing threads";
#endif
    test::UnansweredPort nowhere;
    ASSERT_NE(nowhere.port(), 0);
    ConnectionAttempt attempt;
    OutputConnection ours;
    ours.follow(QStringLiteral("rtmp://ingest.ours.example:%1/live").arg(nowhere.port()), attempt);
    attempt.begin();
    ours.beginAttempt();
    std::promise<void> resolved;
    std::promise<int> foreignSocket;
    std::promise<int> foreignTid;
    auto foreign = std::async(std::launch::async, [&, done = resolved.get_future()]() mutable {
        nameAsHostConnectingThread();
        foreignTid.set_value(static_cast<int>(::gettid()));
        done.wait(); // its name look-up
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        foreignSocket.set_value(fd);
        return connectOn(fd, nowhere.port());
    });
    const int foreignThreadId = foreignTid.get_future().get();
    auto [thread, fd, connecting] = connectFromNewThread(nowhere.port(), true);
    ASSERT_TRUE(waitsOn(thread, fd)) << "not in connect()";
    ours.endStart(true);

    resolved.set_value();
    const ThreadId foreignThread = threadNamed(foreignThreadId);
    const int foreignFd = foreignSocket.get_future().get();
    ASSERT_TRUE(waitsOn(foreignThread, foreignFd)) << "not in connect()";

    EXPECT_EQ(abortOutputConnections(), 1);
    EXPECT_EQ(test::tcpStateOf(foreignFd), TCP_SYN_SENT) << "the other output's connect was ended";
    EXPECT_EQ(connecting.wait_for(2s), std::future_status::ready) << "ours was left connecting";
    ::shutdown(fd, SHUT_RDWR);
    ::shutdown(foreignFd, SHUT_RDWR);
    connecting.wait();
    foreign.wait();
    ::close(fd);
    ::close(foreignFd);
    attempt.end();
}

} // namespace
