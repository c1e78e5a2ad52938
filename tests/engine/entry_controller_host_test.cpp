// The entry controller on the real host, as hotkeys, remote requests and OBS's own stream use
// it without the dock: whole entries and everything started and stopped, the entries that go
// with OBS's stream following it, a restart right after a stop, every ending told once, an
// exit that no stuck output holds up, and recordings beside the streams.

#include "config/config_store.h"
#include "engine/entry_controller.h"
#include "engine/host_call_queue.h"
#include "support/fake_frontend.h"
#include "support/local_servers.h"
#include "support/media_probe.h"
#include "support/stream_harness.h"
#include "support/test_host.h"
#include "support/unanswered_port.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <thread>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

class EntryControllerHost : public testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(rtmp.start(&error)) << error.toStdString();
        addToScene(scene, colour);
        frontend.setCurrentSceneCollection(QStringLiteral("Escenas"));
    }
    void TearDown() override { controller.shutdown(); }

    EntryConfig& addEntry(const QString& id, const QStringList& keys, bool withObsStream) {
        QList<DestConfig> destinations;
        for (const QString& key : keys)
            destinations << destination(id + QLatin1Char('-') + key, rtmp.url(), key);
        EntryConfig entry = entrySending(QStringLiteral("controlada"), 640, 360, destinations);
        entry.id = id;
        entry.videoKbps = 600;
        entry.conEmisionObs = withObsStream;
        store.entriesOf(QStringLiteral("Escenas")) << entry;
        return store.entriesOf(QStringLiteral("Escenas")).back();
    }

    // Runs the heartbeat every 500 ms, as the plug-in does, until `condition` holds.
    bool heartbeatUntil(const std::function<bool()>& condition,
                        std::chrono::milliseconds timeout = 30s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(500ms);
            controller.heartbeat();
        }
        return true;
    }

    // Polls `condition` every 20 ms with the heartbeat every 500 ms; how long it took, or a
    // negative figure when it never held.
    double secondsUntil(const std::function<bool()>& condition,
                        std::chrono::milliseconds timeout = 30s) {
        const auto begin = std::chrono::steady_clock::now();
        auto nextBeat = begin + 500ms;
        while (!condition()) {
            const auto now = std::chrono::steady_clock::now();
            if (now - begin > timeout)
                return -1;
            if (now >= nextBeat) {
                controller.heartbeat();
                nextBeat = now + 500ms;
            }
            std::this_thread::sleep_for(20ms);
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    }

    DestinationState recordingState(const QString& entryId) {
        return controller.recordingStatus(entryId).state;
    }

    bool allLive(const QString& entryId) {
        for (const DestConfig& d : controller.findEntry(entryId)->destinos)
            if (controller.destinationStatus(entryId, d.id).state != DestinationState::Live)
                return false;
        return true;
    }

    RtmpServer rtmp;
    OBSSceneAutoRelease scene = createScene("controlada");
    OBSSourceAutoRelease colour = createColorSource("controlada-color", kOpaqueBlue, 640, 360);
    QTemporaryDir dir;
    ConfigStore store{dir.filePath(QStringLiteral("salidas.json"))};
    FakeFrontend frontend;
    EntryController controller{store};
};

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

TEST_F(EntryControllerHost, ExitWithThreeOutputsStuckConnectingEndsInBoundedTime) {
    UnansweredPort nowhere;
    ASSERT_NE(nowhere.port(), 0);
    for (const char* id : {"a1", "a2", "a3"}) {
        EntryConfig& entry = addEntry(QString::fromLatin1(id), {QStringLiteral("k")}, false);
        entry.destinos[0].url = QStringLiteral("rtmp://127.0.0.1:%1/live").arg(nowhere.port());
    }
    ASSERT_TRUE(controller.startAll());
    heartbeatUntil([] { return false; }, 1s); // the connection attempts are under way

    const auto begin = std::chrono::steady_clock::now();
    controller.shutdown();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf("exit with three outputs stuck connecting: %.1f s\n", seconds);
    EXPECT_LE(seconds, 11.0);
    EXPECT_EQ(unfinishedBackgroundHostCalls(), 0) << "something was left stuck";
    EXPECT_EQ(countPluginHostObjects(), 0);
}

