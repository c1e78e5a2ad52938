// One mixing block of an entry's audio track with 16 sources playing: the work the track's
// output thread does every 1024 frames (about 21 ms at 48 kHz).

#include "engine/audio/audio_capture_ring.h"
#include "engine/audio/entry_audio_track.h"
#include "engine/audio/source_capture.h"

#include <benchmark/benchmark.h>

#include <QList>

#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

using namespace relaycast;

namespace {

constexpr int kCaptures = 16;

struct MixRig {
    explicit MixRig(int32_t delayMs)
        : packet(kMixBlockFrames), left(kMixBlockFrames), right(kMixBlockFrames) {
        track.setDelay(delayMs);
        for (uint32_t i = 0; i < kMixBlockFrames; ++i)
            packet[i] = 0.25f * std::sin(float(i) * 0.0575f);
        for (int i = 0; i < kCaptures; ++i) {
            owned.push_back(std::make_unique<SourceCapture>(nullptr, track));
            captures.append(owned.back().get());
        }
        // Primed: every capture holds its delay plus the start margin.
        const uint32_t prime = uint32_t(track.delaySamples()) + kPrimeMargin;
        for (uint32_t held = 0; held < prime; held += kMixBlockFrames)
            capturePacket();
        mixBlock();
    }

    // What each source's audio thread delivers per block.
    void capturePacket() {
        audio_data data{};
        data.data[0] = reinterpret_cast<uint8_t*>(packet.data());
        data.data[1] = reinterpret_cast<uint8_t*>(packet.data());
        data.frames = kMixBlockFrames;
        for (SourceCapture* capture : captures)
            capture->capture(&data, false, 0.8f);
    }

    // What the track's mixing routine does: clear buffers, track lock, every capture's block.
    void mixBlock() {
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        std::lock_guard guard(trackLock);
        mixCaptures(captures, left.data(), right.data());
    }

    EntryAudioTrack track;
    std::vector<std::unique_ptr<SourceCapture>> owned;
    QList<SourceCapture*> captures;
    std::mutex trackLock;
    std::vector<float> packet;
    std::vector<float> left;
    std::vector<float> right;
};

void BM_MixOneBlockOf16Captures(benchmark::State& state) {
    MixRig rig(int32_t(state.range(0)));
    for (auto _ : state) {
        rig.capturePacket(); // keeps every ring primed; not part of the figure
        const auto start = std::chrono::steady_clock::now();
        rig.mixBlock();
        const auto end = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(rig.left.data());
        benchmark::DoNotOptimize(rig.right.data());
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.counters["captures"] = kCaptures;
}
BENCHMARK(BM_MixOneBlockOf16Captures)
    ->Arg(0)
    ->Arg(250)
    ->Arg(1000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// The whole steady state of one block: 16 packets captured, then one block mixed.
void BM_CaptureAndMixOneBlockOf16Captures(benchmark::State& state) {
    MixRig rig(int32_t(state.range(0)));
    for (auto _ : state) {
        rig.capturePacket();
        rig.mixBlock();
        benchmark::DoNotOptimize(rig.left.data());
        benchmark::DoNotOptimize(rig.right.data());
    }
}
BENCHMARK(BM_CaptureAndMixOneBlockOf16Captures)->Arg(250)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
