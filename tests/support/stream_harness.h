#pragma once

// Helpers for tests that stream for real: entries and destinations built in a line, the panel's
// 500 ms heartbeat driven by the test while it waits, and counts of the plug-in's host objects.

#include "config/config_model.h"
#include "engine/destinations/destination_output.h"
#include "engine/entry/entry_runtime.h"

#include <obs.hpp>

#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>

namespace relaycast::test {

DestConfig destination(const QString& id, const QString& url, const QString& key = {},
                       const QString& passphrase = {});

// An entry sending `source` at an own size (0 x 0: the canvas size) with AAC audio.
EntryConfig entrySending(const QString& source, int width, int height,
                         const QList<DestConfig>& destinations);

// Runs `tick` on every runtime every 500 ms, like the panel, until `condition` holds (checked
// every 50 ms) or `timeout` passes; returns the condition's last value. `onTick` runs after
// each heartbeat (to watch states tick by tick).
bool tickUntil(std::initializer_list<EntryRuntime*> runtimes,
               const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               const std::function<void()>& onTick = nullptr);
bool tickUntil(EntryRuntime& runtime, const std::function<bool()>& condition,
               std::chrono::milliseconds timeout, const std::function<void()>& onTick = nullptr);
// Keeps ticking for `duration`.
void tickFor(std::initializer_list<EntryRuntime*> runtimes, std::chrono::milliseconds duration,
             const std::function<void()>& onTick = nullptr);

DestinationState stateOf(EntryRuntime& runtime, const QString& id);
bool allInState(EntryRuntime& runtime, const QList<QString>& ids, DestinationState state);
const char* stateName(DestinationState state);

// Starts every destination of `destinations` on `runtime` in order, then ticks until all are
// Live. Empty on success, otherwise what went wrong.
QString startAllUntilLive(EntryRuntime& runtime, const EntryConfig& entry,
                          const QList<DestConfig>& destinations, std::chrono::milliseconds timeout);

// Stops every destination of `runtime` and waits until the host call queue has released them
// and the pipeline (streams ended, recordings complete).
void stopAllAndAwaitRelease(EntryRuntime& runtime);

// How many host encoders / outputs / services carry this name right now (after the host call
// queue has run what it was given).
int countHostEncoders(const char* name);
int countHostOutputs(const char* name);
int countHostServices(const char* name);
// Host encoders, outputs and services whose names start with "relaycast".
int countPluginHostObjects();

// The host output of a running destination (null for a fake port or none).
obs_output_t* hostOutputOf(const DestinationOutput& d);

// Counts the signals a host output emits, through a handler of the test's own.
class OutputSignalCounter {
public:
    explicit OutputSignalCounter(obs_output_t* output);
    ~OutputSignalCounter();
    OutputSignalCounter(const OutputSignalCounter&) = delete;
    OutputSignalCounter& operator=(const OutputSignalCounter&) = delete;

    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::atomic<int> reconnects{0};
    std::atomic<int> reconnectSuccesses{0};

private:
    OBSSignal start_;
    OBSSignal stop_;
    OBSSignal reconnect_;
    OBSSignal reconnectSuccess_;
};

} // namespace relaycast::test
