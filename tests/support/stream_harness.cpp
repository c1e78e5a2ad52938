#include "stream_harness.h"

#include "engine/destinations/host_output_port.h"
#include "engine/host/host_call_queue.h"

#include <cstring>
#include <thread>

namespace relaycast::test {
namespace {

constexpr auto kHeartbeat = std::chrono::milliseconds(500);
constexpr auto kPoll = std::chrono::milliseconds(50);

bool isPluginName(const char* name) {
    return name && std::strncmp(name, "relaycast", 9) == 0;
}

struct NameCount {
    const char* name = nullptr;
    bool pluginPrefix = false;
    int count = 0;

    void consider(const char* candidate) {
        if (pluginPrefix ? isPluginName(candidate)
                         : (candidate && std::strcmp(candidate, name) == 0))
            ++count;
    }
};

bool countEncoder(void* param, obs_encoder_t* encoder) {
    static_cast<NameCount*>(param)->consider(obs_encoder_get_name(encoder));
    return true;
}

bool countOutput(void* param, obs_output_t* output) {
    static_cast<NameCount*>(param)->consider(obs_output_get_name(output));
    return true;
}

bool countService(void* param, obs_service_t* service) {
    static_cast<NameCount*>(param)->consider(obs_service_get_name(service));
    return true;
}

void increment(void* param, calldata_t*) {
    ++*static_cast<std::atomic<int>*>(param);
}

} // namespace

DestConfig destination(const QString& id, const QString& url, const QString& key,
                       const QString& passphrase) {
    return DestConfig{id, url, key, passphrase};
}

EntryConfig entrySending(const QString& source, int width, int height,
                         const QList<DestConfig>& destinations) {
    EntryConfig entry;
    entry.id = newConfigId();
    entry.fuente = source;
    entry.nombre = source;
    entry.videoKbps = 1500;
    entry.audioKbps = 128;
    entry.codificadorAudio = QStringLiteral("aac");
    entry.ancho = width;
    entry.alto = height;
    entry.destinos = destinations;
    return entry;
}

bool tickUntil(std::initializer_list<EntryRuntime*> runtimes,
               const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               const std::function<void()>& onTick) {
    const auto start = std::chrono::steady_clock::now();
    auto nextTick = start + kHeartbeat;
    while (!condition()) {
        const auto now = std::chrono::steady_clock::now();
        if (now - start >= timeout)
            return condition();
        if (now >= nextTick) {
            for (EntryRuntime* runtime : runtimes)
                tick(*runtime);
            if (onTick)
                onTick();
            nextTick += kHeartbeat;
            continue;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

bool tickUntil(EntryRuntime& runtime, const std::function<bool()>& condition,
               std::chrono::milliseconds timeout, const std::function<void()>& onTick) {
    return tickUntil({&runtime}, condition, timeout, onTick);
}

void tickFor(std::initializer_list<EntryRuntime*> runtimes, std::chrono::milliseconds duration,
             const std::function<void()>& onTick) {
    tickUntil(
        runtimes, [] { return false; }, duration, onTick);
}

DestinationState stateOf(EntryRuntime& runtime, const QString& id) {
    return destinationStatus(runtime, id).state;
}

bool allInState(EntryRuntime& runtime, const QList<QString>& ids, DestinationState state) {
    for (const QString& id : ids)
        if (stateOf(runtime, id) != state)
            return false;
    return true;
}

QString startAllUntilLive(EntryRuntime& runtime, const EntryConfig& entry,
                          const QList<DestConfig>& destinations,
                          std::chrono::milliseconds timeout) {
    QList<QString> ids;
    for (const DestConfig& destination : destinations) {
        QString error;
        if (!startDestination(runtime, entry, destination, &error))
            return QStringLiteral("could not start %1: %2").arg(destination.id, error);
        ids.append(destination.id);
    }
    const bool live = tickUntil(
        runtime, [&] { return allInState(runtime, ids, DestinationState::Live); }, timeout);
    return live ? QString() : QStringLiteral("not every destination reached Live");
}

const char* stateName(DestinationState state) {
    switch (state) {
    case DestinationState::Idle:
        return "Idle";
    case DestinationState::Starting:
        return "Starting";
    case DestinationState::Live:
        return "Live";
    case DestinationState::Reconnecting:
        return "Reconnecting";
    case DestinationState::Failed:
        return "Failed";
    }
    return "?";
}

void stopAllAndAwaitRelease(EntryRuntime& runtime) {
    stopAllAndRelease(runtime);
    drainBackgroundHostCalls();
}

int countHostEncoders(const char* name) {
    drainBackgroundHostCalls();
    NameCount count{name};
    obs_enum_encoders(countEncoder, &count);
    return count.count;
}

int countHostOutputs(const char* name) {
    drainBackgroundHostCalls();
    NameCount count{name};
    obs_enum_outputs(countOutput, &count);
    return count.count;
}

int countHostServices(const char* name) {
    drainBackgroundHostCalls();
    NameCount count{name};
    obs_enum_services(countService, &count);
    return count.count;
}

int countPluginHostObjects() {
    drainBackgroundHostCalls();
    NameCount count{nullptr, true};
    obs_enum_encoders(countEncoder, &count);
    obs_enum_outputs(countOutput, &count);
    obs_enum_services(countService, &count);
    return count.count;
}

obs_output_t* hostOutputOf(const DestinationOutput& d) {
    const auto* port = dynamic_cast<const HostOutputPort*>(d.port.get());
    return port ? port->output.Get() : nullptr;
}

OutputSignalCounter::OutputSignalCounter(obs_output_t* output) {
    signal_handler_t* handler = obs_output_get_signal_handler(output);
    start_.Connect(handler, "start", increment, &starts);
    stop_.Connect(handler, "stop", increment, &stops);
    reconnect_.Connect(handler, "reconnect", increment, &reconnects);
    reconnectSuccess_.Connect(handler, "reconnect_success", increment, &reconnectSuccesses);
}

OutputSignalCounter::~OutputSignalCounter() = default;

} // namespace relaycast::test
