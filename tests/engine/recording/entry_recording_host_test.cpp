// Recordings through the entry controller on the real host: a playable file beside RTMP and
// SRT streams that go on, with and without them, and folders or a writer that cannot take the
// file failing the recording alone.

#include "engine/entry/entry_controller_fixture.h"
#include "engine/recording/folder_call.h"
#include "engine/recording/recording_file_claim.h"
#include "support/media_probe.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

// Mounts `folder`, or skips the test where the machine cannot; a writer's pipe may then break
// without ending the process, as in OBS itself.
void mountOrSkip(PausableFolder& folder) {
    QString why;
    if (!folder.mount(&why))
        GTEST_SKIP() << why.toStdString();
    std::signal(SIGPIPE, SIG_IGN);
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

TEST_F(EntryControllerHost, RecordingsStartedTogetherEachWriteAFileOfTheirOwnThatPlays) {
    // Two unnamed inputs of one scene share their name; the third's is longer than any file
    // system takes.
    const QStringList ids{QStringLiteral("uno"), QStringLiteral("dos"), QStringLiteral("largo")};
    for (const QString& id : ids) {
        EntryConfig& entry = addEntry(id, {}, false);
        entry.nombre = id == ids.back() ? QString::fromUtf8("縦型配信").repeated(200) : QString();
        entry.grabacion.carpeta = dir.path();
        entry.grabacion.conEmisiones = true;
    }
    const auto all = [&](DestinationState state) {
        return std::all_of(ids.begin(), ids.end(),
                           [&](const QString& id) { return recordingState(id) == state; });
    };
    QString error;
    ASSERT_TRUE(controller.startAll(&error)) << error.toStdString();
    ASSERT_GE(secondsUntil([&] { return all(DestinationState::Live); }), 0);
    heartbeatUntil([] { return false; }, 3s);
    controller.stopAll();
    ASSERT_GE(secondsUntil([&] { return all(DestinationState::Idle); }), 0);
    QSet<QString> files;
    for (const QString& id : ids) {
        files.insert(controller.recordingStatus(id).file);
        const ProbeResult probe = probeStreams(controller.recordingStatus(id).file);
        EXPECT_TRUE(probe.ok && probe.first(QStringLiteral("video"))) << probe.error.toStdString();
    }
    std::printf("three recordings started together wrote %d file(s)\n",
                static_cast<int>(QDir(dir.path()).entryList({QStringLiteral("*.mkv")}).size()));
    EXPECT_EQ(files.size(), 3);
    EXPECT_TRUE(QFileInfo(controller.recordingStatus(ids.back()).file)
                    .fileName()
                    .contains(QString::fromUtf8("縦型配信")));
}

TEST_F(EntryControllerHost, ANameHeldByARecordingIsNeverFreeWhileItsOutputStarts) {
    // Another claim for the same file through another spelling of its folder (here a link to
    // it; a second OBS, a folder on a disk that ignores case): it looks the moment the host's
    // output removes the file as it starts.
    QTemporaryDir folder;
    const QString link = dir.filePath(QStringLiteral("enlace"));
    ASSERT_TRUE(QFile::link(folder.path(), link));
    const QString id = QStringLiteral("propia");
    addEntry(id, {}, false).grabacion.carpeta = folder.path();
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(folder.path()).constData(),
                                  IN_CREATE | IN_DELETE),
              0);
    std::unique_ptr<RecordingFileClaim> other;
    std::atomic<bool> looked{false};
    std::thread looker([&] {
        alignas(inotify_event) char events[4096];
        pollfd ready{watch, POLLIN, 0};
        std::optional<RecordingFileCandidates> candidates; // ready when the name is claimed
        while (!other && ::poll(&ready, 1, 5000) > 0) {
            const ssize_t got = ::read(watch, events, sizeof events);
            for (ssize_t at = 0; at < got && !other;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->len == 0)
                    continue;
                const QString name = QString::fromUtf8(event->name);
                if (name.endsWith(QLatin1String(kClaimMarkerSuffix)))
                    continue; // the recording's file itself is what the other claim wants
                if (event->mask & IN_CREATE && !candidates) {
                    candidates = recordingFileCandidates({link, name.chopped(4), name.right(4)});
                } else if (event->mask & IN_DELETE && candidates) {
                    other = claimRecordingFile(*candidates).claim;
                    looked = true;
                }
            }
        }
    });
    QString error;
    const bool started = controller.startRecording(id, &error);
    heartbeatUntil([&] { return looked.load(); }, 6s); // the output starts behind its claim
    looker.join();
    ::close(watch);
    ASSERT_TRUE(started) << error.toStdString();
    ASSERT_GE(secondsUntil([&] { return recordingState(id) == DestinationState::Live; }), 0);
    const QString ours = controller.recordingStatus(id).file;
    struct stat mine = {};
    struct stat theirs = {};
    ASSERT_EQ(::stat(QFile::encodeName(ours).constData(), &mine), 0);
    ASSERT_TRUE(other) << "the other claim looked while the output started";
    if (::stat(QFile::encodeName(other->path()).constData(), &theirs) == 0) {
        EXPECT_FALSE(mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino)
            << "two recordings hold one file: " << ours.toStdString() << " and "
            << other->path().toStdString();
    }
    controller.stopRecording(id);
    EXPECT_GE(secondsUntil([&] { return !controller.hasRecording(id); }), 0);
}