TEST_F(EntryControllerHost, RecordingBesideTheStreamsIsAPlayableFileAndTheyStreamOn) {
    SrtListener srt;
    QString error;
    ASSERT_TRUE(srt.start(&error)) << error.toStdString();
    const QString id = QStringLiteral("graba");
    EntryConfig& entry = addEntry(id, {QStringLiteral("r")}, false);
    entry.destinos << destination(QStringLiteral("graba-srt"), srt.url());
    entry.grabacion.carpeta = dir.path();
    ASSERT_TRUE(controller.startEntry(id, &error)) << error.toStdString();
    ASSERT_TRUE(heartbeatUntil([&] { return allLive(id); }));
    const int audioEncoders = countHostEncoders("relaycast-audio");
    const qint64 srtBytes = srt.recordedBytes();

    ASSERT_TRUE(controller.startRecording(id, &error)) << error.toStdString();
    const double startSecs =
        secondsUntil([&] { return recordingState(id) == DestinationState::Live; });
    ASSERT_GE(startSecs, 0) << controller.recordingStatus(id).message.toStdString();
    EXPECT_EQ(countHostEncoders("relaycast-audio"), audioEncoders) << "a second audio encode";
    EXPECT_EQ(countHostEncoders("relaycast-video"), 1);
    heartbeatUntil([] { return false; }, 4s);
    const DestinationStatus recording = controller.recordingStatus(id);
    EXPECT_GE(recording.uptimeSecs, 3);
    EXPECT_GT(recording.sentBytes, 50'000u);
    const QString file = recording.file;
    EXPECT_TRUE(file.startsWith(dir.path()) && file.endsWith(QLatin1String(".mkv")))
        << file.toStdString();

    ASSERT_TRUE(controller.stopRecording(id));
    const double stopSecs = secondsUntil([&] { return !controller.hasRecording(id); });
    ASSERT_GE(stopSecs, 0);
    std::printf("recording beside two streams: Live %.2f s after the start, ended %.2f s after "
                "the stop, %llu bytes\n",
                startSecs, stopSecs, static_cast<unsigned long long>(QFileInfo(file).size()));
    EXPECT_EQ(controller.recordingStatus(id).state, DestinationState::Idle);
    EXPECT_EQ(controller.recordingStatus(id).file, file) << "the card still names the file";

    const ProbeResult probe = probeStreams(file);
    ASSERT_TRUE(probe.ok) << probe.error.toStdString();
    ASSERT_TRUE(probe.first(QStringLiteral("video")) && probe.first(QStringLiteral("audio")));
    EXPECT_EQ(probe.first(QStringLiteral("video"))->codec, QStringLiteral("h264"));
    EXPECT_EQ(probe.first(QStringLiteral("video"))->width, 640);
    EXPECT_EQ(probe.first(QStringLiteral("video"))->height, 360);
    EXPECT_EQ(probe.first(QStringLiteral("audio"))->codec, QStringLiteral("aac"));
    // The file begins at the encoder's next keyframe (every 2 s here).
    EXPECT_GE(probe.durationSecs, 4.0 - 2.5);
    EXPECT_LE(probe.durationSecs, 4.0 + 1.5);
    // The streams went on through the recording's start and stop.
    EXPECT_TRUE(allLive(id));
    EXPECT_EQ(rtmp.publishes(QStringLiteral("r")).size(), 1);
    EXPECT_GT(srt.recordedBytes(), srtBytes);
    EXPECT_EQ(countHostOutputs("relaycast-grabacion"), 0);

    // A recording that goes with the streams stops with them; one started alone keeps going.
    controller.findEntry(id)->grabacion.conEmisiones = true;
    ASSERT_TRUE(controller.startRecording(id));
    ASSERT_GE(secondsUntil([&] { return recordingState(id) == DestinationState::Live; }), 0);
    EXPECT_NE(controller.recordingStatus(id).file, file) << "a new recording, a new file";
    controller.stopEntry(id);
    ASSERT_GE(secondsUntil([&] { return !controller.isEntryLive(id); }), 0);
    controller.findEntry(id)->grabacion.conEmisiones = false;
    ASSERT_TRUE(controller.startRecording(id));
    ASSERT_GE(secondsUntil([&] { return recordingState(id) == DestinationState::Live; }), 0);
    EXPECT_EQ(controller.destinationStatus(id, QStringLiteral("graba-r")).state,
              DestinationState::Idle)
        << "recording alone, no destination live";
    heartbeatUntil([] { return false; }, 2s);
    controller.stopEntry(id);
    EXPECT_EQ(recordingState(id), DestinationState::Live);
    controller.stopRecording(id);
    ASSERT_GE(secondsUntil([&] { return !controller.isEntryLive(id); }), 0);
    const ProbeResult alone = probeStreams(controller.recordingStatus(id).file);
    ASSERT_TRUE(alone.ok) << alone.error.toStdString();
    EXPECT_GE(alone.durationSecs, 1.0) << "alone, the encoder starts with the file";
    EXPECT_LE(alone.durationSecs, 3.5);
}

TEST_F(EntryControllerHost, AFolderThatTakesNoFileOrAFullDiskFailsTheRecordingAndNotTheStreams) {
    const QString id = QStringLiteral("sin-sitio");
    EntryConfig& entry = addEntry(id, {QStringLiteral("s")}, false);
    entry.grabacion.carpeta = QStringLiteral("/proc");
    ASSERT_TRUE(controller.startEntry(id));
    ASSERT_TRUE(heartbeatUntil([&] { return allLive(id); }));

    QString error;
    EXPECT_FALSE(controller.startRecording(id, &error));
    EXPECT_EQ(error, QString::fromUtf8("No se pudo grabar: No se puede escribir en la carpeta de "
                                       "grabación «/proc»."));
    EXPECT_EQ(recordingState(id), DestinationState::Failed);
    EXPECT_EQ(controller.recordingStatus(id).message,
              QString::fromUtf8("No se puede escribir en la carpeta de grabación «/proc»."));

    // The writer may grow its file to 256 KiB and no further, as on a disk that fills up.
    controller.findEntry(id)->grabacion.carpeta = dir.path();
    std::signal(SIGPIPE, SIG_IGN); // as OBS itself does: the writer's pipe breaks
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit small = before;
    small.rlim_cur = 256 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool started = controller.startRecording(id, &error); // the writer inherits the limit
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, SIG_DFL);
    ASSERT_TRUE(started) << error.toStdString();
    ASSERT_GE(secondsUntil([&] { return recordingState(id) == DestinationState::Failed; }), 0)
        << "state " << stateName(recordingState(id));
    EXPECT_TRUE(controller.recordingStatus(id).message.startsWith(
        QString::fromUtf8("La grabación se detuvo: no se pudo seguir escribiendo el archivo")))
        << controller.recordingStatus(id).message.toStdString();
    heartbeatUntil([] { return false; }, 1s);
    EXPECT_TRUE(allLive(id)) << "the stream went on";
    EXPECT_EQ(rtmp.publishes(QStringLiteral("s")).size(), 1);
    EXPECT_FALSE(controller.hasRecording(id));
}

} // namespace
