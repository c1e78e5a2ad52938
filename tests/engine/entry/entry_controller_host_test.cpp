// The entry controller on the real host, as hotkeys, remote requests and OBS's own stream use
// it without the dock: whole entries and everything started and stopped, the entries that go
// with OBS's stream following it, a restart right after a stop, every ending told once, and an
// exit that no stuck output holds up and that closes nothing but theirs, what reaches a
// round-robin server named twice, and an input sending through the streamer's own relay.

#include "engine/encoding/service_check.h"
#include "engine/entry/entry_controller_fixture.h"
#include "engine/picture/entry_pipeline.h"
#include "relay/entry_relay.h"
#include "relay/relay_stats_fetch.h"
#include "support/child_process.h"
#include "support/log_capture.h"
#include "support/media_probe.h"
#include "support/obs_own_stream.h"
#include "support/tcp_gate.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <tuple>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

// The whole-entries test ends while an input with two destinations is still starting.
RELAYCAST_TOLERATE_HOST_LEAKS_OF_STOPS_WHILE_CONNECTING(1)

namespace {

TEST_F(EntryControllerHost, EntriesThatGoWithOBSsStreamStartAndStopWithIt) {
    addEntry(QStringLiteral("con"), {QStringLiteral("a"), QStringLiteral("b")}, true);
    addEntry(QStringLiteral("sin"), {QStringLiteral("c")}, false);
    std::vector<DestinationChange> changes;
    controller.addChangeListener([&](const DestinationChange& c) { changes.push_back(c); });

    controller.onHostStreamStarted();
    ASSERT_TRUE(heartbeatUntil([&] { return allLive(QStringLiteral("con")); }));
    EXPECT_FALSE(controller.isEntryLive(QStringLiteral("sin")));
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.front().previous, DestinationState::Idle);
    EXPECT_EQ(changes.front().status.state, DestinationState::Starting);

    controller.onHostStreamStopped();
    ASSERT_TRUE(heartbeatUntil([&] { return !controller.isEntryLive(QStringLiteral("con")); }));
    EXPECT_EQ(changes.back().status.state, DestinationState::Idle);
}

TEST_F(EntryControllerHost, WholeEntriesAndEverythingStartAndStop) {
    addEntry(QStringLiteral("uno"), {QStringLiteral("d"), QStringLiteral("e")}, false);
    addEntry(QStringLiteral("dos"), {QStringLiteral("f")}, false);

    QString error;
    ASSERT_TRUE(controller.startEntry(QStringLiteral("uno"), &error)) << error.toStdString();
    ASSERT_TRUE(heartbeatUntil([&] { return allLive(QStringLiteral("uno")); }));
    EXPECT_FALSE(controller.isEntryLive(QStringLiteral("dos")));
    controller.stopEntry(QStringLiteral("uno"));
    ASSERT_TRUE(heartbeatUntil([&] { return !controller.isEntryLive(QStringLiteral("uno")); }));

    ASSERT_TRUE(controller.startAll(&error)) << error.toStdString();
    ASSERT_TRUE(heartbeatUntil(
        [&] { return allLive(QStringLiteral("uno")) && allLive(QStringLiteral("dos")); }));
    // Asking again for what already runs succeeds and leaves one output each.
    EXPECT_TRUE(controller.startAll(&error)) << error.toStdString();
    EXPECT_TRUE(controller.startEntry(QStringLiteral("uno"), &error)) << error.toStdString();
    EXPECT_TRUE(controller.startDestination(QStringLiteral("uno"), QStringLiteral("uno-d")));
    EXPECT_EQ(countHostOutputs("relaycast-salida"), 3);
    EXPECT_TRUE(allLive(QStringLiteral("uno")) && allLive(QStringLiteral("dos")));
    controller.stopAll();
    ASSERT_TRUE(heartbeatUntil([&] {
        return !controller.isEntryLive(QStringLiteral("uno")) &&
               !controller.isEntryLive(QStringLiteral("dos"));
    }));

    // An entry whose scene is gone says why, and its siblings still start.
    EntryConfig& missing = addEntry(QStringLiteral("tres"), {QStringLiteral("g")}, false);
    missing.fuente = QStringLiteral("no-existe");
    EXPECT_FALSE(controller.startAll(&error));
    EXPECT_EQ(error, QString::fromUtf8(
                         "«no-existe» ya no existe en OBS. Cámbiala con «✎ Editar» o bórrala."));
    EXPECT_TRUE(controller.isEntryLive(QStringLiteral("uno")));
    EXPECT_TRUE(controller.isEntryLive(QStringLiteral("dos")));
}

