#pragma once

#include "engine/host/engine_clock.h"

#include <atomic>
#include <cstdint>

namespace relaycast::test {

// An engine clock that only moves when told to: sleeping advances it at once, so minutes of
// restart schedule play in microseconds. Starts well away from 0, which the engine reads as
// "no time recorded".
class ManualClock final : public EngineClock {
public:
    static constexpr int64_t kStartNs = 1000LL * 1000 * 1000 * 1000; // 1000 s

    explicit ManualClock(int64_t startNs = kStartNs) : now_(startNs) {}

    int64_t nowNs() const override { return now_.load(); }
    void sleepMs(int ms) override;

    void setNowNs(int64_t ns) { now_.store(ns); }
    void advanceMs(int64_t ms) { now_.fetch_add(ms * 1000000); }

    // How often and how long sleepMs was asked to wait.
    int sleepCalls() const { return sleepCalls_.load(); }
    int64_t sleptMs() const { return sleptMs_.load(); }

private:
    std::atomic<int64_t> now_;
    std::atomic<int> sleepCalls_{0};
    std::atomic<int64_t> sleptMs_{0};
};

} // namespace relaycast::test
