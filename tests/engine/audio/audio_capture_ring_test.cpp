#include "engine/audio/audio_capture_ring.h"
#include "engine/audio/entry_audio_track.h"
#include "engine/audio/source_capture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace relaycast;

namespace {

// Feeds a ring with a numbered signal (left = n, right = -n for the n-th frame ever pushed)
// and plays it back block by block, so every pulled sample tells which frame it was.
class NumberedStream {
public:
    explicit NumberedStream(int32_t initialDelay) : delay(initialDelay), ring(initialDelay) {}

    void push(uint32_t frames, float volume = 1.0f) {
        std::vector<float> left(frames);
        std::vector<float> right(frames);
        for (uint32_t i = 0; i < frames; ++i) {
            left[i] = float(next + i);
            right[i] = -float(next + i);
        }
        next += frames;
        ring.push(left.data(), right.data(), frames, volume, delay);
    }

    // One mixing block; empty when the ring contributed nothing (then the block is checked to
    // be untouched).
    std::vector<float> pull() {
        std::vector<float> left(kMixBlockFrames, 0.0f);
        std::vector<float> right(kMixBlockFrames, 0.0f);
        const bool added = ring.pull(left.data(), right.data(), delay);
        for (uint32_t i = 0; i < kMixBlockFrames; ++i) {
            EXPECT_EQ(right[i], -left[i]) << "frame " << i;
            if (!added) {
                EXPECT_EQ(left[i], 0.0f) << "a silent block was written at " << i;
            }
        }
        if (!added)
            return {};
        return left;
    }

    // The block must be the consecutive frames first, first + 1, ...
    static void expectFramesFrom(const std::vector<float>& block, uint32_t first) {
        ASSERT_EQ(block.size(), kMixBlockFrames);
        for (uint32_t i = 0; i < kMixBlockFrames; ++i)
            ASSERT_EQ(block[i], float(first + i)) << "at " << i;
    }

    int32_t delay;
    AudioCaptureRing ring;
    uint32_t next = 0; // frames pushed so far
};

} // namespace

TEST(AudioCaptureRing, PlaysTheExactSamplesInOrderOnceHoldingDelayPlusMargin) {
    NumberedStream stream(0);
    stream.push(1535);
    EXPECT_TRUE(stream.pull().empty()) << "below delay + 1536 the capture waits";
    EXPECT_FALSE(stream.ring.primed());

    stream.push(1);
    NumberedStream::expectFramesFrom(stream.pull(), 0);
    EXPECT_TRUE(stream.ring.primed());
    EXPECT_EQ(stream.ring.buffered(), 512u);

    stream.push(1024);
    NumberedStream::expectFramesFrom(stream.pull(), 1024);
}

TEST(AudioCaptureRing, AddsToWhatTheBlockAlreadyHoldsWithTheVolumeApplied) {
    AudioCaptureRing ring(0);
    std::vector<float> left(1536);
    std::vector<float> right(1536);
    for (size_t i = 0; i < left.size(); ++i) {
        left[i] = 0.25f * float(i % 7);
        right[i] = -0.5f * float(i % 5);
    }
    ring.push(left.data(), right.data(), 1536, 0.5f, 0);

    std::vector<float> outLeft(kMixBlockFrames, 1.0f);
    std::vector<float> outRight(kMixBlockFrames, -1.0f);
    ASSERT_TRUE(ring.pull(outLeft.data(), outRight.data(), 0));
    for (uint32_t i = 0; i < kMixBlockFrames; ++i) {
        EXPECT_FLOAT_EQ(outLeft[i], 1.0f + 0.5f * left[i]) << i;
        EXPECT_FLOAT_EQ(outRight[i], -1.0f + 0.5f * right[i]) << i;
    }
}

TEST(AudioCaptureRing, RunningDryBelowOneBlockReprimesAtDelayPlusMargin) {
    NumberedStream stream(0);
    stream.push(2000);
    NumberedStream::expectFramesFrom(stream.pull(), 0);
    EXPECT_EQ(stream.ring.buffered(), 976u);

    EXPECT_TRUE(stream.pull().empty()) << "976 frames are less than a block";
    EXPECT_FALSE(stream.ring.primed());
    EXPECT_EQ(stream.ring.buffered(), 976u) << "nothing is consumed while silent";

    stream.push(300); // 1276: a block's worth, but not the 1536 a new start needs
    EXPECT_TRUE(stream.pull().empty());
    stream.push(260);
    NumberedStream::expectFramesFrom(stream.pull(), 1024);
}