TEST_F(EntryControllerHost, StartRightAfterAStopStreamsAgainOnceTheOldOutputHasGone) {
    addEntry(QStringLiteral("macro"), {QStringLiteral("m")}, false);
    const QString entryId = QStringLiteral("macro");
    const QString destinationId = QStringLiteral("macro-m");
    const auto state = [&] { return controller.destinationStatus(entryId, destinationId).state; };
    ASSERT_TRUE(controller.startDestination(entryId, destinationId));
    ASSERT_TRUE(heartbeatUntil([&] { return state() == DestinationState::Live; }));

    // A stream deck's restart: stop, then at once start.
    ASSERT_TRUE(controller.stopDestination(entryId, destinationId));
    EXPECT_TRUE(controller.startDestination(entryId, destinationId));
    EXPECT_EQ(state(), DestinationState::Starting);
    ASSERT_TRUE(heartbeatUntil([&] {
        return state() == DestinationState::Live && rtmp.publishes(QStringLiteral("m")).size() == 2;
    })) << "ended "
        << stateName(state());
    const QList<PublishSpan> spans = rtmp.publishes(QStringLiteral("m"));
    EXPECT_GE(spans.at(0).endedAt, 0);
    EXPECT_GE(spans.at(1).startedAt, spans.at(0).endedAt) << "the two sessions overlapped";
    EXPECT_EQ(countHostOutputs("relaycast-salida"), 1);

    // A start asked for while the card already shows a failure the next heartbeat will clear
    // is a new start, not "already running".
    ASSERT_TRUE(controller.stopDestination(entryId, destinationId));
    ASSERT_TRUE(heartbeatUntil([&] { return !controller.hasOutput(entryId, destinationId); }));
    rtmp.setRefusing(QStringLiteral("m"), true);
    ASSERT_TRUE(controller.startDestination(entryId, destinationId));
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (state() != DestinationState::Failed && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    ASSERT_EQ(state(), DestinationState::Failed);
    rtmp.setRefusing(QStringLiteral("m"), false);
    EXPECT_TRUE(controller.startDestination(entryId, destinationId));
    EXPECT_TRUE(heartbeatUntil([&] {
        return state() == DestinationState::Live && rtmp.publishes(QStringLiteral("m")).size() == 3;
    })) << "ended "
        << stateName(state());
}

TEST_F(EntryControllerHost, EveryDestinationThatEndsIsToldOnceAndNothingStaleLater) {
    addEntry(QStringLiteral("vieja"), {QStringLiteral("v1"), QStringLiteral("v2")}, false);
    addEntry(QStringLiteral("borrada"), {QStringLiteral("b1")}, false);
    QList<DestinationChange> toIdle;
    controller.addChangeListener([&](const DestinationChange& change) {
        if (change.status.state == DestinationState::Idle)
            toIdle << change;
    });
    ASSERT_TRUE(controller.startAll());
    ASSERT_TRUE(heartbeatUntil(
        [&] { return allLive(QStringLiteral("vieja")) && allLive(QStringLiteral("borrada")); }));

    // Deleting a live entry, as the dock does: it leaves the list, its streams stop.
    controller.retireEntry(QStringLiteral("borrada"));
    store.entriesOf(QStringLiteral("Escenas")).removeLast();
    controller.heartbeat();
    ASSERT_EQ(toIdle.size(), 1);
    EXPECT_EQ(toIdle.at(0).destinationId, QStringLiteral("borrada-b1"));
    EXPECT_EQ(toIdle.at(0).previous, DestinationState::Live);

    // A collection change: every stream stops before OBS switches, and the switch comes before
    // the next heartbeat.
    controller.stopEverything();
    frontend.setCurrentSceneCollection(QStringLiteral("Otra"));
    controller.heartbeat();
    QStringList ended;
    for (const DestinationChange& change : toIdle)
        ended << change.destinationId;
    EXPECT_EQ(ended, (QStringList{"borrada-b1", "vieja-v1", "vieja-v2"}));

    // Back to the first collection later: nothing happened now, so nothing is told.
    frontend.setCurrentSceneCollection(QStringLiteral("Escenas"));
    controller.heartbeat();
    EXPECT_EQ(toIdle.size(), 3);
}

TEST_F(EntryControllerHost,
       ExitWithThreeOutputsStuckConnectingEndsInBoundedTimeAndTouchesNothingElse) {
    UnansweredPort nowhere;
    ASSERT_NE(nowhere.port(), 0);
    for (const char* id : {"a1", "a2", "a3"}) {
        EntryConfig& entry = addEntry(QString::fromLatin1(id), {QStringLiteral("k")}, false);
        entry.destinos[0].url = QStringLiteral("rtmp://127.0.0.1:%1/live").arg(nowhere.port());
    }
    ASSERT_TRUE(controller.startAll());
    // Not ours, though it waits for the very server they wait for: opened while they connect.
    const int foreign = nowhere.knock();
    heartbeatUntil([] { return false; }, 1s); // the connection attempts are under way
    ASSERT_EQ(tcpStateOf(foreign), TCP_SYN_SENT);

    const auto begin = std::chrono::steady_clock::now();
    controller.shutdown();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf("exit with three outputs stuck connecting: %.1f s\n", seconds);
    EXPECT_LE(seconds, 6.0) << "their connections were not closed under them";
    EXPECT_EQ(unfinishedBackgroundHostCalls(), 0) << "something was left stuck";
    EXPECT_EQ(countPluginHostObjects(), 0);
    EXPECT_EQ(tcpStateOf(foreign), TCP_SYN_SENT) << "a connection not ours was closed";
    ::close(foreign);
}

// Writes the host names file in place (it may be bind-mounted over /etc/hosts).
void writeHosts(const QString& path, const char* address) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray("127.0.0.1 localhost\n"));
    if (address)
        file.write(QByteArray(address) + " ingest.relaycast.test\n");
}

