#pragma once

#include "engine/output_port.h"
#include "engine/shared_audio_encoder.h"

#include <obs.hpp>

#include <QString>

#include <array>

namespace relaycast {

class DestinationOutput;

// The production OutputPort: one destination's host output with its service and its share of
// an audio encoder, and the output's four signals connected to the destination. The destructor
// releases them in a fixed order: signals first (so no handler runs on a dying destination),
// then the output (force-stopped and awaited when still active), the share of the audio
// encoder (the encoder goes with its last sharer), the service.
class HostOutputPort final : public OutputPort {
public:
    HostOutputPort() = default;
    ~HostOutputPort() override;
    HostOutputPort(const HostOutputPort&) = delete;
    HostOutputPort& operator=(const HostOutputPort&) = delete;

    OBSServiceAutoRelease service;
    OBSOutputAutoRelease output;
    SharedAudioEncoder audioEncoder;

    // Lets the connections to the server of `url` be closed under the output at exit, while
    // this port exists (see abortWatchedOutputConnections).
    void watchConnection(const QString& url);
    // Connects "start", "stop", "reconnect" and "reconnect_success" of the output to `d`.
    void connectSignals(DestinationOutput& d);
    bool signalsConnected() const { return signalsConnected_; }

    bool start() override;
    void stop() override;
    void forceStop() override;
    bool active() const override;
    uint64_t totalBytes() const override;
    int droppedFrames() const override;
    int totalFrames() const override;
    QString lastError() const override;

private:
    void disconnectSignals();

    std::array<OBSSignal, 4> signals_;
    bool signalsConnected_ = false;
};

} // namespace relaycast
