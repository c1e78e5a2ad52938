#pragma once

#include "config/config_model.h"
#include "engine/destination_output.h"
#include "engine/destination_status.h"
#include "engine/engine_clock.h"

#include <QMap>
#include <QString>

#include <map>
#include <memory>

namespace relaycast {

struct EntryPipeline;

// The live side of one entry: its shared pipeline (while anything runs) and its destinations.
// The entry counts as live exactly while `outputs` is not empty. Interface thread only.
struct EntryRuntime {
    explicit EntryRuntime(EngineClock& clock = steadyClock());
    // Stops and waits for every destination, then releases them and the pipeline.
    ~EntryRuntime();
    EntryRuntime(const EntryRuntime&) = delete;
    EntryRuntime& operator=(const EntryRuntime&) = delete;

    std::unique_ptr<EntryPipeline> pipeline;
    std::map<QString, std::unique_ptr<DestinationOutput>> outputs;
    QMap<QString, DestinationStatus> lastStatus;
    EngineClock& clock;
};

// Starts one destination (opening the pipeline first when needed). True when it runs or
// already ran; false with the message in `out` and kept as the destination's last status.
bool startDestination(EntryRuntime& runtime, const EntryConfig& entry, const DestConfig& dest,
                      QString* out = nullptr);

// Asks every destination to stop, in id order.
void stopAll(EntryRuntime& runtime);

// Stops everything, waits (at most about 5 s) for the outputs to end, then releases every
// destination and the pipeline.
void stopAllAndWait(EntryRuntime& runtime);

DestinationStatus destinationStatus(const EntryRuntime& runtime, const QString& destinationId);

// The 500 ms heartbeat: restarts, statistics, start time-outs, removal of ended destinations,
// release of the pipeline when none is left, and stop when the sent source is gone.
void tick(EntryRuntime& runtime);

} // namespace relaycast