// Runs the current test again in a mount namespace of its own, with `hosts` over /etc/hosts and
// `resolver` over /etc/resolv.conf, and `marker` set in its environment (with `ownNetwork`, in a
// network of its own too, with nothing but loopback); the namespace and its mounts end with that
// process. Its "round-robin" lines are printed here.
void runInOwnNamespace(const QString& marker, const QString& hosts, const QString& resolver,
                       bool ownNetwork = false) {
    QStringList argv = QStringLiteral("env %1 unshare%2%3 --mount sh -c")
                           .arg(marker, ::geteuid() != 0 ? " --user --map-root-user" : "",
                                ownNetwork ? " --net" : "")
                           .split(' ');
    argv << QStringLiteral("%1mount --bind \"$1\" /etc/hosts && mount --bind \"$2\" "
                           "/etc/resolv.conf && exec \"$3\" \"$4\"")
                .arg(ownNetwork ? "ip link set lo up && " : "")
         << "sh" << hosts << resolver << QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))
         << QStringLiteral("--gtest_filter=*.%1")
                .arg(testing::UnitTest::GetInstance()->current_test_info()->name());
    const CommandResult run = runCommand(argv, 120000);
    for (const QByteArray& line : run.out.split('\n'))
        if (line.startsWith("round-robin"))
            std::printf("%s\n", line.constData());
    EXPECT_EQ(run.exitCode, 0) << run.out.right(6000).toStdString() << run.err.toStdString();
}

// What each destination of input "rr" says reaches its server, once all of them say something
// or `until` gave up.
QList<int32_t> receivedByEach(EntryController& controller, const QStringList& keys,
                              const std::function<bool(const std::function<bool()>&)>& until) {
    QList<int32_t> received;
    EXPECT_TRUE(until([&] {
        received.clear();
        for (const QString& key : keys)
            received
                << controller.destinationStatus(QStringLiteral("rr"), "rr-" + key).receivedKbps;
        return *std::min_element(received.begin(), received.end()) > 0;
    }));
    return received;
}

TEST_F(EntryControllerHost,
       TwoDestinationsToOneRoundRobinServerStartedTogetherBothShowWhatReachesIt) {
    const QString hosts = QString::fromLocal8Bit(std::getenv("RELAYCAST_PRIVATE_HOSTS"));
    if (hosts.isEmpty()) {
        const QString file = dir.filePath(QStringLiteral("hosts"));
        writeHosts(file, "127.0.0.1");
        runInOwnNamespace("RELAYCAST_PRIVATE_HOSTS=" + file, file,
                          QStringLiteral("/etc/resolv.conf"));
        return;
    }
    // Two to the server by its name: their connections are up before the server answers, and
    // the name answers another address meanwhile, as a round-robin ingest's does from one
    // look-up to the next. Two more straight to another server, by its address.
    RtmpServer named;
    QString error;
    ASSERT_TRUE(named.start(&error)) << error.toStdString();
    TcpGate gate(named.port(), TcpGate::Mode::Relay, 500);
    ASSERT_TRUE(gate.start());
    const QStringList keys{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"),
                           QStringLiteral("d")};
    EntryConfig& entry = addEntry(QStringLiteral("rr"), keys, false);
    for (int i : {0, 1})
        entry.destinos[i].url =
            QStringLiteral("rtmp://ingest.relaycast.test:%1/live").arg(gate.port());
    ASSERT_TRUE(controller.startEntry(QStringLiteral("rr")));
    ASSERT_TRUE(heartbeatUntil([&] { return gate.accepted() == 2; }, 10s));
    writeHosts(hosts, "127.0.0.2");
    const QList<int32_t> received = receivedByEach(
        controller, keys, [&](const std::function<bool()>& c) { return heartbeatUntil(c, 15s); });
    std::printf("round-robin name, two destinations started together: %d and %d kbit/s reach "
                "the server; two to another server by its address: %d and %d kbit/s\n",
                received.value(0), received.value(1), received.value(2), received.value(3));
}

