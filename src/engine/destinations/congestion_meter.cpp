#include "engine/destinations/congestion_meter.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace relaycast {
namespace {

int32_t clampedInt(double value, int64_t most) {
    return static_cast<int32_t>(std::clamp<double>(value, 0, static_cast<double>(most)));
}

} // namespace

void CongestionMeter::reset() {
    const int32_t episodes = episodes_;
    *this = CongestionMeter();
    episodes_ = episodes;
}

const CongestionSample* CongestionMeter::newest() const {
    return count_ > 0 ? &recent_[(next_ + kRateWindowSamples - 1) % kRateWindowSamples] : nullptr;
}

void CongestionMeter::sample(const CongestionSample& s) {
    // Every run of the output counts from zero: a smaller figure is a new run.
    if (const CongestionSample* last = newest();
        last && (s.handedBytes < last->handedBytes || s.droppedFrames < last->droppedFrames))
        reset();
    const CongestionSample* last = newest();
    if (!last || s.handedBytes > last->handedBytes)
        lastHandedMs_ = s.nowMs;
    const bool now = pressure(s);
    recent_[next_] = s;
    next_ = (next_ + 1) % kRateWindowSamples;
    count_ = std::min(count_ + 1, kRateWindowSamples);

    pressureBits_ = ((pressureBits_ << 1) | (now ? 1u : 0u)) & ((1u << kEnterWindow) - 1);
    if (now)
        lastPressureMs_ = s.nowMs;
    if (!congested_ && std::popcount(pressureBits_) >= kEnterSamples) {
        congested_ = true;
        ++episodes_;
    } else if (congested_ && s.nowMs - lastPressureMs_ >= kClearMs) {
        congested_ = false;
    }
    congestionPercent_ =
        s.hostCongestion < 0
            ? -1
            : static_cast<int32_t>(std::lround(100.0 * std::clamp(s.hostCongestion, 0.0, 1.0)));
}

bool CongestionMeter::pressure(const CongestionSample& s) const {
    const CongestionSample* last = newest();
    if (!last)
        return false;
    if (s.hostCongestion >= kPressureCongestion || s.droppedFrames > last->droppedFrames ||
        s.nowMs - lastHandedMs_ >= kBlockedMs)
        return true;
    // The queue against what the path took lately, this sample included.
    if (!s.path.known || !last->path.known || count_ < 2)
        return false;
    const CongestionSample& oldest =
        recent_[(next_ + kRateWindowSamples - count_) % kRateWindowSamples];
    if (!oldest.path.known || s.nowMs <= oldest.nowMs || s.path.ackedBytes < oldest.path.ackedBytes)
        return false;
    const double bytesPerMs = static_cast<double>(s.path.ackedBytes - oldest.path.ackedBytes) /
                              static_cast<double>(s.nowMs - oldest.nowMs);
    return static_cast<double>(s.path.queuedBytes) >
           bytesPerMs * static_cast<double>(kQueuePressureMs);
}

double CongestionMeter::receivedBitsPerMs() const {
    if (count_ < 2)
        return -1;
    const CongestionSample& last = *newest();
    const CongestionSample& oldest =
        recent_[(next_ + kRateWindowSamples - count_) % kRateWindowSamples];
    const int64_t ms = last.nowMs - oldest.nowMs;
    if (ms <= 0)
        return -1;
    if (!last.path.known || !oldest.path.known || last.path.ackedBytes < oldest.path.ackedBytes)
        return -1;
    return static_cast<double>(last.path.ackedBytes - oldest.path.ackedBytes) * 8.0 /
           static_cast<double>(ms);
}

int32_t CongestionMeter::receivedKbps() const {
    const double bitsPerMs = receivedBitsPerMs();
    if (bitsPerMs < 0)
        return -1;
    // 0 says that nothing arrived: anything that did counts at least 1.
    if (bitsPerMs == 0)
        return 0;
    return std::max(1, clampedInt(bitsPerMs, INT32_MAX));
}

int32_t CongestionMeter::queuedMs() const {
    const CongestionSample* last = newest();
    const double bitsPerMs = receivedBitsPerMs();
    if (!last || !last->path.known || bitsPerMs < 0)
        return -1;
    if (last->path.queuedBytes == 0)
        return 0;
    // Nothing leaves: how long the queue takes is not known.
    if (bitsPerMs == 0)
        return -1;
    return clampedInt(static_cast<double>(last->path.queuedBytes) * 8.0 / bitsPerMs,
                      int64_t{kLongestQueuedMs} + 1);
}

} // namespace relaycast
