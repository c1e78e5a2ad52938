// What a live entry sends, checked in the streams the servers receive: a live switch between
// scenes without a cut, the winding down of an entry whose scene is deleted, and the audio of
// visible, hidden and monitor-only sources.

#include "engine/picture/entry_pipeline.h"
#include "support/local_servers.h"
#include "support/stream_harness.h"
#include "support/test_host.h"
#include "support/tone_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

constexpr auto kLiveTimeout = 30s;
// About three seconds of an entry's stream (1500 kbit/s of video and 128 of audio).
constexpr qint64 kThreeSeconds = 600000;

bool dark(const Colour& c) {
    return c.r < 40 && c.g < 40 && c.b < 40;
}

bool near(const Colour& c, const Rgb& expected, int tolerance = 30) {
    return std::abs(c.r - expected.r) <= tolerance && std::abs(c.g - expected.g) <= tolerance &&
           std::abs(c.b - expected.b) <= tolerance;
}

std::string text(const Colour& c) {
    return "rgb(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) +
           ")";
}

// Waits until the listener has received a few seconds of stream.
bool waitForRecording(EntryRuntime& runtime, const SrtListener& srt, qint64 bytes = 150000) {
    return tickUntil(
        runtime, [&] { return srt.recordedBytes() > bytes; }, 20s);
}

enum class Seen { Red, Blue, Other };

Seen classify(const DecodedFrame& frame) {
    const Colour c =
        frame.average(frame.width / 4, frame.height / 4, frame.width / 2, frame.height / 2);
    if (near(c, rgbOf(kOpaqueRed), 40))
        return Seen::Red;
    if (near(c, rgbOf(kOpaqueBlue), 40))
        return Seen::Blue;
    return Seen::Other;
}

// The frames of a received stream around a red-to-blue switch: red first, blue at the end,
// never red again once blue appeared, and no hole in the timestamps.
void expectCleanSwitch(const QString& recording) {
    FrameOptions options;
    options.scaleWidth = 32;
    options.scaleHeight = 18;
    const QList<DecodedFrame> frames = decodeFrames(recording, options);
    ASSERT_GT(frames.size(), 60) << recording.toStdString();
    int firstBlue = -1;
    int redAfterBlue = 0;
    int reds = 0;
    double largestGap = 0;
    for (int i = 0; i < frames.size(); ++i) {
        const Seen seen = classify(frames[i]);
        if (seen == Seen::Red)
            ++reds;
        if (seen == Seen::Blue && firstBlue < 0)
            firstBlue = i;
        if (seen == Seen::Red && firstBlue >= 0)
            ++redAfterBlue;
        if (i > 0)
            largestGap = std::max(largestGap, frames[i].ptsSecs - frames[i - 1].ptsSecs);
    }
    EXPECT_GT(reds, 10) << "first frame " << text(frames.first().average(8, 4, 16, 9));
    ASSERT_GT(firstBlue, 0);
    EXPECT_EQ(classify(frames.last()), Seen::Blue);
    EXPECT_EQ(redAfterBlue, 0);
    EXPECT_LE(largestGap, 0.2) << recording.toStdString();
}

} // namespace