// A name server on `address`:53 that answers every question for an IPv4 address with
// 127.0.0.1, and every other with none, `delayMs` after it came: a resolver as slow as one far
// away, or on a mobile link.
class SlowNameServer {
public:
    SlowNameServer(const char* address, int delayMs) : delayMs_(delayMs) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(53);
        ::inet_pton(AF_INET, address, &addr.sin_addr);
        timeval tick{0, 20000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        thread_ = std::thread([this] { serve(); });
    }
    ~SlowNameServer() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool started() const { return fd_ >= 0; }

private:
    struct Due {
        std::chrono::steady_clock::time_point at;
        QByteArray answer;
        sockaddr_in to;
    };

    static QByteArray answerTo(const QByteArray& query) {
        if (query.size() < 12)
            return {};
        int end = 12;
        while (end < query.size() && query[end] != 0)
            end += 1 + static_cast<unsigned char>(query[end]);
        end += 5; // the root label, the type and the class
        if (end > query.size())
            return {};
        const bool forIPv4 = query[end - 4] == 0 && query[end - 3] == 1;
        QByteArray answer = query.left(2);
        answer += QByteArray::fromHex("81800001000000000000");
        answer[7] = forIPv4 ? 1 : 0;
        answer += query.mid(12, end - 12);
        if (forIPv4)
            answer += QByteArray::fromHex("c00c000100010000003c00047f000001");
        return answer;
    }

    void serve() {
        std::vector<Due> due;
        while (!stop_) {
            char buffer[512];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t got = ::recvfrom(fd_, buffer, sizeof buffer, 0,
                                           reinterpret_cast<sockaddr*>(&from), &length);
            if (got > 0)
                due.push_back(
                    {std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs_),
                     answerTo(QByteArray(buffer, static_cast<int>(got))), from});
            const auto now = std::chrono::steady_clock::now();
            for (auto it = due.begin(); it != due.end();) {
                if (it->at > now) {
                    ++it;
                    continue;
                }
                ::sendto(fd_, it->answer.constData(), static_cast<size_t>(it->answer.size()), 0,
                         reinterpret_cast<const sockaddr*>(&it->to), sizeof it->to);
                it = due.erase(it);
            }
        }
    }

    int fd_ = -1;
    int delayMs_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The same two destinations by name, to an ingest whose name takes 200 ms to resolve (the
// resolver is far, or the link is a mobile one): the first destination's socket does not exist
// yet when the second starts.
TEST_F(EntryControllerHost, TwoDestinationsToOneSlowlyResolvedServerStartedTogetherBothShowIt) {
    constexpr const char* kResolver = "127.83.41.7";
    if (!std::getenv("RELAYCAST_SLOW_RESOLVER")) {
        const QString hosts = dir.filePath(QStringLiteral("hosts"));
        writeHosts(hosts, nullptr);
        const QString resolver = dir.filePath(QStringLiteral("resolv.conf"));
        QFile file(resolver);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("nameserver ") + kResolver + "\n");
        file.close();
        // Its name server listens on port 53 of an address of its own network only.
        runInOwnNamespace(QStringLiteral("RELAYCAST_SLOW_RESOLVER=1"), hosts, resolver, true);
        return;
    }
    SlowNameServer names(kResolver, 200);
    ASSERT_TRUE(names.started());
    RtmpServer named;
    QString error;
    ASSERT_TRUE(named.start(&error)) << error.toStdString();
    TcpGate gate(named.port(), TcpGate::Mode::Relay, 500);
    ASSERT_TRUE(gate.start());
    const QStringList keys{QStringLiteral("a"), QStringLiteral("b")};
    EntryConfig& entry = addEntry(QStringLiteral("rr"), keys, false);
    for (DestConfig& destination : entry.destinos)
        destination.url = QStringLiteral("rtmp://ingest.relaycast.test:%1/live").arg(gate.port());
    ASSERT_TRUE(controller.startEntry(QStringLiteral("rr")));
    ASSERT_TRUE(heartbeatUntil([&] { return gate.accepted() == 2; }, 10s));
    const QList<int32_t> received = receivedByEach(
        controller, keys, [&](const std::function<bool()>& c) { return heartbeatUntil(c, 15s); });
    std::printf("round-robin name resolved in 200 ms, two destinations started together: %d and "
                "%d kbit/s reach the server\n",
                received.value(0), received.value(1));
}

