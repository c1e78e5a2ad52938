#pragma once

#include "engine/host/engine_clock.h"

#include <atomic>
#include <cstdint>

namespace relaycast {

// Whether a start the host accepted is still connecting: from the call until the host's "start"
// or "stop" signal says how the attempt ended. The one record of it, kept by the destination:
// the engine reads it to cancel or defer, the host port to wait before it stops or releases the
// output (libobs joins the connecting thread there, and that thread detaches itself when its
// attempt ends unless a stop came first, which crashes the joining thread: seen with glibc 2.36
// on OBS 29 and 30). Any thread.
class ConnectionAttempt {
public:
    // Before the host is asked to start: the attempt may end, and say so, before that call
    // returns.
    // `heldBackNs`: how long the host holds the stream back (its delay) before it connects at
    // all.
    void begin(int64_t heldBackNs = 0) {
        endedNs_ = 0;
        connectsFromNs_ =
            heldBackNs > 0 ? steadyClock().nowNs() + heldBackNs - kHeldBackMarginNs : 0;
        underWay_ = true;
    }
    // The host refused the start at once.
    void refused() { underWay_ = false; }
    // The host said how it ended (host output threads).
    void end() {
        endedNs_ = steadyClock().nowNs();
        underWay_ = false;
    }
    bool underWay() const { return underWay_; }
    // Under way, and still well inside the delay: the host only holds packets then and has no
    // connecting thread yet, so a forced stop needs to wait for nothing.
    bool heldBack() const {
        const int64_t from = connectsFromNs_;
        return underWay_ && from != 0 && steadyClock().nowNs() < from;
    }
    // When the host last said an attempt ended (steady clock); 0 when none did.
    int64_t endedNs() const { return endedNs_; }

private:
    std::atomic<bool> underWay_{false};
    std::atomic<int64_t> endedNs_{0};
    std::atomic<int64_t> connectsFromNs_{0};
    // The host connects once its delay is up: nothing counts as held back this close to it.
    static constexpr int64_t kHeldBackMarginNs = 1000LL * 1000 * 1000;
};

} // namespace relaycast
