#include "engine/host_output_port.h"

#include "engine/destination_output.h"

#include <chrono>
#include <cstring>
#include <thread>

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

} // namespace

// Runs on the output's thread as it comes up: the connection is open and may be looked for.
void HostOutputPort::findConnection(void* param, calldata_t*) {
    try {
        auto* port = static_cast<HostOutputPort*>(param);
        port->probe_.find(port->server_);
    } catch (...) {
    }
}

HostOutputPort::~HostOutputPort() {
    if (output) {
        disconnectSignals();
        if (obs_output_active(output)) {
            obs_output_force_stop(output);
            for (int i = 0; i < kInactivePolls && obs_output_active(output); ++i)
                std::this_thread::sleep_for(kInactivePollInterval);
        }
        output = nullptr;
    }
    audioEncoder = nullptr;
    service = nullptr;
}

void HostOutputPort::connectSignals(DestinationOutput& d, const QString& server) {
    signal_handler_t* handler = obs_output_get_signal_handler(output);
    // Only the RTMP output keeps a send queue whose fullness it reports.
    const char* type = obs_output_get_id(output);
    hostCongestion_ = type && std::strcmp(type, "rtmp_output") == 0;
    server_ = server;
    signals_[0].Connect(handler, "start", handleStart, &d);
    signals_[1].Connect(handler, "stop", handleStop, &d);
    signals_[2].Connect(handler, "reconnect", handleReconnect, &d);
    signals_[3].Connect(handler, "reconnect_success", handleReconnectSuccess, &d);
    // After the destination's own handler: it is Live before any name is resolved here.
    if (!serverEndpoint(server).host.isEmpty())
        signals_[4].Connect(handler, "start", findConnection, this);
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

double HostOutputPort::congestion() const {
    return output && hostCongestion_ ? obs_output_get_congestion(output) : -1.0;
}

PathFigures HostOutputPort::pathFigures() const {
    return probe_.figures();
}

QString HostOutputPort::lastError() const {
    const char* text = output ? obs_output_get_last_error(output) : nullptr;
    return text ? QString::fromUtf8(text) : QString();
}

} // namespace relaycast
