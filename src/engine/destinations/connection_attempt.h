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
    void begin() {
        endedNs_ = 0;
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
    // When the host last said an attempt ended (steady clock); 0 when none did.
    int64_t endedNs() const { return endedNs_; }

private:
    std::atomic<bool> underWay_{false};
    std::atomic<int64_t> endedNs_{0};
};

} // namespace relaycast
