#pragma once

#include <cstdint>
#include <memory>

namespace relaycast {

// Frame counts per channel.
inline constexpr uint32_t kRingFrames = 65536;    // power of two: indexes wrap with a mask
inline constexpr uint32_t kMixBlockFrames = 1024; // the host mixes in blocks of this size
inline constexpr uint32_t kMaxPacketFrames = 3072;
inline constexpr uint32_t kTrimSlack = 9600;
inline constexpr uint32_t kPrimeMargin = 1536;
// The ring holds at most delay + kTrimSlack frames, so longer delays could not fit in it.
inline constexpr int32_t kMaxRingDelay = int32_t(kRingFrames - kTrimSlack);

// Delay in milliseconds (clamped to 0..1000) as frames at `sampleRate`.
int32_t delayFramesFor(int32_t delayMs, uint32_t sampleRate);

// One captured source's delayed stereo audio: the capture side pushes packets of any size, the
// mix takes fixed blocks once enough is held to cover the delay. Not thread-safe by itself.
class AudioCaptureRing {
public:
    explicit AudioCaptureRing(int32_t delayFrames);

    // Stores `frames` frames scaled by `volume`; of a longer packet only its last
    // kMaxPacketFrames are kept. Trims the oldest audio when far more than the delay is held.
    void push(const float* left, const float* right, uint32_t frames, float volume,
              int32_t delayFrames);
    // Adds the next kMixBlockFrames frames to the outputs when the ring is primed; false when
    // it contributed nothing.
    bool pull(float* outLeft, float* outRight, int32_t delayFrames);

    uint32_t readIndex() const { return readIndex_; }
    uint32_t buffered() const { return buffered_; }
    bool primed() const { return primed_; }
    int32_t lastDelay() const { return lastDelay_; }

private:
    std::unique_ptr<float[]> left_;
    std::unique_ptr<float[]> right_;
    uint32_t readIndex_ = 0;
    uint32_t buffered_ = 0;
    bool primed_ = false;
    int32_t lastDelay_ = 0;
};

} // namespace relaycast
