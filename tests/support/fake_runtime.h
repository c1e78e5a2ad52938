#pragma once

#include "engine/destinations/destination_output.h"
#include "engine/entry/entry_runtime.h"
#include "support/fake_output_port.h"
#include "support/manual_clock.h"
#include "support/test_host_calls.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace relaycast::test {

// Adds destination `id` to `runtime` on a fake port, as a start the host accepted leaves it:
// Starting, output active, timed by the runtime's clock; its stream delayed `delaySecs`.
std::shared_ptr<FakeOutputScript> addFakeDestination(EntryRuntime& runtime, const QString& id,
                                                     int delaySecs = 0);

// An entry runtime on a manual clock whose destinations sit on fake ports: the engine's
// decisions without a host. It never has a pipeline, so ticking it makes no host call.
struct FakeRuntime {
    static constexpr int64_t kTickMs = 500;

    ManualClock clock;
    InlineHostCalls hostCalls;
    EntryRuntime runtime{clock, hostCalls};

    std::shared_ptr<FakeOutputScript> addStarting(const QString& id, int delaySecs = 0) {
        return addFakeDestination(runtime, id, delaySecs);
    }
    // Adds destination `id` that the host has reported started: Live.
    std::shared_ptr<FakeOutputScript> addLive(const QString& id, int delaySecs = 0);

    // The destination in the outputs map; fails the test when it is not there.
    DestinationOutput& at(const QString& id);
    bool has(const QString& id) const { return runtime.outputs.contains(id); }
    DestinationStatus status(const QString& id) { return destinationStatus(runtime, id); }

    // Advances the clock by `ms`, then runs one heartbeat.
    void tickAfter(int64_t ms);
    // Heartbeats every 500 ms for `ms` milliseconds.
    void runFor(int64_t ms);
};

} // namespace relaycast::test