TEST(AudioCaptureRing, KeepsOnlyTheLast3072FramesOfALongPacket) {
    NumberedStream stream(0);
    stream.push(4096);
    EXPECT_EQ(stream.ring.buffered(), 3072u);
    NumberedStream::expectFramesFrom(stream.pull(), 1024);
    NumberedStream::expectFramesFrom(stream.pull(), 2048);
    NumberedStream::expectFramesFrom(stream.pull(), 3072);
}

TEST(AudioCaptureRing, TrimsToDelayPlus3072OnlyWhenMoreThanDelayPlus9600WouldBeHeld) {
    const int32_t delay = 2000;
    NumberedStream stream(delay);
    stream.push(3000);
    stream.push(3000);
    stream.push(3000);
    stream.push(2600); // exactly delay + 9600: kept whole
    EXPECT_EQ(stream.ring.buffered(), 11600u);
    EXPECT_EQ(stream.ring.readIndex(), 0u);

    stream.push(1); // one frame more than the limit
    EXPECT_EQ(stream.ring.buffered(), uint32_t(delay) + 3072);
    const uint32_t oldest = stream.next - (uint32_t(delay) + 3072);
    EXPECT_EQ(stream.ring.readIndex(), oldest);
    NumberedStream::expectFramesFrom(stream.pull(), oldest);

    stream.push(3072); // from 4048 held: 7120 is within the limit
    EXPECT_EQ(stream.ring.buffered(), 7120u);
}

TEST(AudioCaptureRing, RaisedDelayGoesSilentUntilTheNewDelayIsHeldThenContinuesDelayed) {
    NumberedStream stream(0);
    // Steady state at no delay: one packet in, one block out.
    stream.push(1536);
    uint32_t played = 0;
    for (int i = 0; i < 10; ++i) {
        NumberedStream::expectFramesFrom(stream.pull(), played);
        played += kMixBlockFrames;
        stream.push(1024);
    }
    const uint32_t heldBefore = stream.ring.buffered();

    stream.delay = 4800;
    int silentBlocks = 0;
    std::vector<float> block = stream.pull();
    while (block.empty()) {
        ++silentBlocks;
        ASSERT_LT(silentBlocks, 20);
        stream.push(1024);
        block = stream.pull();
    }
    EXPECT_GE(stream.ring.buffered() + kMixBlockFrames, 4800u + 1536u);
    // Silent exactly until delay + 1536 frames were held.
    EXPECT_EQ(silentBlocks, int((4800 + 1536 - heldBefore + 1023) / 1024));
    // No frame lost or repeated: the sound resumes where it stopped, now later than before.
    NumberedStream::expectFramesFrom(block, played);
    EXPECT_GE(stream.next - played, 4800u);
}

TEST(AudioCaptureRing, LoweredDelaySkipsTheExcessAtTheNextBlock) {
    NumberedStream stream(4800);
    stream.push(3072);
    stream.push(3072);
    stream.push(1000); // 7144 held, primed at the first pull
    NumberedStream::expectFramesFrom(stream.pull(), 0);
    EXPECT_EQ(stream.ring.buffered(), 6120u);

    stream.delay = 0;
    // The next block starts 1536 frames before the newest frame.
    NumberedStream::expectFramesFrom(stream.pull(), stream.next - 1536);
    EXPECT_EQ(stream.ring.buffered(), 512u);
    EXPECT_EQ(stream.ring.lastDelay(), 0);
    EXPECT_TRUE(stream.ring.primed());
}

TEST(AudioCaptureRing, WrapsAroundTheRingWithoutLosingOrMovingFrames) {
    // Packets of 1000 frames against blocks of 1024 put the seams everywhere in the ring.
    NumberedStream stream(6000);
    uint32_t played = 0;
    for (int round = 0; round < 400; ++round) {
        stream.push(1000);
        if (stream.next >= 6000 + 1536 + 1000) {
            std::vector<float> block = stream.pull();
            if (!block.empty()) {
                NumberedStream::expectFramesFrom(block, played);
                played += kMixBlockFrames;
            }
        }
        ASSERT_LT(stream.ring.readIndex(), kRingFrames);
    }
    EXPECT_GT(played, 3 * kRingFrames) << "the stream went around the ring several times";
}

