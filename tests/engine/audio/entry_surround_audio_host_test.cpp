// An entry's stereo sound when OBS mixes more than two channels (5.1): every channel of a
// source reaches the stream, the centre included, mixed down the way the host mixes down.

#include "support/local_servers.h"
#include "support/stream_harness.h"
#include "support/test_host.h"
#include "support/tone_source.h"

#include <gtest/gtest.h>

#include <media-io/audio-io.h>

#include <chrono>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

RELAYCAST_HOST_TEST_SPEAKERS(SPEAKERS_5POINT1)

namespace {

constexpr int kChannels51 = 6;
constexpr int kCentre = 2; // L, R, centre, LFE, rear L, rear R

} // namespace

TEST(EntrySurroundAudioHost, CentreChannelOfASurroundSourceIsHeardInTheStereoStream) {
    OBSSceneAutoRelease scene = createScene("centro");
    OBSSourceAutoRelease colour =
        createColorSource("centro-color", kOpaqueRed, kCanvasWidth, kCanvasHeight);
    OBSSourceAutoRelease centre = createToneSource("centro-wav", 440, 0.5, kChannels51, kCentre);
    ASSERT_TRUE(centre);
    addToScene(scene, colour);
    addToScene(scene, centre);

    SrtListener srt;
    QString error;
    ASSERT_TRUE(srt.start(&error)) << error.toStdString();
    const DestConfig dest = destination("centro", srt.url());
    const EntryConfig entry = entrySending("centro", 640, 360, {dest});
    EntryRuntime runtime;
    ASSERT_TRUE(startDestination(runtime, entry, dest, &error)) << error.toStdString();
    ASSERT_TRUE(tickUntil(
        runtime, [&] { return srt.recordedBytes() > 600000; }, 30s));
    stopAllAndAwaitRelease(runtime);

    const AudioLevel level = measureAudio(srt.recordingPath(), 1.0);
    ASSERT_TRUE(level.ok);
    EXPECT_GT(level.rmsDb, -35.0) << "the centre channel was dropped";
}
