#pragma once

#include "engine/output_port.h"
#include "engine/shared_audio_encoder.h"
#include "engine/tcp_path_probe.h"

#include <obs.hpp>

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

    // Connects "start", "stop", "reconnect" and "reconnect_success" of the output to `d`. With
    // an RTMP(S) `server`, every start also looks for the connection it opened (see
    // TcpPathProbe).
    void connectSignals(DestinationOutput& d, const QString& server = {});
    bool signalsConnected() const { return signalsConnected_; }

    bool start() override;
    void stop() override;
    void forceStop() override;
    bool active() const override;
    uint64_t totalBytes() const override;
    int droppedFrames() const override;
    int totalFrames() const override;
    QString lastError() const override;
    double congestion() const override;
    PathFigures pathFigures() const override;

private:
    void disconnectSignals();
    static void findConnection(void* param, calldata_t*);

    std::array<OBSSignal, 5> signals_;
    QString server_;
    TcpPathProbe probe_;
    bool hostCongestion_ = false;
    bool signalsConnected_ = false;
};

} // namespace relaycast
