#pragma once

#include <cstdint>
#include <deque>

namespace relaycast {

// How much of an entry's own video its encoder lately could not take: the share of frames the
// entry's video output skipped over the last few heartbeats (the host skips frames when the
// encoder falls behind). One sample per heartbeat.
class EncoderLoadMeter {
public:
    static constexpr int kWindowSamples = 10; // five seconds of heartbeats

    // The video output's running counts of skipped and of all frames.
    void sample(uint32_t skippedFrames, uint32_t totalFrames);
    // Skipped frames in percent of the frames over the window; 0 until two samples exist.
    double skippedPercent() const;
    void reset() { samples_.clear(); }

private:
    struct Sample {
        uint32_t skipped;
        uint32_t total;
    };
    std::deque<Sample> samples_;
};

} // namespace relaycast