TEST_F(EntryControllerHost, ADestinationThatConnectsAfterItsOnlyLiveSiblingStoppedStillSends) {
    // The second destination's server answers 3 s late, so the first is live alone when the
    // user stops it; that stop shuts the input's encoders down under the one still connecting.
    TcpGate slow(rtmp.port(), TcpGate::Mode::Relay, 3000);
    ASSERT_TRUE(slow.start());
    EntryConfig& entry =
        addEntry(QStringLiteral("par"), {QStringLiteral("a"), QStringLiteral("b")}, false);
    entry.destinos[1].url = QStringLiteral("rtmp://127.0.0.1:%1/live").arg(slow.port());
    const auto state = [&](const QString& id) {
        return controller.destinationStatus(QStringLiteral("par"), id).state;
    };
    ASSERT_TRUE(controller.startEntry(QStringLiteral("par")));
    ASSERT_TRUE(
        heartbeatUntil([&] { return state(QStringLiteral("par-a")) == DestinationState::Live; }));
    ASSERT_NE(state(QStringLiteral("par-b")), DestinationState::Live);
    controller.stopDestination(QStringLiteral("par"), QStringLiteral("par-a"));

    // 600 kbit/s is about 75 kB a second once the stream flows.
    EXPECT_TRUE(heartbeatUntil([&] { return slow.forwardedBytes() > 150000; }, 20s))
        << "the late destination sent " << slow.forwardedBytes() << " bytes";
    EXPECT_EQ(state(QStringLiteral("par-b")), DestinationState::Live);
    EXPECT_EQ(rtmp.publishes(QStringLiteral("b")).size(), 2) << "started again once";
}

} // namespace

// OBS's own stream shares the upload: while it runs it counts in what the upload needs, at its
// encoders' bitrates, beside the destinations of ours.
TEST_F(EntryControllerHost, OBSsOwnStreamCountsInTheUploadWhileItRuns) {
    ObsOwnStream obs(rtmp.url(), 2000);
    frontend.setStreamingOutput(obs.output);
    const int32_t obsNeeds =
        uploadKbps(2000,
                   static_cast<int32_t>(obs_data_get_int(
                       OBSDataAutoRelease(obs_encoder_get_settings(obs.audio)), "bitrate")),
                   AddressKind::RTMP);
    controller.heartbeat();
    EXPECT_EQ(controller.upload().neededKbps(), 0) << "counted before it runs";
    ASSERT_TRUE(obs_output_start(obs.output));
    EXPECT_TRUE(heartbeatUntil([&] { return controller.upload().neededKbps() == obsNeeds; }));
    addEntry(QStringLiteral("mas"), {QStringLiteral("a")}, false);
    ASSERT_TRUE(controller.startEntry(QStringLiteral("mas")));
    EXPECT_TRUE(heartbeatUntil([&] { return controller.upload().neededKbps() > obsNeeds; }));
    controller.stopEntry(QStringLiteral("mas"));
    obs_output_stop(obs.output);
    EXPECT_TRUE(heartbeatUntil([&] { return controller.upload().neededKbps() == 0; }, 20s));
}