TEST_F(EntryControllerHost, AnInputNameWithShellCharactersIsTheFileTheRecordingWrites) {
    // OBS 29 starts its file writer through "sh -c" with the path in double quotes, where the
    // shell still expands "$" and "`": an input's name (a scene's, or one set remotely) must
    // never reach it as a command.
    QTemporaryDir folder;
    std::signal(SIGPIPE, SIG_IGN); // as OBS itself does: a writer that fails breaks its pipe
    const QString id = QStringLiteral("shell");
    EntryConfig& entry = addEntry(id, {}, false);
    entry.nombre = QStringLiteral("Show $(echo ran) `echo ran`");
    entry.grabacion.carpeta = folder.path();
    QString error;
    ASSERT_TRUE(controller.startRecording(id, &error)) << error.toStdString();
    ASSERT_GE(secondsUntil([&] { return recordingState(id) == DestinationState::Live; }), 0);
    heartbeatUntil([] { return false; }, 3s);
    controller.stopRecording(id);
    ASSERT_GE(secondsUntil([&] { return !controller.hasRecording(id); }), 0);
    const QString file = controller.recordingStatus(id).file;
    QStringList written; // the claim's marker goes a moment after the recording
    heartbeatUntil(
        [&] {
            written = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
            return written.size() == 1;
        },
        5s);
    EXPECT_EQ(written.join(QStringLiteral(" | ")).toStdString(),
              QFileInfo(file).fileName().toStdString())
        << "what the writer wrote against what the card names";
    EXPECT_TRUE(probeStreams(file).ok) << "the file the card names plays";

    // A folder whose own path holds them is refused: no name we choose can make it safe.
    for (const char* name : {"a$(echo ran)", "a`echo ran`", "a\\b", "a\"b"}) {
        const QString unsafe = QDir(folder.path()).filePath(QString::fromUtf8(name));
        ASSERT_TRUE(QDir().mkpath(unsafe));
        const QString refusedId = QStringLiteral("shell-folder ") + QString::fromUtf8(name);
        addEntry(refusedId, {}, false).grabacion.carpeta = unsafe;
        EXPECT_FALSE(controller.startRecording(refusedId, &error)) << name;
        EXPECT_TRUE(error.contains(unsafe) && error.contains(QStringLiteral("barra invertida")))
            << error.toStdString();
        EXPECT_TRUE(QDir(unsafe).isEmpty()) << "nothing was claimed in " << name;
    }
}