TEST(AudioCaptureRing, ADelayLongerThanTheRingIsCappedToWhatFits) {
    // 1000 ms at a 96 kHz host is more than the ring holds; taken as it is, the trim limit
    // would let new packets overwrite frames not yet played.
    const int32_t delay = delayFramesFor(1000, 96000);
    ASSERT_GT(delay, int32_t(kRingFrames));
    NumberedStream stream(delay);
    bool playing = false;
    uint32_t lastFirst = 0;
    for (int round = 0; round < 300; ++round) {
        stream.push(3072);
        ASSERT_LE(stream.ring.buffered(), kRingFrames);
        std::vector<float> block = stream.pull();
        if (block.empty())
            continue;
        const uint32_t first = uint32_t(block[0]);
        NumberedStream::expectFramesFrom(block, first);
        if (playing) {
            ASSERT_GT(first, lastFirst);
        }
        ASSERT_GE(stream.next - first, uint32_t(kMaxRingDelay)) << "still delayed";
        ASSERT_LE(stream.next - first, kRingFrames);
        playing = true;
        lastFirst = first;
    }
    EXPECT_TRUE(playing);
}

TEST(SourceCaptureAdapter, DuplicatesAMonoPacketAndIgnoresMutedOrEmptyOnes) {
    EntryAudioTrack track; // never opened: only its delay is read
    SourceCapture capture(nullptr, track);

    std::vector<float> mono(1536);
    for (size_t i = 0; i < mono.size(); ++i)
        mono[i] = float(i) / 2048.0f;
    audio_data packet{};
    packet.data[0] = reinterpret_cast<uint8_t*>(mono.data());
    packet.frames = uint32_t(mono.size());

    capture.capture(&packet, true, 1.0f);
    audio_data empty{};
    empty.data[0] = packet.data[0];
    capture.capture(&empty, false, 1.0f);
    capture.capture(nullptr, false, 1.0f);
    EXPECT_EQ(capture.ring.buffered(), 0u) << "muted or empty packets leave the ring as it was";

    capture.capture(&packet, false, 0.5f);
    std::vector<float> left(kMixBlockFrames, 0.0f);
    std::vector<float> right(kMixBlockFrames, 0.0f);
    capture.pullInto(left.data(), right.data());
    for (uint32_t i = 0; i < kMixBlockFrames; ++i) {
        EXPECT_FLOAT_EQ(left[i], 0.5f * mono[i]) << i;
        EXPECT_FLOAT_EQ(right[i], 0.5f * mono[i]) << i;
    }
}

TEST(SourceCaptureAdapter, MixingSumsEveryCaptureAndReadsTheTrackDelay) {
    EntryAudioTrack track;
    track.setDelay(20); // 960 frames at 48000
    SourceCapture first(nullptr, track);
    SourceCapture second(nullptr, track);
    std::vector<float> ones(3072, 1.0f);
    std::vector<float> twos(3072, 2.0f);
    audio_data a{};
    a.data[0] = reinterpret_cast<uint8_t*>(ones.data());
    a.data[1] = reinterpret_cast<uint8_t*>(twos.data());
    a.frames = 960 + 1535;
    audio_data b = a;
    b.frames = 960 + 1536;
    first.capture(&a, false, 1.0f);
    second.capture(&b, false, 1.0f);

    const QList<SourceCapture*> captures{&first, &second};
    std::vector<float> left(kMixBlockFrames, 0.0f);
    std::vector<float> right(kMixBlockFrames, 0.0f);
    mixCaptures(captures, left.data(), right.data());
    EXPECT_EQ(left[0], 1.0f) << "only the capture holding delay + 1536 frames plays";
    EXPECT_EQ(right[kMixBlockFrames - 1], 2.0f);

    first.capture(&a, false, 1.0f);
    left.assign(kMixBlockFrames, 0.0f);
    right.assign(kMixBlockFrames, 0.0f);
    mixCaptures(captures, left.data(), right.data());
    EXPECT_EQ(left[512], 2.0f);
    EXPECT_EQ(right[512], 4.0f);
}

TEST(EntryAudioTrackDelay, ConvertsMillisecondsToFramesClampedToOneSecond) {
    EntryAudioTrack track;
    ASSERT_EQ(track.sampleRate(), 48000u);
    track.setDelay(250);
    EXPECT_EQ(track.delaySamples(), 12000);
    track.setDelay(1500);
    EXPECT_EQ(track.delaySamples(), 48000);
    track.setDelay(-20);
    EXPECT_EQ(track.delaySamples(), 0);
    track.setDelay(1000);
    EXPECT_EQ(track.delaySamples(), 48000);

    EXPECT_EQ(delayFramesFor(250, 44100), 11025);
    EXPECT_EQ(delayFramesFor(1, 44100), 44) << "integer arithmetic rounds down";
}
