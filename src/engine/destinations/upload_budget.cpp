#include "engine/destinations/upload_budget.h"

#include <algorithm>
#include <limits>

namespace relaycast {
namespace {

constexpr int64_t kMaxKbps = std::numeric_limits<int32_t>::max();

int32_t clampedKbps(int64_t kbps) {
    return static_cast<int32_t>(std::clamp<int64_t>(kbps, 0, kMaxKbps));
}

} // namespace

int32_t uploadKbps(int32_t videoKbps, int32_t audioKbps, AddressKind kind) {
    const int64_t streams = int64_t(std::max(videoKbps, 0)) + std::max(audioKbps, 0);
    const int64_t percent = kind == AddressKind::RTMP ? 105 : 110;
    return clampedKbps((streams * percent + 99) / 100);
}

void UploadBudget::sample(const QList<UploadUse>& live) {
    int64_t needed = 0;
    int64_t carried = 0;
    bool congested = false;
    for (const UploadUse& use : live) {
        needed += use.neededKbps;
        congested |= use.congested;
        // A destination whose connection cannot be read (SRT, RIST) counts with what the host
        // handed on: its upload is what left, whether or not it all arrived.
        carried += std::max(use.receivedKbps >= 0 ? use.receivedKbps : use.sentKbps, 0);
    }
    neededKbps_ = clampedKbps(needed);
    if (congested && carried > 0)
        carriedKbps_ = std::max(carriedKbps_, clampedKbps(carried));
}

bool UploadBudget::exceededWith(int64_t moreKbps) const {
    return carriedKbps_ > 0 && neededKbps_ + std::max<int64_t>(moreKbps, 0) > carriedKbps_;
}

} // namespace relaycast