TEST_F(EntryControllerHost, AFolderThatStopsAnsweringHoldsUpNeitherTheInterfaceNorTheStreams) {
    PausableFolder folder;
    mountOrSkip(folder);
    if (IsSkipped())
        return;
    const QString id = QStringLiteral("nfs");
    addEntry(id, {QStringLiteral("n")}, false).grabacion.carpeta = folder.path();
    ASSERT_TRUE(controller.startEntry(id) && controller.startRecording(id));
    ASSERT_GE(secondsUntil([&] { return recordingState(id) == DestinationState::Live; }), 0);
    heartbeatUntil([] { return false; }, 6s); // a file with something in it to keep
    const auto streamGoesOn = [&] {
        const uint64_t sent = controller.destinationStatus(id, QStringLiteral("nfs-n")).sentBytes;
        heartbeatUntil([] { return false; }, 2s);
        return allLive(id) &&
               controller.destinationStatus(id, QStringLiteral("nfs-n")).sentBytes > sent + 100'000;
    };
    longestHeartbeatSecs = 0;

    // While recording the card says so (the host's writer holds what it cannot write). A stop
    // would hold up the encoders until the folder answers: the writer is ended instead.
    folder.pause(20s);
    EXPECT_GE(secondsUntil([&] { return controller.recordingStatus(id).folderSilent; }, 10s), 0);
    EXPECT_TRUE(streamGoesOn());
    EXPECT_EQ(recordingState(id), DestinationState::Live);
    controller.stopRecording(id);
    EXPECT_GE(secondsUntil([&] { return !controller.hasRecording(id); }, 10s), 0);
    EXPECT_EQ(controller.recordingStatus(id).message,
              QString::fromUtf8("La carpeta de grabación no responde: la grabación se detuvo para "
                                "que las emisiones sigan. Lo grabado hasta ahora queda en el "
                                "archivo."));
    EXPECT_TRUE(streamGoesOn());
    const double whileRecording = longestHeartbeatSecs;
    folder.resume();
    ASSERT_TRUE(heartbeatUntil([&] { return folderAnswering(folder.path()); }, 5s));
    EXPECT_TRUE(probeStreams(controller.recordingStatus(id).file).ok) << "what was written stays";

    // A start waits as Starting, then fails; the claim that answers late leaves no file behind.
    folder.pause(15s);
    longestHeartbeatSecs = 0;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(controller.startRecording(id));
    const double startCall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_EQ(recordingState(id), DestinationState::Starting);
    const double failedAfter =
        secondsUntil([&] { return recordingState(id) == DestinationState::Failed; });
    EXPECT_EQ(controller.recordingStatus(id).message,
              QString::fromUtf8("La carpeta de grabación «%1» no responde.").arg(folder.path()));
    EXPECT_TRUE(streamGoesOn());
    folder.resume();
    EXPECT_TRUE(
        heartbeatUntil([&] { return QDir(folder.path()).entryList(QDir::Files).size() == 1; }, 5s));
    std::printf("folder not answering: the longest heartbeat %.3f s while recording, %.3f s while "
                "starting; the start call %.3f s; the start failed after %.2f s\n",
                whileRecording, longestHeartbeatSecs, startCall, failedAfter);
    EXPECT_LT(std::max({whileRecording, longestHeartbeatSecs, startCall}), 0.2);
    EXPECT_GE(failedAfter, 2);
}

