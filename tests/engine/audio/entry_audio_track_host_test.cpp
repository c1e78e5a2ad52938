// An entry's audio track on the real host: which sources it captures as the scene changes,
// what reaches its own audio output, and that closing it leaves no host reference behind.

#include "engine/audio/entry_audio_track.h"
#include "support/test_host.h"
#include "support/tone_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

// Listens to the track's audio output and keeps the loudest sample of each channel.
class MixProbe {
public:
    explicit MixProbe(audio_t* output) : output_(output) {
        connected_ = audio_output_connect(output_, 0, nullptr, &MixProbe::receive, this);
    }
    ~MixProbe() { stop(); }

    // Must run before the track closes its output.
    void stop() {
        if (connected_)
            audio_output_disconnect(output_, 0, &MixProbe::receive, this);
        connected_ = false;
    }

    bool connected() const { return connected_; }

    void reset() {
        left_ = 0.0f;
        right_ = 0.0f;
        blocks_ = 0;
    }

    // The loudest sample over the next `duration` of mixed blocks.
    float peakOver(std::chrono::milliseconds duration) {
        std::this_thread::sleep_for(100ms); // lets audio of an earlier state drain
        reset();
        std::this_thread::sleep_for(duration);
        EXPECT_GT(blocks_.load(), 0) << "the track's output delivered no blocks";
        return std::max(left_.load(), right_.load());
    }

    bool hearsSound(std::chrono::milliseconds timeout = 5s) {
        reset();
        return waitFor([&] { return left_ > 0.05f && right_ > 0.05f; }, timeout);
    }

    float left() const { return left_; }
    float right() const { return right_; }

private:
    static void receive(void* param, size_t, audio_data* data) {
        auto* probe = static_cast<MixProbe*>(param);
        probe->record(probe->left_, data->data[0], data->frames);
        probe->record(probe->right_, data->data[1], data->frames);
        ++probe->blocks_;
    }

    static void record(std::atomic<float>& peak, const uint8_t* plane, uint32_t frames) {
        if (!plane)
            return;
        const auto* samples = reinterpret_cast<const float*>(plane);
        float loudest = peak;
        for (uint32_t i = 0; i < frames; ++i)
            loudest = std::max(loudest, std::fabs(samples[i]));
        peak = loudest;
    }

    audio_t* output_;
    bool connected_ = false;
    std::atomic<float> left_{0.0f};
    std::atomic<float> right_{0.0f};
    std::atomic<int> blocks_{0};
};

// A host source stays alive while anything references it; the weak reference tells when the
// last one went.
bool stillAlive(obs_weak_source_t* weak) {
    OBSSourceAutoRelease source = obs_weak_source_get_source(weak);
    return source != nullptr;
}

} // namespace

TEST(EntryAudioTrackOnHost, CapturesAnAudibleSceneItemAndMixesItAtItsVolume) {
    OBSSourceAutoRelease tone = createToneSource("audio-tone-heard");
    ASSERT_NE(tone.Get(), nullptr);
    OBSSceneAutoRelease scene = createScene("audio-scene-heard");
    ASSERT_NE(addToScene(scene, tone), nullptr);

    EntryAudioTrack track;
    ASSERT_TRUE(track.open());
    ASSERT_NE(track.audioOutput(), nullptr);
    EXPECT_EQ(track.sampleRate(), 48000u);
    const audio_output_info* info = audio_output_get_info(track.audioOutput());
    EXPECT_STREQ(info->name, "relaycast");
    EXPECT_EQ(info->format, AUDIO_FORMAT_FLOAT_PLANAR);
    EXPECT_EQ(info->speakers, SPEAKERS_STEREO);
    EXPECT_TRUE(track.open()) << "opening an open track keeps its output";

    track.setDelay(0);
    track.setRoot(obs_scene_get_source(scene));
    EXPECT_EQ(track.captureCount(), 1);

    MixProbe probe(track.audioOutput());
    ASSERT_TRUE(probe.connected());
    ASSERT_TRUE(probe.hearsSound()) << "left " << probe.left() << ", right " << probe.right();

    const float full = probe.peakOver(400ms);
    EXPECT_GT(full, 0.2f);
    obs_source_set_volume(tone, 0.25f);
    const float quarter = probe.peakOver(400ms);
    EXPECT_NEAR(quarter, full * 0.25f, full * 0.05f) << "the source's fader volume applies";

    obs_source_set_muted(tone, true);
    EXPECT_EQ(probe.peakOver(400ms), 0.0f) << "a muted source contributes nothing";
    obs_source_set_muted(tone, false);
    EXPECT_TRUE(probe.hearsSound());

    probe.stop();
    track.close();
}