// An entry sending OBS's own stream encoders never changes them: an edit the running encoder
// would take needs a stop; caps are measured against OBS's bitrate, so a cap raised from below
// it to above it moves its destination from a rendition of its own onto OBS's packets.
TEST_F(EntryControllerHost, AnEntrySendingOBSsOwnStreamMeasuresCapsAgainstItAndNeverChangesIt) {
    EntryConfig& entry =
        addEntry(QStringLiteral("tope"), {QStringLiteral("p"), QStringLiteral("t")}, false);
    entry.seguirObs = true;
    entry.codificadorDeObs = true;
    entry.ancho = entry.alto = 0;
    entry.destinos[1].envio.videoKbpsMax = 1000;
    frontend.setCurrentScene(obs_scene_get_source(scene));
    ObsOwnStream obs(rtmp.url(), 2000);
    frontend.setStreamingOutput(obs.output);
    const EntryConfig base = entry;
    const auto sentEncoder = [&](const QString& destinationId) -> obs_encoder_t* {
        const EntryRuntime* runtime = controller.runtimeOf(base.id);
        if (!runtime || !runtime->outputs.contains(destinationId))
            return nullptr;
        return obs_output_get_video_encoder(hostOutputOf(*runtime->outputs.at(destinationId)));
    };
    const QString uncapped = base.destinos[0].id, capped = base.destinos[1].id;
    // A service's limits are checked against what is sent: OBS's encoders, at OBS's bitrate and
    // with OBS's keyframes, before the start and while they run.
    // A capped destination's rendition is ours, with the entry's keyframes (2 s by default).
    const auto checked = [&](const EntryPipeline* running, const SendChoice& choice = {}) {
        const SentStream sent = hostSentStreamOf(base, choice, running);
        return std::tuple(sent.videoKbps, sent.videoCodec, sent.keyintSecs, sent.audioCodec);
    };
    const auto obsSends = std::tuple(2000, QStringLiteral("h264"), -1, QStringLiteral("aac"));
    EXPECT_EQ(checked(nullptr), obsSends);
    EXPECT_EQ(checked(nullptr, base.destinos[1].envio),
              std::tuple(1000, QStringLiteral("h264"), 2, QStringLiteral("aac")));
    // Not OBS's program (a size of its own): its own encoder, at its own bitrate.
    EntryConfig ownSize = base;
    ownSize.ancho = 320;
    ownSize.alto = 180;
    EXPECT_EQ(hostSentStreamOf(ownSize, {}).videoKbps, base.videoKbps);
    ASSERT_TRUE(controller.startEntry(base.id));
    ASSERT_TRUE(heartbeatUntil([&] { return allLive(base.id); }));
    ASSERT_TRUE(controller.pipelineOf(base.id)->borrowsObsEncoders);
    EXPECT_EQ(checked(controller.pipelineOf(base.id)), obsSends);
    EXPECT_EQ(sentEncoder(uncapped), obs.video.Get());
    ASSERT_NE(sentEncoder(capped), obs.video.Get()) << "capped at 1000 below OBS's 2000";

    EntryConfig faster = base;
    faster.videoKbps = 1200;
    const EditOutcome refused = controller.editEntry({base, faster}, NeedsStop::Refuse);
    EXPECT_FALSE(refused.appliedLive) << "told applied while OBS's packets go on unchanged";
    EXPECT_TRUE(refused.needingStop.contains(StopField::Encoder));

    EntryConfig raised = base;
    raised.destinos[1].envio.videoKbpsMax = 5000;
    ASSERT_TRUE(controller.editEntry({base, raised}, NeedsStop::Refuse).appliedLive);
    EXPECT_TRUE(heartbeatUntil(
        [&] { return allLive(base.id) && sentEncoder(capped) == obs.video.Get(); }, 15s))
        << "the raised cap left it on its 1000 kbps rendition";
    controller.stopEntry(base.id);
    ASSERT_TRUE(heartbeatUntil([&] { return !controller.isEntryLive(base.id); }));
}

namespace {

// The relay's files as written, made runnable here: stunnel in the foreground, trusting the
// test's authority instead of the system's.
void startRelayAsWritten(const EntryConfig& entry, const QString& folder,
                         const TestCertificates& certificates, ChildProcess& tlsClients,
                         ConfiguredNginx& relay, const QList<uint16_t>& ports) {
    QString error;
    ASSERT_TRUE(writeRelayFiles(relayConfigurationOf(entry), folder, &error))
        << error.toStdString();
    QFile written(QDir(folder).filePath(kRelayStunnelFile));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    QString stunnel = QString::fromUtf8(written.readAll());
    stunnel.replace("pid = /run/stunnel-relaycast.pid", "pid =\nforeground = yes")
        .replace("/etc/ssl/certs/ca-certificates.crt", certificates.authorityPath());
    QFile runnable(QDir(folder).filePath("stunnel-test.conf"));
    ASSERT_TRUE(runnable.open(QIODevice::WriteOnly));
    runnable.write(stunnel.toUtf8());
    runnable.close();
    ASSERT_TRUE(tlsClients.start({"stunnel4", runnable.fileName()},
                                 QDir(folder).filePath("stunnel.out"),
                                 QDir(folder).filePath("stunnel.err")));
    ASSERT_TRUE(waitForTcpListener(entry.relevo.puertoLocal + 1, 10000));
    ASSERT_TRUE(relay.start(QDir(folder).filePath(kRelayNginxFile), ports, &error))
        << error.toStdString();
}

} // namespace

