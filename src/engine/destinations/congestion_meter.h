#pragma once

#include "engine/destinations/destination_status.h"
#include "engine/host/tcp_path_probe.h"

#include <array>
#include <cstdint>

namespace relaycast {

// What one heartbeat read from a live destination's host output and its connection.
struct CongestionSample {
    int64_t nowMs = 0;
    // Bytes of the output's current run the host handed to its socket so far.
    uint64_t handedBytes = 0;
    // The host's own congestion figure (0..1: how full its send queue is against the point
    // where it starts dropping frames); negative for an output that keeps none.
    double hostCongestion = -1;
    // Frames of the current run the host gave up.
    int32_t droppedFrames = 0;
    // The kernel's figures of the output's connection, when it could be found.
    PathFigures path;
};

// Whether a destination's path takes less than the stream, one sample per heartbeat while it
// is live. Pressure is any of:
// - its connection holds more than `kQueuePressureMs` of what the path takes (the kernel's
//   figures: a socket absorbs megabytes before the host notices anything);
// - the host's own send queue is half way to where it drops frames;
// - the host gave up frames;
// - the host handed nothing for `kBlockedMs` (its socket takes nothing at all).
// A destination turns congested after pressure in `kEnterSamples` of the last `kEnterWindow`
// heartbeats, and clear again after `kClearMs` without any, so a path that swings around its
// limit is one episode, not one per heartbeat.
// What reaches the server is the rate its connection's bytes were acknowledged over the last
// ten seconds (acknowledgements come in steps, a shorter span swings); without the connection
// it is not known: the host's own count keeps growing while nothing arrives (SRT counts what it
// hands to its library, RTMP what its socket takes).
class CongestionMeter {
public:
    static constexpr int64_t kQueuePressureMs = 1000;
    static constexpr double kPressureCongestion = 0.5;
    static constexpr int64_t kBlockedMs = 2000;
    static constexpr int kEnterSamples = 2;
    static constexpr int kEnterWindow = 4;
    static constexpr int64_t kClearMs = 10000;
    static constexpr int kRateWindowSamples = 20; // ten seconds of heartbeats

    // A new run of the output (or none): every figure starts again, the episodes stay.
    void reset();
    void sample(const CongestionSample& s);

    bool congested() const { return congested_; }
    // Congestion episodes since the destination started.
    int32_t episodes() const { return episodes_; }
    // The host's figure in percent; -1 when the output keeps none or nothing was sampled.
    int32_t congestionPercent() const { return congestionPercent_; }
    // Kbit/s that reached the server lately: 0 only when nothing did; -1 until two samples of
    // the connection exist.
    int32_t receivedKbps() const;
    // How long the connection's queue takes to leave at the exact rate (not the rounded one
    // above: a trickle would read far too short); -1 when unknown (also when nothing leaves);
    // kLongestQueuedMs + 1 when it takes longer than that.
    int32_t queuedMs() const;

private:
    const CongestionSample* newest() const;
    // Bits a millisecond the connection's bytes were acknowledged at; negative when unknown.
    double receivedBitsPerMs() const;
    bool pressure(const CongestionSample& s) const;

    std::array<CongestionSample, kRateWindowSamples> recent_{};
    int count_ = 0; // samples in recent_, at most its size
    int next_ = 0;  // where the next sample goes
    int64_t lastHandedMs_ = 0;
    uint32_t pressureBits_ = 0; // one bit per heartbeat, newest lowest
    int64_t lastPressureMs_ = 0;
    bool congested_ = false;
    int32_t episodes_ = 0;
    int32_t congestionPercent_ = -1;
};

} // namespace relaycast