TEST(EntryContentHost, LiveSwitchChangesThePictureWithoutCuttingTheStreams) {
    OBSSceneAutoRelease red = createScene("cambio-rojo");
    OBSSourceAutoRelease redColour =
        createColorSource("cambio-rojo-color", kOpaqueRed, kCanvasWidth, kCanvasHeight);
    addToScene(red, redColour);
    OBSSceneAutoRelease blue = createScene("cambio-azul");
    OBSSourceAutoRelease blueColour =
        createColorSource("cambio-azul-color", kOpaqueBlue, kCanvasWidth, kCanvasHeight);
    addToScene(blue, blueColour);

    RtmpServer rtmp;
    SrtListener srt;
    QString error;
    ASSERT_TRUE(rtmp.start(&error)) << error.toStdString();
    ASSERT_TRUE(srt.start(&error)) << error.toStdString();
    const DestConfig viaRtmp = destination("rtmp", rtmp.url(), "cambio");
    const DestConfig viaSrt = destination("srt", srt.url());
    const EntryConfig entry = entrySending("cambio-rojo", 640, 360, {viaRtmp, viaSrt});
    EntryRuntime runtime;
    const QString started = startAllUntilLive(runtime, entry, {viaRtmp, viaSrt}, kLiveTimeout);
    ASSERT_TRUE(started.isEmpty()) << started.toStdString();

    // A viewer of the RTMP stream, recording what it receives.
    StreamRecorder viewer;
    ASSERT_TRUE(viewer.start(rtmp.playUrl("cambio")));
    ASSERT_TRUE(tickUntil(
        runtime, [&] { return viewer.recordedBytes() > 100000; }, 20s))
        << viewer.log().toStdString();
    tickFor({&runtime}, 1500ms);

    OutputSignalCounter rtmpSignals(hostOutputOf(*runtime.outputs.at("rtmp")));
    OutputSignalCounter srtSignals(hostOutputOf(*runtime.outputs.at("srt")));
    const DestinationStatus rtmpBefore = destinationStatus(runtime, "rtmp");
    const DestinationStatus srtBefore = destinationStatus(runtime, "srt");
    obs_encoder_t* encoder = runtime.pipeline->videoEncoder;

    ASSERT_TRUE(switchSource(*runtime.pipeline, "cambio-azul", &error)) << error.toStdString();
    EXPECT_EQ(runtime.pipeline->sourceName, QByteArray("cambio-azul"));
    bool stayedLive = true;
    tickFor({&runtime}, 3s, [&] {
        stayedLive &= allInState(runtime, {"rtmp", "srt"}, DestinationState::Live);
    });
    viewer.stop();

    EXPECT_TRUE(stayedLive);
    for (const OutputSignalCounter* counter : {&rtmpSignals, &srtSignals}) {
        EXPECT_EQ(counter->stops.load(), 0);
        EXPECT_EQ(counter->reconnects.load(), 0);
        EXPECT_EQ(counter->starts.load(), 0);
    }
    for (const auto& [id, before] : {std::pair{"rtmp", rtmpBefore}, std::pair{"srt", srtBefore}}) {
        const DestinationStatus after = destinationStatus(runtime, id);
        EXPECT_EQ(after.cuts, before.cuts) << id;
        EXPECT_EQ(after.attempts, before.attempts) << id;
        EXPECT_EQ(after.recoveryAfterSecs, before.recoveryAfterSecs) << id;
        EXPECT_EQ(after.outageSecs, 0) << id;
    }
    EXPECT_EQ(runtime.pipeline->videoEncoder.Get(), encoder);
    stopAllAndAwaitRelease(runtime);

    expectCleanSwitch(srt.recordingPath());
    expectCleanSwitch(viewer.path());
}

TEST(EntryContentHost, DeletedSceneStopsEveryDestinationOfTheEntry) {
    OBSSceneAutoRelease scene = createScene("efimera");
    OBSSourceAutoRelease colour =
        createColorSource("efimera-color", kOpaqueWhite, kCanvasWidth, kCanvasHeight);
    addToScene(scene, colour);
    RtmpServer rtmp;
    SrtListener srt;
    QString error;
    ASSERT_TRUE(rtmp.start(&error)) << error.toStdString();
    ASSERT_TRUE(srt.start(&error)) << error.toStdString();
    const DestConfig viaRtmp = destination("rtmp", rtmp.url(), "efimera");
    const DestConfig viaSrt = destination("srt", srt.url());
    const EntryConfig entry = entrySending("efimera", 640, 360, {viaRtmp, viaSrt});
    EntryRuntime runtime;
    const QString started = startAllUntilLive(runtime, entry, {viaRtmp, viaSrt}, kLiveTimeout);
    ASSERT_TRUE(started.isEmpty()) << started.toStdString();

    // Deleted while the streams flow, as a user would.
    ASSERT_TRUE(tickUntil(
        runtime,
        [&] {
            return srt.recordedBytes() > kThreeSeconds / 3 &&
                   runtime.outputs.at("rtmp")->port->totalBytes() > kThreeSeconds / 3;
        },
        20s));

    OBSSourceAutoRelease sceneSource = obs_source_get_ref(obs_scene_get_source(scene));
    scene = nullptr;
    obs_source_remove(sceneSource);
    sceneSource = nullptr;

    // The first heartbeat after the removal asks every destination to stop.
    tick(runtime);
    ASSERT_EQ(runtime.outputs.size(), 2u);
    for (const auto& [id, d] : runtime.outputs)
        EXPECT_TRUE(d->stopRequested) << id.toStdString();

    ASSERT_TRUE(tickUntil(
        runtime, [&] { return runtime.outputs.empty(); }, 15s));
    for (const char* id : {"rtmp", "srt"}) {
        const DestinationStatus status = destinationStatus(runtime, id);
        EXPECT_EQ(status.state, DestinationState::Idle) << id;
        EXPECT_TRUE(status.message.isEmpty()) << id << ": " << status.message.toStdString();
    }
    EXPECT_FALSE(runtime.pipeline);
    EXPECT_EQ(countPluginHostObjects(), 0);
}

