#pragma once

#include <cstdint>

namespace relaycast {

// The one steady clock of the engine. Every time-out, restart delay and outage length is read
// from it, so tests can replace it and play minutes of failures in milliseconds.
class EngineClock {
public:
    virtual ~EngineClock() = default;
    virtual int64_t nowNs() const = 0;
    // Waits (the real clock) or advances time (a test clock) by `ms` milliseconds.
    virtual void sleepMs(int ms) = 0;

    int64_t nowMs() const { return nowNs() / 1000000; }
};

// The real monotonic clock.
EngineClock& steadyClock();

} // namespace relaycast
