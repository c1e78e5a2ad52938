#include "engine/audio/audio_capture_ring.h"

#include <algorithm>
#include <cstring>

namespace relaycast {
namespace {

constexpr uint32_t kIndexMask = kRingFrames - 1;
static_assert((kRingFrames & kIndexMask) == 0, "the ring size must be a power of two");
static_assert(kMaxPacketFrames + kTrimSlack <= kRingFrames);

uint32_t ringDelay(int32_t delayFrames) {
    return uint32_t(std::clamp(delayFrames, 0, kMaxRingDelay));
}

// Eight frames at a time as one vector value: the compiler turns these into vector
// instructions at the project's optimisation level, where the plain loops stay scalar. The mix
// runs this for every capture of every block.
typedef float Frames8 __attribute__((vector_size(8 * sizeof(float))));
constexpr uint32_t kStep = 8;

void scaleInto(float* out, const float* in, uint32_t frames, float volume) {
    uint32_t i = 0;
    for (; i + kStep <= frames; i += kStep) {
        Frames8 v;
        std::memcpy(&v, in + i, sizeof v);
        v *= volume;
        std::memcpy(out + i, &v, sizeof v);
    }
    for (; i < frames; ++i)
        out[i] = volume * in[i];
}

void addInto(float* out, const float* in, uint32_t frames) {
    uint32_t i = 0;
    for (; i + kStep <= frames; i += kStep) {
        Frames8 sum;
        Frames8 v;
        std::memcpy(&sum, out + i, sizeof sum);
        std::memcpy(&v, in + i, sizeof v);
        sum += v;
        std::memcpy(out + i, &sum, sizeof sum);
    }
    for (; i < frames; ++i)
        out[i] += in[i];
}

void storeScaled(float* ring, uint32_t at, const float* in, uint32_t frames, float volume) {
    const uint32_t first = std::min(frames, kRingFrames - at);
    scaleInto(ring + at, in, first, volume);
    scaleInto(ring, in + first, frames - first, volume);
}

void addFrom(float* out, const float* ring, uint32_t at, uint32_t frames) {
    const uint32_t first = std::min(frames, kRingFrames - at);
    addInto(out, ring + at, first);
    addInto(out + first, ring, frames - first);
}

} // namespace

int32_t delayFramesFor(int32_t delayMs, uint32_t sampleRate) {
    const int64_t ms = std::clamp(delayMs, 0, 1000);
    return int32_t(ms * int64_t(sampleRate) / 1000);
}

AudioCaptureRing::AudioCaptureRing(int32_t delayFrames)
    : left_(std::make_unique<float[]>(kRingFrames)), right_(std::make_unique<float[]>(kRingFrames)),
      lastDelay_(int32_t(ringDelay(delayFrames))) {}

void AudioCaptureRing::push(const float* left, const float* right, uint32_t frames, float volume,
                            int32_t delayFrames) {
    const uint32_t d = ringDelay(delayFrames);
    const uint32_t n = std::min(frames, kMaxPacketFrames);
    left += frames - n;
    right += frames - n;

    if (buffered_ + n > d + kTrimSlack) {
        const uint32_t drop = std::min(buffered_ + n - d - kMaxPacketFrames, buffered_);
        readIndex_ = (readIndex_ + drop) & kIndexMask;
        buffered_ -= drop;
    }

    const uint32_t at = (readIndex_ + buffered_) & kIndexMask;
    storeScaled(left_.get(), at, left, n, volume);
    storeScaled(right_.get(), at, right, n, volume);
    buffered_ += n;
}

bool AudioCaptureRing::pull(float* outLeft, float* outRight, int32_t delayFrames) {
    const uint32_t d = ringDelay(delayFrames);
    const uint32_t target = d + kPrimeMargin;

    if (int32_t(d) != lastDelay_) {
        if (int32_t(d) > lastDelay_) {
            primed_ = false;
        } else if (buffered_ > target) {
            readIndex_ = (readIndex_ + buffered_ - target) & kIndexMask;
            buffered_ = target;
        }
        lastDelay_ = int32_t(d);
    }

    if (!primed_) {
        if (buffered_ < target)
            return false;
        primed_ = true;
    }
    if (buffered_ < kMixBlockFrames) {
        primed_ = false;
        return false;
    }

    addFrom(outLeft, left_.get(), readIndex_, kMixBlockFrames);
    addFrom(outRight, right_.get(), readIndex_, kMixBlockFrames);
    readIndex_ = (readIndex_ + kMixBlockFrames) & kIndexMask;
    buffered_ -= kMixBlockFrames;
    return true;
}

} // namespace relaycast