TEST(EntryContentHost, VisibleSoundIsHeardAndAHiddenOneIsNot) {
    OBSSceneAutoRelease audible = createScene("tono-visible");
    OBSSourceAutoRelease audibleColour =
        createColorSource("tono-visible-color", kOpaqueRed, kCanvasWidth, kCanvasHeight);
    OBSSourceAutoRelease audibleTone = createToneSource("tono-visible-wav");
    ASSERT_TRUE(audibleTone);
    addToScene(audible, audibleColour);
    addToScene(audible, audibleTone);

    OBSSceneAutoRelease muted = createScene("tono-oculto");
    OBSSourceAutoRelease mutedColour =
        createColorSource("tono-oculto-color", kOpaqueBlue, kCanvasWidth, kCanvasHeight);
    OBSSourceAutoRelease hiddenTone = createToneSource("tono-oculto-wav");
    addToScene(muted, mutedColour);
    obs_sceneitem_t* hidden = addToScene(muted, hiddenTone);
    ASSERT_NE(hidden, nullptr);
    obs_sceneitem_set_visible(hidden, false);

    SrtListener heard;
    SrtListener silent;
    QString error;
    ASSERT_TRUE(heard.start(&error)) << error.toStdString();
    ASSERT_TRUE(silent.start(&error)) << error.toStdString();
    const DestConfig heardDest = destination("oye", heard.url());
    const DestConfig silentDest = destination("calla", silent.url());
    const EntryConfig heardEntry = entrySending("tono-visible", 640, 360, {heardDest});
    const EntryConfig silentEntry = entrySending("tono-oculto", 640, 360, {silentDest});
    EntryRuntime heardRuntime;
    EntryRuntime silentRuntime;
    ASSERT_TRUE(startDestination(heardRuntime, heardEntry, heardDest, &error))
        << error.toStdString();
    ASSERT_TRUE(startDestination(silentRuntime, silentEntry, silentDest, &error))
        << error.toStdString();
    ASSERT_TRUE(tickUntil(
        {&heardRuntime, &silentRuntime},
        [&] {
            return heard.recordedBytes() > kThreeSeconds && silent.recordedBytes() > kThreeSeconds;
        },
        30s));
    stopAllAndAwaitRelease(heardRuntime);
    stopAllAndAwaitRelease(silentRuntime);

    // The first second may hold the track's start-up; the rest is the steady mix.
    const AudioLevel loud = measureAudio(heard.recordingPath(), 1.0);
    const AudioLevel quiet = measureAudio(silent.recordingPath(), 1.0);
    ASSERT_TRUE(loud.ok);
    ASSERT_TRUE(quiet.ok);
    EXPECT_GT(loud.samples, 48000);
    EXPECT_GT(loud.rmsDb, -35.0);
    EXPECT_LT(quiet.peakDb, -60.0);
}

TEST(EntryContentHost, MonitorOnlySoundStaysPrivateUntilItIsSentToTheOutput) {
    OBSSceneAutoRelease scene = createScene("tono-privado");
    OBSSourceAutoRelease colour =
        createColorSource("tono-privado-color", kOpaqueGreen, kCanvasWidth, kCanvasHeight);
    OBSSourceAutoRelease tone = createToneSource("tono-privado-wav");
    ASSERT_TRUE(tone);
    addToScene(scene, colour);
    addToScene(scene, tone);
    obs_source_set_monitoring_type(tone, OBS_MONITORING_TYPE_MONITOR_ONLY);

    SrtListener srt;
    QString error;
    ASSERT_TRUE(srt.start(&error)) << error.toStdString();
    const DestConfig dest = destination("privado", srt.url());
    const EntryConfig entry = entrySending("tono-privado", 640, 360, {dest});
    EntryRuntime runtime;
    ASSERT_TRUE(startDestination(runtime, entry, dest, &error)) << error.toStdString();
    ASSERT_TRUE(tickUntil(
        runtime, [&] { return srt.recordedBytes() > kThreeSeconds; }, 30s));

    // The user lets the audience hear it too, while the stream runs.
    obs_source_set_monitoring_type(tone, OBS_MONITORING_TYPE_MONITOR_AND_OUTPUT);
    const qint64 switchedAt = srt.recordedBytes();
    ASSERT_TRUE(tickUntil(
        runtime, [&] { return srt.recordedBytes() > switchedAt + kThreeSeconds; }, 30s));
    stopAllAndAwaitRelease(runtime);

    const AudioLevel before = measureAudio(srt.recordingPath(), 1.0, 1.5);
    const AudioLevel after = measureAudio(srt.recordingPath(), 0, 0);
    const AudioLevel end =
        measureAudio(srt.recordingPath(), std::max(0.0, after.samples / 48000.0 - 1.5), 1.5);
    ASSERT_TRUE(before.ok);
    ASSERT_TRUE(end.ok);
    EXPECT_LT(before.peakDb, -60.0) << "a monitor-only source reached the audience";
    EXPECT_GT(end.rmsDb, -35.0) << "monitor and output: the audience hears it";
}
