#include "engine/encoding/encoder_load_meter.h"

namespace relaycast {

void EncoderLoadMeter::sample(uint32_t skippedFrames, uint32_t totalFrames) {
    // Counts that went back belong to a new video output: the window starts over.
    if (!samples_.empty() &&
        (totalFrames < samples_.back().total || skippedFrames < samples_.back().skipped))
        samples_.clear();
    samples_.push_back({skippedFrames, totalFrames});
    while (samples_.size() > kWindowSamples + 1)
        samples_.pop_front();
}

double EncoderLoadMeter::skippedPercent() const {
    if (samples_.size() < 2)
        return 0;
    const uint32_t frames = samples_.back().total - samples_.front().total;
    const uint32_t skipped = samples_.back().skipped - samples_.front().skipped;
    return frames > 0 ? 100.0 * skipped / frames : 0;
}

} // namespace relaycast
