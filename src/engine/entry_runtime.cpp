#include "engine/entry_runtime.h"

#include "engine/entry_pipeline.h"
#include "engine/host_source_lookup.h"

#include <obs.hpp>

namespace relaycast {
namespace {

constexpr int kWaitPasses = 100;
constexpr int kWaitPassMs = 50;

DestinationStatus endedStatus(const DestinationOutput& d) {
    DestinationStatus s;
    s.state =
        d.state == DestinationState::Failed ? DestinationState::Failed : DestinationState::Idle;
    s.message = d.message();
    return s;
}

bool sourceExists(const QByteArray& name) {
    return findHostSource(QString::fromUtf8(name)) != nullptr;
}

bool everyDestinationEnded(EntryRuntime& runtime) {
    bool all = true;
    // Every destination is looked at, so each one's inactive bookkeeping stays current.
    for (auto& [id, d] : runtime.outputs)
        all = hasEnded(*d) && all;
    return all;
}

} // namespace

EntryRuntime::EntryRuntime(EngineClock& engineClock) : clock(engineClock) {}

EntryRuntime::~EntryRuntime() {
    stopAllAndWait(*this);
    outputs.clear();
    pipeline.reset();
}

void stopAll(EntryRuntime& runtime) {
    for (auto& [id, d] : runtime.outputs)
        stopDestination(*d);
}

void stopAllAndWait(EntryRuntime& runtime) {
    stopAll(runtime);
    for (int pass = 0; pass < kWaitPasses; ++pass) {
        if (everyDestinationEnded(runtime))
            break;
        runtime.clock.sleepMs(kWaitPassMs);
    }
    // Destroyed one by one in id order: each release force-stops and awaits its own output.
    while (!runtime.outputs.empty())
        runtime.outputs.erase(runtime.outputs.begin());
    runtime.pipeline.reset();
}

DestinationStatus destinationStatus(const EntryRuntime& runtime, const QString& destinationId) {
    if (const auto found = runtime.outputs.find(destinationId); found != runtime.outputs.end())
        return found->second->status();
    return runtime.lastStatus.value(destinationId, DestinationStatus{});
}

void tick(EntryRuntime& runtime) {
    for (auto it = runtime.outputs.begin(); it != runtime.outputs.end();) {
        DestinationOutput& d = *it->second;
        runRestartStep(d);
        collectStatistics(d);
        enforceStartTimeout(d);
        enforceStopTimeout(d);
        if (!hasEnded(d)) {
            ++it;
            continue;
        }
        runtime.lastStatus.insert(it->first, endedStatus(d));
        it = runtime.outputs.erase(it);
    }
    if (runtime.outputs.empty()) {
        runtime.pipeline.reset();
        return;
    }
    // The scene or source was deleted or renamed in the host: the whole entry winds down.
    if (runtime.pipeline && !sourceExists(runtime.pipeline->sourceName))
        stopAll(runtime);
}

} // namespace relaycast
