#pragma once

#include "engine/destinations/output_port.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace relaycast::test {

// What a FakeOutputPort does and what was asked of it. Shared between the test and the port,
// so the test can still script and inspect it after the engine destroyed the port.
struct FakeOutputScript {
    // Behaviour.
    std::atomic<bool> acceptStart{true};
    std::atomic<bool> activeAfterStart{true}; // an accepted start makes the output active
    std::atomic<bool> stopDeactivates{true};  // stop and forceStop make it inactive
    // Run after stop and forceStop, e.g. to deliver the host's "stop" signal. Set it before the
    // port is used.
    std::function<void()> afterStop;

    // What the host reports.
    std::atomic<bool> active{false};
    std::atomic<uint64_t> totalBytes{0};
    std::atomic<int> droppedFrames{0};
    std::atomic<int> totalFrames{0};
    std::atomic<bool> encodersRunning{true};
    void setLastError(const QString& text);
    QString lastError() const;

    // What was asked.
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::atomic<int> forceStops{0};
    std::atomic<bool> destroyed{false};

    // Every call that would change the host output.
    int hostCalls() const { return starts + stops + forceStops; }

private:
    mutable std::mutex lock_;
    QString lastError_;
};

// A scriptable stand-in for the host output behind the engine's seam.
class FakeOutputPort final : public OutputPort {
public:
    explicit FakeOutputPort(std::shared_ptr<FakeOutputScript> script);
    ~FakeOutputPort() override;

    bool start() override;
    void stop() override;
    void forceStop() override;
    bool active() const override;
    uint64_t totalBytes() const override;
    int droppedFrames() const override;
    int totalFrames() const override;
    bool encodersRunning() const override;
    QString lastError() const override;

private:
    std::shared_ptr<FakeOutputScript> script_;
};

// A fresh script and a port that follows it.
struct FakeOutput {
    std::shared_ptr<FakeOutputScript> script = std::make_shared<FakeOutputScript>();
    std::unique_ptr<OutputPort> makePort() const {
        return std::make_unique<FakeOutputPort>(script);
    }
};

} // namespace relaycast::test
