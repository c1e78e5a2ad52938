#pragma once

#include "engine/output_port.h"
#include "engine/shared_audio_encoder.h"
#include "engine/tcp_path_probe.h"

#include <obs.hpp>

#include <QString>

#include <array>
#include <atomic>
#include <cstdint>

namespace relaycast {

class DestinationOutput;

// The production OutputPort: one destination's host output with its service and its share of
// an audio encoder, and the output's four signals connected to the destination. The destructor
// releases them in a fixed order: signals first (so no handler runs on a dying destination),
// then the output (force-stopped and awaited when still active), the share of the audio
// encoder (the encoder goes with its last sharer), the service.
//
// No stop and no release while a connection attempt is under way: the host's RTMP output joins
// its connecting thread there, and that thread detaches itself when its attempt ends unless a
// stop came first, which crashes the joining thread (seen with glibc 2.36 on OBS 29 and 30).
// The port waits for the host's "start" or "stop" signal, and a moment for the thread to end;
// an attempt that never ends is ended by closing its connection (see output_connections.h).
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
    bool encodersRunning() const override;

private:
    static void handleStart(void* param, calldata_t* data);
    static void handleStop(void* param, calldata_t* data);
    static void handleReconnect(void* param, calldata_t* data);
    static void handleReconnectSuccess(void* param, calldata_t* data);
    void noteAttemptEnded();
    // Waits until no connection attempt is under way (see the class comment). False when the
    // plug-in gave up its host calls at exit meanwhile.
    bool awaitAttemptEnd() const;
    void disconnectSignals();
    static void findConnection(void* param, calldata_t*);

    std::array<OBSSignal, 5> signals_;
    QString server_;
    TcpPathProbe probe_;
    bool hostCongestion_ = false;
    bool probing_ = false; // a start also looks for its connection
    bool signalsConnected_ = false;
    DestinationOutput* destination_ = nullptr;
    // From an accepted start until the host said how the connection attempt ended.
    std::atomic<bool> attempting_{false};
    std::atomic<int64_t> attemptEndedNs_{0};
};

} // namespace relaycast
