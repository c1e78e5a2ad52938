#include "engine/recording/recording_stall_meter.h"

namespace relaycast {

bool RecordingStallMeter::sample(int64_t nowMs, uint64_t handedBytes, int64_t fileBytes) {
    if (!started_ || fileBytes > fileBytes_ || handedBytes < handedAtGrowth_) {
        started_ = true;
        lastGrowthMs_ = nowMs;
        handedAtGrowth_ = handedBytes;
        fileBytes_ = fileBytes;
        return false;
    }
    return nowMs - lastGrowthMs_ >= kWindowMs && handedBytes - handedAtGrowth_ >= kMinHandedBytes;
}

} // namespace relaycast
