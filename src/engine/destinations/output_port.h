#pragma once

#include "engine/host/tcp_path_probe.h"

#include <QString>

#include <cstdint>

namespace relaycast {

// The host calls a destination's restart and statistics logic needs, behind a thin seam: the
// production port wraps the host output with its service and audio encoder; tests use a fake.
// Destroying a port releases its host objects in their fixed order (signals disconnected,
// output force-stopped and awaited, output, audio encoder, service).
class OutputPort {
public:
    virtual ~OutputPort() = default;

    // Asks the host to start the output; false when the host refuses at once.
    virtual bool start() = 0;
    // Graceful stop: the host's "stop" signal follows.
    virtual void stop() = 0;
    // Stops at once without waiting for buffered data.
    virtual void forceStop() = 0;
    virtual bool active() const = 0;
    virtual uint64_t totalBytes() const = 0;
    virtual int droppedFrames() const = 0;
    // Frames the output handled since it started, dropped ones included.
    virtual int totalFrames() const = 0;
    // The host's last error text for this output; empty when none.
    virtual QString lastError() const = 0;
    // The host's congestion figure for this output (0..1); negative when it keeps none.
    virtual double congestion() const { return -1; }
    // What the kernel knows of the output's connection; unknown when it cannot be seen.
    virtual PathFigures pathFigures() const { return {}; }
    // Whether every encoder the output takes packets from is running.
    virtual bool encodersRunning() const { return true; }
};

} // namespace relaycast