TEST(EntryAudioTrackOnHost, HiddenItemsAreNotCapturedUntilShown) {
    OBSSourceAutoRelease music = createToneSource("audio-tone-hidden", 440);
    OBSSourceAutoRelease voice = createToneSource("audio-tone-shown", 1000, 0.1);
    OBSSceneAutoRelease scene = createScene("audio-scene-hidden");
    obs_sceneitem_t* musicItem = addToScene(scene, music);
    ASSERT_NE(musicItem, nullptr);
    obs_sceneitem_set_visible(musicItem, false);

    EntryAudioTrack track;
    ASSERT_TRUE(track.open());
    track.setRoot(obs_scene_get_source(scene));
    EXPECT_EQ(track.captureCount(), 0);
    MixProbe probe(track.audioOutput());
    EXPECT_EQ(probe.peakOver(500ms), 0.0f) << "a hidden item is not heard";

    obs_sceneitem_set_visible(musicItem, true);
    track.refreshCaptures();
    EXPECT_EQ(track.captureCount(), 1);
    EXPECT_TRUE(probe.hearsSound());

    ASSERT_NE(addToScene(scene, voice), nullptr);
    track.refreshCaptures();
    EXPECT_EQ(track.captureCount(), 2);

    obs_sceneitem_set_visible(musicItem, false);
    track.refreshCaptures();
    EXPECT_EQ(track.captureCount(), 1);
    const float voiceOnly = probe.peakOver(400ms);
    EXPECT_GT(voiceOnly, 0.02f);
    EXPECT_LT(voiceOnly, 0.15f) << "only the quieter shown tone is left";

    probe.stop();
    track.close();
}

TEST(EntryAudioTrackOnHost, OneInputShownTwiceOrNestedIsCapturedOnce) {
    OBSSourceAutoRelease tone = createToneSource("audio-tone-twice");
    OBSSceneAutoRelease inner = createScene("audio-scene-inner");
    OBSSceneAutoRelease outer = createScene("audio-scene-outer");
    ASSERT_NE(addToScene(inner, tone), nullptr);
    obs_sceneitem_t* first = addToScene(outer, tone);
    obs_sceneitem_t* second = addToScene(outer, tone);
    obs_sceneitem_t* nested = addToScene(outer, obs_scene_get_source(inner));
    ASSERT_TRUE(first && second && nested);

    EntryAudioTrack track;
    track.setRoot(obs_scene_get_source(outer));
    EXPECT_EQ(track.captureCount(), 1);
    track.refreshCaptures();
    EXPECT_EQ(track.captureCount(), 1) << "a refresh keeps the existing capture";

    obs_sceneitem_set_visible(first, false);
    obs_sceneitem_set_visible(second, false);
    track.refreshCaptures();
    EXPECT_EQ(track.captureCount(), 1) << "still shown through the nested scene";
    obs_sceneitem_set_visible(nested, false);
    track.refreshCaptures();
    EXPECT_EQ(track.captureCount(), 0) << "a hidden nested scene hides what it holds";

    // The input itself as the root is its own capture.
    track.setRoot(tone);
    EXPECT_EQ(track.captureCount(), 1);
    track.close();
}

TEST(EntryAudioTrackOnHost, SourcesWithoutAudioGiveASilentTrack) {
    OBSSourceAutoRelease colour = createColorSource("audio-colour", kOpaqueBlue, 64, 64);
    OBSSceneAutoRelease scene = createScene("audio-scene-silent");
    ASSERT_NE(addToScene(scene, colour), nullptr);

    EntryAudioTrack track;
    ASSERT_TRUE(track.open());
    track.setRoot(colour);
    EXPECT_EQ(track.captureCount(), 0);
    track.setRoot(obs_scene_get_source(scene));
    EXPECT_EQ(track.captureCount(), 0);
    MixProbe probe(track.audioOutput());
    EXPECT_EQ(probe.peakOver(300ms), 0.0f);
    probe.stop();
    track.close();
}

TEST(EntryAudioTrackOnHost, ANewRootReplacesTheCapturesOfTheOldOne) {
    OBSSourceAutoRelease first = createToneSource("audio-tone-first");
    OBSSourceAutoRelease second = createToneSource("audio-tone-second", 880);
    OBSSceneAutoRelease sceneA = createScene("audio-scene-a");
    OBSSceneAutoRelease sceneB = createScene("audio-scene-b");
    ASSERT_NE(addToScene(sceneA, first), nullptr);
    ASSERT_NE(addToScene(sceneB, second), nullptr);
    ASSERT_NE(addToScene(sceneB, first), nullptr);

    EntryAudioTrack track;
    track.setRoot(obs_scene_get_source(sceneA));
    EXPECT_EQ(track.captureCount(), 1);
    track.setRoot(obs_scene_get_source(sceneB));
    EXPECT_EQ(track.captureCount(), 2);
    track.setRoot(obs_scene_get_source(sceneB));
    EXPECT_EQ(track.captureCount(), 2) << "the same root again";
    track.setRoot(nullptr);
    EXPECT_EQ(track.captureCount(), 0) << "no root, nothing captured";
}

