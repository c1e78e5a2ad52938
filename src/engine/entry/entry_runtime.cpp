#include "engine/entry/entry_runtime.h"

#include "engine/host/host_source_lookup.h"
#include "engine/picture/entry_pipeline.h"

#include <obs.hpp>

#include <algorithm>
#include <iterator>
#include <memory>

namespace relaycast {
namespace {

constexpr int kWaitPasses = 100;
constexpr int kWaitPassMs = 50;

DestinationStatus endedStatus(const DestinationOutput& d) {
    DestinationStatus s;
    s.state =
        d.phase == DestinationPhase::Failed ? DestinationState::Failed : DestinationState::Idle;
    s.message = d.message();
    if (d.recording)
        s.file = d.file;
    return s;
}

bool sourceExists(const QByteArray& name) {
    return findHostSource(QString::fromUtf8(name)) != nullptr;
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
    EngineClock& clock = runtime.clock;
    // Each destination on its own strand: one that never ends holds up none of the others.
    for (auto& [id, d] : runtime.outputs) {
        // A recording whose folder does not answer keeps its writer: nothing else waits for it
        // here (its strand is its own), and the folder may answer in a moment; an exit ends it
        // once its grace is up.
        const void* strand = d.get();
        // A delayed stream is given its delay to send what it holds back.
        const int passes =
            kWaitPasses + static_cast<int>(d->delayNs / (int64_t{kWaitPassMs} * 1000 * 1000));
        runtime.hostCalls.post(
            strand, [owned = std::shared_ptr<DestinationOutput>(std::move(d)), &clock, passes] {
                for (int pass = 0; pass < passes && !hasEnded(*owned); ++pass)
                    clock.sleepMs(kWaitPassMs);
                // Released with the call: the release force-stops and awaits an output still
                // active.
            });
    }
    runtime.outputs.clear();
    retirePipeline(runtime);
}

void retirePipeline(EntryRuntime& runtime) {
    if (!runtime.pipeline)
        return;
    std::shared_ptr<EntryPipeline> pipeline = std::move(runtime.pipeline);
    releasePreviewAndSources(*pipeline);
    // Its destinations still closing hold it too: the last of them releases it, after its
    // output.
    const void* strand = pipeline.get();
    runtime.hostCalls.post(strand, [pipeline]() mutable { pipeline.reset(); });
}

DestinationStatus destinationStatus(EntryRuntime& runtime, const QString& destinationId) {
    if (const auto found = runtime.outputs.find(destinationId); found != runtime.outputs.end())
        return found->second->status();
    return runtime.lastStatus.value(destinationId, DestinationStatus{});
}

bool isClosing(EntryRuntime& runtime, const QString& destinationId) {
    const auto found = runtime.closing.find(destinationId);
    if (found == runtime.closing.end())
        return false;
    if (!**found)
        return true;
    runtime.closing.erase(found);
    return false;
}

void tick(EntryRuntime& runtime) {
    for (auto it = runtime.closing.begin(); it != runtime.closing.end();)
        it = **it ? runtime.closing.erase(it) : std::next(it);
    // Whether streams take packets from the encoders a recording's writer may hold up.
    const bool streaming =
        std::any_of(runtime.outputs.begin(), runtime.outputs.end(), [](const auto& output) {
            const DestinationOutput& d = *output.second;
            return !d.recording && d.port && d.port->active();
        });
    for (auto it = runtime.outputs.begin(); it != runtime.outputs.end();) {
        DestinationOutput& d = *it->second;
        d.deliverHostEvents();
        runRestartStep(d);
        collectStatistics(d);
        watchRecordingFile(d, streaming);
        enforceStartTimeout(d);
        enforceCancel(d);
        enforceStopTimeout(d);
        restartIfLiveWithoutEncoders(d);
        if (!hasEnded(d)) {
            ++it;
            continue;
        }
        runtime.lastStatus.insert(it->first, endedStatus(d));
        // A cancelled connection attempt may still reach the server: a new start waits for it.
        ReleasedFlag released;
        if (d.attempt.underWay()) {
            released = std::make_shared<std::atomic<bool>>(false);
            runtime.closing.insert(it->first, released);
        }
        std::unique_ptr<DestinationOutput> ended = std::move(it->second);
        it = runtime.outputs.erase(it);
        retireDestination(std::move(ended), std::move(released));
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