// An input sending through the streamer's relay, run from the configuration Relaycast wrote
// (ports free ones only): OBS uploads one stream while the relay pushes it to a plain RTMP
// platform, one behind TLS and one that restarts; each card follows its push, and a relay that
// goes away and comes back is recovered.
TEST_F(EntryControllerHost, ThroughTheRelayOBSUploadsOnceAndEachCardFollowsItsPush) {
    QString error;
    RtmpServer again;
    SrtListener srt;
    TestCertificates certificates;
    ASSERT_TRUE(certificates.make(&error)) << error.toStdString();
    // The platform behind TLS, once with a certificate for its name and once for another.
    TlsTerminator tls(certificates, rtmp), wrongName(certificates, rtmp);
    ASSERT_TRUE(again.start(&error)) << error.toStdString();
    ASSERT_TRUE(srt.start(&error)) << error.toStdString();
    ASSERT_TRUE(tls.start(TlsCertificate::Trusted, &error)) << error.toStdString();
    ASSERT_TRUE(wrongName.start(TlsCertificate::OtherName, &error)) << error.toStdString();
    const uint16_t ingest = freePort(), stats = freePort();
    // The publish check and two TLS clients take three ports in a row: all of them free now.
    const auto freeOnLoopback = [](int port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return bound;
    };
    uint16_t local = freePort();
    while (local > 65533 || !freeOnLoopback(local + 1) || !freeOnLoopback(local + 2) ||
           (local + 2 >= std::min(ingest, stats) && local <= std::max(ingest, stats)))
        local = freePort();

    EntryConfig& entry = addEntry(QStringLiteral("relayed"), {QStringLiteral("direct")}, false);
    const QString secret = newRelaySecret();
    entry.relevo = {QStringLiteral("rtmp://127.0.0.1:%1/in").arg(ingest),
                    QStringLiteral("http://127.0.0.1:%1/stats").arg(stats),
                    secret,
                    QStringLiteral("127.0.0.1"),
                    local,
                    {},
                    {}};
    const QStringList keys{"plain-key", "tls-key", "again-key", "wrong-name-key"};
    entry.destinos << destination("plain", rtmp.url(), keys[0])
                   << destination("tls", tls.url(), keys[1])
                   << destination("again", again.url(), keys[2])
                   << destination("wrong-name", wrongName.url(), keys[3])
                   << destination("srt", srt.url());
    for (int i = 1; i < entry.destinos.size(); ++i)
        entry.destinos[i].porRelevo = true;
    ChildProcess tlsClients;
    ConfiguredNginx relay;
    startRelayAsWritten(entry, dir.path(), certificates, tlsClients, relay, {ingest, stats, local});
    if (HasFatalFailure())
        return;
    const QString id = entry.id;
    const auto state = [&](const char* destinationId) {
        return controller.destinationStatus(id, destinationId).state;
    };
    const auto relayedLive = [&] {
        return state("plain") == DestinationState::Live && state("tls") == DestinationState::Live &&
               state("again") == DestinationState::Live;
    };
    LogCapture log;

    // Nobody gets in but OBS under the secret, and the page answers only at its secret path.
    for (const QString& wrong : {QStringLiteral("in/obs"), QStringLiteral("in/") + secret.left(8),
                                 QStringLiteral("other/") + secret}) {
        const CommandResult refused =
            runCommand({"ffmpeg", "-nostdin", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
                        "testsrc=size=160x120:rate=10", "-t", "2", "-c:v", "libx264", "-f", "flv",
                        QStringLiteral("rtmp://127.0.0.1:%1/").arg(ingest) + wrong},
                       20000);
        EXPECT_NE(refused.exitCode, 0) << wrong.toStdString();
    }
    EXPECT_TRUE(rtmp.publishes(keys[0]).isEmpty());
    for (const QString& path : {QStringLiteral("/stats"), QStringLiteral("/"),
                                QStringLiteral("/stats/") + secret + QLatin1Char('x')}) {
        prepareRelayStatsFetch();
        EXPECT_EQ(fetchRelayStatsPage(
                      QStringLiteral("http://127.0.0.1:%1%2").arg(stats).arg(path).toStdString())
                      .httpStatus,
                  404)
            << path.toStdString();
    }

    ASSERT_TRUE(controller.startEntry(id, &error)) << error.toStdString();
    const double directSecs =
        secondsUntil([&] { return state("relayed-direct") == DestinationState::Live; });
    const double relayedSecs = secondsUntil(relayedLive);
    ASSERT_GT(relayedSecs, 0) << relay.errorLog().toStdString();
    // One output for the five destinations behind the relay.
    EXPECT_EQ(controller.runtimeOf(id)->outputs.size(), 2u);
    // SRT through the relay's own ffmpeg; TLS only to a certificate for the platform's name.
    EXPECT_TRUE(heartbeatUntil(
        [&] { return state("srt") == DestinationState::Live && srt.recordedBytes() > 0; }, 15s))
        << srt.log().toStdString();
    EXPECT_EQ(state("wrong-name"), DestinationState::Reconnecting);
    EXPECT_TRUE(rtmp.publishes(keys[3]).isEmpty());
    EXPECT_GT(wrongName.handshakesRefused(), 0);

    const auto received = [&] {
        return rtmp.bytesIn(keys[0]) + rtmp.bytesIn(keys[1]) + again.bytesIn(keys[2]);
    };
    const uint64_t sentBefore = controller.relayOutputStatus(id).sentBytes;
    const qint64 receivedBefore = received();
    heartbeatUntil([] { return false; }, 4s);
    const double uploaded = double(controller.relayOutputStatus(id).sentBytes - sentBefore);
    const double got = double(received() - receivedBefore);
    EXPECT_GT(got, 2.5 * uploaded);
    EXPECT_LT(got, 3.5 * uploaded);
    for (const QString& url :
         {rtmp.playUrl(keys[0]), rtmp.playUrl(keys[1]), again.playUrl(keys[2])}) {
        const ProbeResult probe = probeStreams(url);
        ASSERT_TRUE(probe.ok) << probe.error.toStdString();
        EXPECT_EQ(probe.first("video")->codec, "h264");
        EXPECT_EQ(probe.first("audio")->codec, "aac");
    }

    // A platform that restarts: its card says so while its siblings stay live.
    again.stop();
    EXPECT_TRUE(
        heartbeatUntil([&] { return state("again") == DestinationState::Reconnecting; }, 15s));
    EXPECT_EQ(state("plain"), DestinationState::Live);
    ASSERT_TRUE(again.start(&error)) << error.toStdString();
    const double backSecs = secondsUntil([&] { return state("again") == DestinationState::Live; });
    EXPECT_GT(backSecs, 0);
    EXPECT_FALSE(again.publishes(keys[2]).isEmpty());

    // The relay itself goes away: OBS's output to it recovers as any destination does.
    relay.stop();
    EXPECT_TRUE(heartbeatUntil(
        [&] { return controller.relayOutputStatus(id).state == DestinationState::Reconnecting; },
        15s));
    EXPECT_EQ(state("relayed-direct"), DestinationState::Live);
    ASSERT_TRUE(
        relay.start(QDir(dir.path()).filePath(kRelayNginxFile), {ingest, stats, local}, &error))
        << error.toStdString();
    const double relayBackSecs = secondsUntil(relayedLive, 60s);
    EXPECT_GT(relayBackSecs, 0);

    std::printf("through the relay: OBS uploaded %.0f KiB in 4 s, its three platforms received "
                "%.0f KiB (%.2f times); start to Live %.1f s through the relay, %.1f s direct; "
                "a platform back -> its card Live after %.1f s; the relay back -> all Live after "
                "%.1f s\n",
                uploaded / 1024, got / 1024, got / uploaded, relayedSecs, directSecs, backSecs,
                relayBackSecs);
    for (const QString& line : log.lines()) {
        EXPECT_FALSE(line.contains(secret)) << line.toStdString();
        for (const QString& key : keys)
            EXPECT_FALSE(line.contains(key)) << line.toStdString();
    }
    controller.stopEntry(id);
    tlsClients.stop(SIGTERM, 5000);
}

