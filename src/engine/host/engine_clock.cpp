#include "engine/host/engine_clock.h"

#include <chrono>
#include <thread>

namespace relaycast {
namespace {

class SteadyEngineClock final : public EngineClock {
public:
    int64_t nowNs() const override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void sleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

} // namespace

EngineClock& steadyClock() {
    static SteadyEngineClock clock;
    return clock;
}

} // namespace relaycast
