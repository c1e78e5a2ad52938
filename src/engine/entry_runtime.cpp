#include "engine/entry_runtime.h"

#include "engine/entry_pipeline.h"
#include "engine/host_source_lookup.h"

#include <obs.hpp>

#include <memory>

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

using OutputMap = std::map<QString, std::unique_ptr<DestinationOutput>>;

bool everyDestinationEnded(OutputMap& outputs) {
    bool all = true;
    // Every destination is looked at, so each one's inactive bookkeeping stays current.
    for (auto& [id, d] : outputs)
        all = hasEnded(*d) && all;
    return all;
}

} // namespace

EntryRuntime::EntryRuntime(EngineClock& engineClock, HostCallQueue& queue)
    : clock(engineClock), hostCalls(queue) {}

EntryRuntime::~EntryRuntime() {
    stopAllAndRelease(*this);
}

void stopAll(EntryRuntime& runtime) {
    for (auto& [id, d] : runtime.outputs)
        stopDestination(*d);
}

void stopAllAndRelease(EntryRuntime& runtime) {
    stopAll(runtime);
    if (!runtime.outputs.empty()) {
        auto outputs = std::make_shared<OutputMap>(std::move(runtime.outputs));
        runtime.outputs.clear();
        EngineClock& clock = runtime.clock;
        runtime.hostCalls.post([outputs, &clock] {
            for (int pass = 0; pass < kWaitPasses; ++pass) {
                if (everyDestinationEnded(*outputs))
                    break;
                clock.sleepMs(kWaitPassMs);
            }
            // One by one in id order: each release force-stops and awaits its own output.
            while (!outputs->empty())
                outputs->erase(outputs->begin());
        });
    }
    retirePipeline(runtime);
}

void retirePipeline(EntryRuntime& runtime) {
    if (!runtime.pipeline)
        return;
    std::shared_ptr<EntryPipeline> pipeline(std::move(runtime.pipeline));
    releasePreviewAndSources(*pipeline);
    runtime.hostCalls.post([pipeline]() mutable { pipeline.reset(); });
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
        enforceCancel(d);
        enforceStopTimeout(d);
        if (!hasEnded(d)) {
            ++it;
            continue;
        }
        runtime.lastStatus.insert(it->first, endedStatus(d));
        std::unique_ptr<DestinationOutput> ended = std::move(it->second);
        it = runtime.outputs.erase(it);
        retireDestination(std::move(ended));
    }
    if (runtime.outputs.empty()) {
        retirePipeline(runtime);
        return;
    }
    // The scene or source was deleted or renamed in the host: the whole entry winds down.
    if (runtime.pipeline && !sourceExists(runtime.pipeline->sourceName))
        stopAll(runtime);
}

} // namespace relaycast