// A destination's relay mark changed while it streams, the change kept for the next start: its
// own stop still ends what runs for it, and nothing goes on streaming for it unseen (the
// stream to the relay standing for nobody any more, or its own output behind a row that now
// reads the relay's).
TEST_F(EntryControllerHost, AMarkChangedWhileStreamingLeavesNothingItsStopMisses) {
    for (const bool markedAtStart : {false, true}) {
        SCOPED_TRACE(markedAtStart ? "relayed, then direct" : "direct, then relayed");
        EntryConfig& entry =
            addEntry(markedAtStart ? QStringLiteral("mark-off") : QStringLiteral("mark-on"),
                     {QStringLiteral("marked-key")}, false);
        // The local server stands in for the relay: it takes the publish under the secret.
        entry.relevo.entrada = rtmp.url();
        entry.relevo.estadisticas = QStringLiteral("http://127.0.0.1:%1/stats").arg(freePort());
        entry.relevo.secreto = newRelaySecret();
        entry.destinos[0].porRelevo = markedAtStart;
        const QString id = entry.id;
        const QString destinationId = entry.destinos[0].id;
        const QString sentAs = markedAtStart ? entry.relevo.secreto : QStringLiteral("marked-key");
        QString error;
        ASSERT_TRUE(controller.startEntry(id, &error)) << error.toStdString();
        ASSERT_TRUE(heartbeatUntil([&] { return rtmp.bytesIn(sentAs) > 0; }));

        EntryEdit edit{*controller.findEntry(id), *controller.findEntry(id)};
        edit.wanted.destinos[0].porRelevo = !markedAtStart;
        ASSERT_EQ(controller.editEntry(edit, NeedsStop::NextStart).result,
                  EditOutcome::Result::Done);
        // What streams for it reads as running on its row.
        EXPECT_TRUE(controller.hasOutput(id, destinationId));

        controller.stopDestination(id, destinationId);
        EXPECT_TRUE(heartbeatUntil([&] { return !controller.isEntryLive(id); }, 10s));
        controller.stopEntry(id);
        ASSERT_TRUE(heartbeatUntil([&] { return !controller.isEntryLive(id); }));
    }
}
