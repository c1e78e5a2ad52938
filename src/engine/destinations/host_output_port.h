#pragma once

#include "engine/audio/shared_audio_encoder.h"
#include "engine/destinations/output_port.h"
#include "engine/host/output_connections.h"

#include <obs.hpp>

#include <QString>
#include <QStringList>

#include <array>

namespace relaycast {

class DestinationOutput;

// The production OutputPort: one destination's host output with its service and its share of
// an audio encoder, and the output's four signals connected to the destination. The destructor
// releases them in a fixed order: signals first (so no handler runs on a dying destination),
// then the output (force-stopped and awaited when still active), the shares of the encoders
// (an encoder goes with its last sharer), the service.
//
// No stop and no release while the destination's connection attempt is under way (see
// ConnectionAttempt): the port waits for the host's "start" or "stop" signal, and a moment for
// the thread to end; an attempt that never ends is ended at exit by closing its connection
// (see OutputConnection). A forced stop inside a destination's delay waits for nothing: the host
// has not begun to connect then (see ConnectionAttempt::heldBack).
class HostOutputPort final : public OutputPort {
public:
    HostOutputPort() = default;
    ~HostOutputPort() override;
    HostOutputPort(const HostOutputPort&) = delete;
    HostOutputPort& operator=(const HostOutputPort&) = delete;

    OBSServiceAutoRelease service;
    OBSOutputAutoRelease output;
    SharedAudioEncoder audioEncoder;
    SharedEncoder videoEncoder; // a rendition of its own; empty on the entry's own encoder

    // The output of `d` connects to the server of `url`: its connection is followed (its
    // figures, and closing it at exit), while this port exists.
    void followConnection(const QString& url, const DestinationOutput& d);
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
    double congestion() const override;
    PathFigures pathFigures() const override;
    bool encodersRunning() const override;

private:
    static void handleStart(void* param, calldata_t* data);
    static void handleStop(void* param, calldata_t* data);
    static void handleReconnect(void* param, calldata_t* data);
    static void handleReconnectSuccess(void* param, calldata_t* data);
    // Waits until no connection attempt is under way (see the class comment). False when the
    // plug-in gave up its host calls at exit meanwhile.
    bool awaitAttemptEnd() const;
    void disconnectSignals();

    std::array<OBSSignal, 4> signals_;
    OutputConnection connection_;
    bool hostCongestion_ = false;
    // The RTMP output's texts for a server certificate it did not accept (stop_cause.h).
    QStringList certificateTexts_;
    bool signalsConnected_ = false;
    DestinationOutput* destination_ = nullptr;
};

} // namespace relaycast
