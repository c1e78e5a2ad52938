#include "support/manual_clock.h"

namespace relaycast::test {

void ManualClock::sleepMs(int ms) {
    sleepCalls_.fetch_add(1);
    sleptMs_.fetch_add(ms);
    advanceMs(ms);
}

} // namespace relaycast::test