TEST(EntryAudioTrackOnHost, CloseRemovesEveryCaptureAndReleasesEveryReference) {
    OBSSourceAutoRelease tone = createToneSource("audio-tone-closed");
    OBSSceneAutoRelease scene = createScene("audio-scene-closed");
    ASSERT_NE(addToScene(scene, tone), nullptr);
    OBSWeakSourceAutoRelease weakTone = obs_source_get_weak_source(tone);
    OBSWeakSourceAutoRelease weakScene = obs_source_get_weak_source(obs_scene_get_source(scene));

    {
        EntryAudioTrack track;
        ASSERT_TRUE(track.open());
        track.setRoot(obs_scene_get_source(scene));
        ASSERT_EQ(track.captureCount(), 1);
        MixProbe probe(track.audioOutput());
        ASSERT_TRUE(probe.hearsSound());
        probe.stop();

        track.close();
        EXPECT_EQ(track.audioOutput(), nullptr);
        EXPECT_EQ(track.captureCount(), 0);
        track.close(); // closing twice is harmless

        // The tone keeps playing into a source with no capture routine left.
        std::this_thread::sleep_for(200ms);
        ASSERT_TRUE(track.open()) << "a closed track opens again";
        track.close();
    }

    tone = nullptr;
    // Deleted as the host's interface deletes a scene: from OBS 31 the host itself holds a
    // public scene until then, and it destroys sources on a queue of its own.
    obs_source_remove(obs_scene_get_source(scene));
    scene = nullptr;
    EXPECT_TRUE(waitFor([&] { return !stillAlive(weakScene); }, 3s))
        << "the track still references its root";
    // The scene lets go of its items' sources when the host gets round to destroying it.
    EXPECT_TRUE(waitFor([&] { return !stillAlive(weakTone); }, 3s))
        << "the track still references the captured source";
}

TEST(EntryAudioTrackOnHost, DestroyingAnOpenTrackClosesIt) {
    OBSSourceAutoRelease tone = createToneSource("audio-tone-destroyed");
    OBSWeakSourceAutoRelease weakTone = obs_source_get_weak_source(tone);
    {
        EntryAudioTrack track;
        ASSERT_TRUE(track.open());
        track.setRoot(tone);
        ASSERT_EQ(track.captureCount(), 1);
    }
    tone = nullptr;
    EXPECT_FALSE(stillAlive(weakTone));
}

TEST(EntryAudioTrackOnHost, RaisingTheDelayHoldsTheSoundBackByThatMuch) {
    OBSSourceAutoRelease tone = createToneSource("audio-tone-delayed");
    EntryAudioTrack track;
    ASSERT_TRUE(track.open());
    track.setDelay(600);
    EXPECT_EQ(track.delaySamples(), 28800);
    MixProbe probe(track.audioOutput());

    const auto start = std::chrono::steady_clock::now();
    track.setRoot(tone);
    ASSERT_TRUE(probe.hearsSound());
    const auto silentFor = std::chrono::steady_clock::now() - start;
    // The capture must first hold 600 ms plus 1536 frames of audio, and audio only arrives
    // as fast as it plays.
    EXPECT_GE(silentFor, 550ms);
    probe.stop();
    track.close();
}

TEST(EntryAudioTrackOnHost, CapturesComeAndGoWhileSourcesPlayAndTheTrackMixes) {
    OBSSceneAutoRelease scene = createScene("audio-scene-churn");
    OBSSourceAutoRelease tones[3] = {createToneSource("audio-churn-1", 300),
                                     createToneSource("audio-churn-2", 600),
                                     createToneSource("audio-churn-3", 1200)};
    obs_sceneitem_t* items[3] = {};
    for (int i = 0; i < 3; ++i)
        items[i] = addToScene(scene, tones[i]);

    for (int round = 0; round < 20; ++round) {
        bool visible[3] = {true, true, true};
        EntryAudioTrack track;
        ASSERT_TRUE(track.open());
        track.setDelay(round * 10);
        track.setRoot(obs_scene_get_source(scene));
        ASSERT_EQ(track.captureCount(), 3);
        for (int step = 0; step < 6; ++step) {
            visible[step % 3] = step % 2 == 0;
            obs_sceneitem_set_visible(items[step % 3], visible[step % 3]);
            track.refreshCaptures();
            EXPECT_EQ(track.captureCount(), int(std::count(visible, visible + 3, true)));
            track.setDelay(step * 37);
            std::this_thread::sleep_for(3ms);
        }
        track.close();
        EXPECT_EQ(track.captureCount(), 0);
        for (obs_sceneitem_t* item : items)
            obs_sceneitem_set_visible(item, true);
    }
}