TEST_F(EntryControllerHost, AFolderThatStopsAnsweringAfterTheClaimDoesNotHoldUpTheInterface) {
    // The host's file output opens and removes its file as it starts: on whatever thread starts
    // it.
    PausableFolder folder;
    mountOrSkip(folder);
    if (IsSkipped())
        return;
    const QString id = QStringLiteral("lenta");
    addEntry(id, {QStringLiteral("l")}, false).grabacion.carpeta = folder.path();
    ASSERT_TRUE(controller.startEntry(id));
    ASSERT_TRUE(heartbeatUntil([&] { return allLive(id); }));

    // A folder slow to answer: the claim goes on in the background and answers.
    folder.pause(500ms);
    ASSERT_TRUE(controller.startRecording(id));
    ASSERT_EQ(recordingState(id), DestinationState::Starting);
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (QDir(folder.path()).entryList(QDir::Files).isEmpty() &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    ASSERT_FALSE(QDir(folder.path()).entryList(QDir::Files).isEmpty()) << "the name is claimed";
    std::this_thread::sleep_for(300ms); // the claim's last look at its file, a moment at most

    // Then it stops answering before the next heartbeat starts the recording's output.
    folder.pause(8s);
    longestHeartbeatSecs = 0;
    beat();
    const double startBeat = longestHeartbeatSecs;
    folder.resume();
    std::printf("the heartbeat that started the recording took %.3f s\n", startBeat);
    EXPECT_LT(startBeat, 0.2) << "the interface thread waited for the folder";
    heartbeatUntil([&] { return recordingState(id) != DestinationState::Starting; }, 10s);
    controller.stopRecording(id);
    EXPECT_GE(secondsUntil([&] { return !controller.hasRecording(id); }, 10s), 0);
}

TEST_F(EntryControllerHost, AFolderThatStopsAnsweringAsTheRecordingStartsHoldsUpNoStopOrExit) {
    // The folder stops answering the moment the host's output has removed the file as it
    // started, before the claim made it again.
    PausableFolder folder;
    mountOrSkip(folder);
    if (IsSkipped())
        return;
    const QString id = QStringLiteral("corte");
    addEntry(id, {QStringLiteral("c")}, false).grabacion.carpeta = folder.path();
    ASSERT_TRUE(controller.startEntry(id));
    ASSERT_TRUE(heartbeatUntil([&] { return allLive(id); }));
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(folder.path()).constData(), IN_DELETE),
              0);
    std::atomic<bool> paused{false};
    std::thread pauser([&] {
        pollfd ready{watch, POLLIN, 0};
        if (::poll(&ready, 1, 5000) > 0) {
            folder.pause(40s);
            paused = true;
        }
    });
    const bool started = controller.startRecording(id);
    heartbeatUntil([&] { return paused.load(); }, 6s); // the output starts behind its claim
    pauser.join();
    ::close(watch);
    ASSERT_TRUE(started && paused);

    // The writer is ended so that the streams go on; nothing of the recording waits on.
    EXPECT_GE(secondsUntil([&] { return !controller.hasRecording(id); }, 15s), 0);
    obs_output_t* output = obs_get_output_by_name("relaycast-grabacion"); // for the rescue below
    obs_output_release(output);
    const auto begin = std::chrono::steady_clock::now();
    controller.shutdown();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const int stuck = unfinishedBackgroundHostCalls();
    folder.resume();
    const bool releasedOnceItAnswers = drainBackgroundHostCallsWithin(15s);
    if (!releasedOnceItAnswers && output) {
        // Still inside its release (so not freed): what the host waits for, so that this test
        // program can end.
        obs_output_end_data_capture(output);
        drainBackgroundHostCallsWithin(5s);
    }
    std::printf("exit after the folder stopped answering as the recording started: %.1f s, %d "
                "host call(s) left to OBS\n",
                seconds, stuck);
    EXPECT_LE(seconds, 6.0);
    EXPECT_EQ(stuck, 0) << "the recording's release waits behind a call to its folder";
    EXPECT_TRUE(releasedOnceItAnswers)
        << "the host waits for ever in the recording's release: its writer had ended the "
           "output by itself when the forced stop, queued behind the call to the folder, came";
}

TEST_F(EntryControllerHost, AnMp4WhoseWriterIsEndedForTheStreamsIsSaidLikelyNotToPlay) {
    // An MP4's index is written at its end: a writer ended before it leaves no playable file.
    PausableFolder folder;
    mountOrSkip(folder);
    if (IsSkipped())
        return;
    const QString id = QStringLiteral("mp4");
    EntryConfig& entry = addEntry(id, {QStringLiteral("m")}, false);
    entry.grabacion.carpeta = folder.path();
    entry.grabacion.formato = QStringLiteral("mp4");
    ASSERT_TRUE(controller.startEntry(id) && controller.startRecording(id));
    ASSERT_GE(secondsUntil([&] { return recordingState(id) == DestinationState::Live; }), 0);
    heartbeatUntil([] { return false; }, 6s);
    folder.pause(20s);
    ASSERT_GE(secondsUntil([&] { return controller.recordingStatus(id).folderSilent; }, 10s), 0);
    controller.stopRecording(id);
    ASSERT_GE(secondsUntil([&] { return !controller.hasRecording(id); }), 0);
    const DestinationStatus ended = controller.recordingStatus(id);
    folder.resume();
    ASSERT_TRUE(heartbeatUntil([&] { return folderAnswering(folder.path()); }, 5s));
    const ProbeResult probe = probeStreams(ended.file);
    const bool promised = ended.message.contains(QString::fromUtf8("Lo grabado hasta ahora queda"));
    std::printf("MP4 after its folder stopped answering: \"%s\"; the file %s\n",
                ended.message.toUtf8().constData(), probe.ok ? "plays" : "does not play");
    EXPECT_TRUE(probe.ok || !promised)
        << "the card says what was recorded stays in the file: " << probe.error.toStdString();
    EXPECT_TRUE(probe.ok || ended.message.contains(QStringLiteral("no se pueda reproducir")))
        << "the card tells the file likely does not play";
}

