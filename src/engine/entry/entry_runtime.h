#pragma once

#include "config/config_model.h"
#include "engine/destinations/destination_output.h"
#include "engine/destinations/destination_status.h"
#include "engine/host/engine_clock.h"
#include "engine/host/host_call_queue.h"

#include <QMap>
#include <QString>

#include <map>
#include <memory>

namespace relaycast {

struct EntryPipeline;

// The live side of one entry: its shared pipeline (while anything runs) and its destinations.
// The entry counts as live exactly while `outputs` is not empty. Interface thread only; the
// host calls that may wait on the network go to `hostCalls`.
struct EntryRuntime {
    explicit EntryRuntime(EngineClock& clock = steadyClock(),
                          HostCallQueue& hostCalls = backgroundHostCalls());
    // Stops every destination and hands them and the pipeline over for release (see
    // stopAllAndRelease); never waits.
    ~EntryRuntime();
    EntryRuntime(const EntryRuntime&) = delete;
    EntryRuntime& operator=(const EntryRuntime&) = delete;

    // Shared with the destinations it feeds, which release it after their outputs.
    std::shared_ptr<EntryPipeline> pipeline;
    std::map<QString, std::unique_ptr<DestinationOutput>> outputs;
    QMap<QString, DestinationStatus> lastStatus;
    // Destinations taken out of `outputs` with a cancelled connection attempt still under way,
    // until their host objects are released: the attempt may still reach the server.
    QMap<QString, ReleasedFlag> closing;
    EngineClock& clock;
    HostCallQueue& hostCalls;
};

// Starts one destination (opening the pipeline first when needed). True when it runs or
// already ran; false with the message in `out` and kept as the destination's last status.
bool startDestination(EntryRuntime& runtime, const EntryConfig& entry, const DestConfig& dest,
                      QString* out = nullptr);
// The same for the entry's recording, which hands over the hold on its file, kept until its
// output is released.
bool startRecording(EntryRuntime& runtime, const EntryConfig& entry, const RecordingSink& sink,
                    std::unique_ptr<RecordingFileClaim> file, QString* out = nullptr);

// Asks every destination to stop, in id order.
void stopAll(EntryRuntime& runtime);

// Stops everything and empties the runtime at once; on the host call queue each destination
// then waits (at most about 5 s) for its output to end and is released, each on its own strand,
// and the pipeline goes after the last of them.
void stopAllAndRelease(EntryRuntime& runtime);

// Takes the pipeline out of the runtime: the preview and the user's sources are let go of here,
// the rest is released on the host call queue once no destination holds it any more.
void retirePipeline(EntryRuntime& runtime);

// The destination's status after the events its host posted so far.
DestinationStatus destinationStatus(EntryRuntime& runtime, const QString& destinationId);

// True while a cancelled connection attempt of the destination may still be under way.
bool isClosing(EntryRuntime& runtime, const QString& destinationId);

// The 500 ms heartbeat: restarts, statistics, start time-outs, removal of ended destinations,
// release of the pipeline when none is left, and stop when the sent source is gone.
void tick(EntryRuntime& runtime);

} // namespace relaycast
