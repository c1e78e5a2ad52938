#include "engine/host_output_port.h"

#include "engine/destination_output.h"
#include "engine/host_call_queue.h"
#include "engine/output_connections.h"

#include <chrono>
#include <thread>
#include <utility>

namespace relaycast {
namespace {

constexpr int kInactivePolls = 40;
constexpr auto kInactivePollInterval = std::chrono::milliseconds(50);

DestinationOutput& destinationOf(void* param) {
    return *static_cast<DestinationOutput*>(param);
}

// The handlers run on host output threads: nothing may escape into the host.
void handleStart(void* param, calldata_t*) {
    try {
        destinationOf(param).onStart();
    } catch (...) {
    }
}

void handleStop(void* param, calldata_t* data) {
    try {
        const int code = static_cast<int>(calldata_int(data, "code"));
        const char* lastError = nullptr;
        // Hosts that do not pass the text with the signal still keep it on the output.
        if (!calldata_get_string(data, "last_error", &lastError) || !lastError || !*lastError) {
            auto* output = static_cast<obs_output_t*>(calldata_ptr(data, "output"));
            lastError = output ? obs_output_get_last_error(output) : nullptr;
        }
        destinationOf(param).onStop(code, lastError ? QString::fromUtf8(lastError) : QString());
    } catch (...) {
    }
}

void handleReconnect(void* param, calldata_t*) {
    try {
        destinationOf(param).onReconnect();
    } catch (...) {
    }
}

void handleReconnectSuccess(void* param, calldata_t*) {
    try {
        destinationOf(param).onReconnectSuccess();
    } catch (...) {
    }
}

// Once the plug-in gave up on stuck host calls at exit, the host frees whatever it still has
// itself: a release from here could come after that.
template <typename Reference> void leaveToHost(Reference& reference) {
    new Reference(std::move(reference));
}

} // namespace

HostOutputPort::~HostOutputPort() {
    if (output) {
        disconnectSignals();
        if (obs_output_active(output)) {
            obs_output_force_stop(output);
            for (int i = 0; i < kInactivePolls && obs_output_active(output); ++i)
                std::this_thread::sleep_for(kInactivePollInterval);
        }
        // Releasing an output still connecting waits for its connection attempt.
        if (backgroundHostCallsAbandoned())
            leaveToHost(output);
        output = nullptr;
    }
    unwatchOutputConnection(this);
    if (backgroundHostCallsAbandoned()) {
        leaveToHost(audioEncoder);
        leaveToHost(service);
    }
    audioEncoder = nullptr;
    service = nullptr;
}

void HostOutputPort::watchConnection(const QString& url) {
    watchOutputConnection(this, url);
}

void HostOutputPort::connectSignals(DestinationOutput& d) {
    signal_handler_t* handler = obs_output_get_signal_handler(output);
    signals_[0].Connect(handler, "start", handleStart, &d);
    signals_[1].Connect(handler, "stop", handleStop, &d);
    signals_[2].Connect(handler, "reconnect", handleReconnect, &d);
    signals_[3].Connect(handler, "reconnect_success", handleReconnectSuccess, &d);
    signalsConnected_ = true;
}

void HostOutputPort::disconnectSignals() {
    if (!signalsConnected_)
        return;
    for (OBSSignal& s : signals_)
        s.Disconnect();
    signalsConnected_ = false;
}

bool HostOutputPort::start() {
    return output && obs_output_start(output);
}

void HostOutputPort::stop() {
    if (output)
        obs_output_stop(output);
}

void HostOutputPort::forceStop() {
    if (output)
        obs_output_force_stop(output);
}

bool HostOutputPort::active() const {
    return output && obs_output_active(output);
}

uint64_t HostOutputPort::totalBytes() const {
    return output ? obs_output_get_total_bytes(output) : 0;
}

int HostOutputPort::droppedFrames() const {
    return output ? obs_output_get_frames_dropped(output) : 0;
}

int HostOutputPort::totalFrames() const {
    return output ? obs_output_get_total_frames(output) : 0;
}

QString HostOutputPort::lastError() const {
    const char* text = output ? obs_output_get_last_error(output) : nullptr;
    return text ? QString::fromUtf8(text) : QString();
}

} // namespace relaycast