TEST_F(EntryControllerHost, AnMp4AloneWhoseFolderIsSilentAMomentAsAllStopsIsFinished) {
    // No stream waits on its encoders, and the folder answers again a moment later (within the
    // exit's grace; a scene collection change has no bound at all): nothing asks for the writer
    // to be ended, and the file is finished.
    PausableFolder folder;
    mountOrSkip(folder);
    if (IsSkipped())
        return;
    const struct {
        const char* when;
        bool exit;
    } cases[] = {{"a scene collection change", false}, {"the exit", true}};
    for (const auto& c : cases) {
        const QString id = QString::fromUtf8(c.when).left(5);
        EntryConfig& entry = addEntry(id, {}, false);
        entry.grabacion.carpeta = folder.path();
        entry.grabacion.formato = QStringLiteral("mp4");
        ASSERT_TRUE(controller.startRecording(id)) << c.when;
        ASSERT_GE(secondsUntil([&] { return recordingState(id) == DestinationState::Live; }), 0);
        heartbeatUntil([] { return false; }, 4s);
        const QString file = controller.recordingStatus(id).file;

        folder.pause(6s); // a share that does not answer for a few seconds
        ASSERT_GE(secondsUntil([&] { return controller.recordingStatus(id).folderSilent; }, 6s), 0);
        const auto begin = std::chrono::steady_clock::now();
        if (c.exit)
            controller.shutdown();
        else
            controller.stopEverything();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        ASSERT_TRUE(heartbeatUntil([&] { return folderAnswering(folder.path()); }, 8s));
        drainBackgroundHostCalls();
        const ProbeResult probe = probeStreams(file);
        std::printf("MP4 alone, its folder silent for a moment at %s: %.1f s, the file %s\n",
                    c.when, seconds, probe.ok ? "plays" : "does not play");
        EXPECT_TRUE(probe.ok) << c.when << ": the writer was ended though its folder answered "
                              << "a moment later: " << probe.error.toStdString();
    }
}

TEST_F(EntryControllerHost, ExitJustAfterTheRecordingsFolderStopsAnsweringEndsInBoundedTime) {
    // The writer waits for the folder and its output's release waits for the writer: OBS's own
    // shutdown, right after ours, would wait for it too, as long as the folder does not answer.
    PausableFolder folder;
    mountOrSkip(folder);
    if (IsSkipped())
        return;
    const QString id = QStringLiteral("salida");
    addEntry(id, {QStringLiteral("x")}, false).grabacion.carpeta = folder.path();
    ASSERT_TRUE(controller.startEntry(id) && controller.startRecording(id));
    ASSERT_GE(secondsUntil([&] { return recordingState(id) == DestinationState::Live; }), 0);
    heartbeatUntil([] { return false; }, 3s);

    folder.pause(40s); // the user closes OBS a moment after the share went away
    const auto begin = std::chrono::steady_clock::now();
    controller.shutdown();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const int stuck = unfinishedBackgroundHostCalls();
    folder.resume();
    drainBackgroundHostCalls();
    std::printf("exit a moment after the recording's folder stopped answering: %.1f s, %d host "
                "call(s) left to OBS\n",
                seconds, stuck);
    EXPECT_LE(seconds, 6.0);
    EXPECT_EQ(stuck, 0) << "the recording's release was left to OBS, waiting for the folder";
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
    // Its output starts on its own strand: the limit stays until its writer runs.
    secondsUntil([&] { return recordingState(id) != DestinationState::Starting; }, 10s);
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
