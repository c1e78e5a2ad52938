#pragma once

#include <QJsonObject>
#include <QObject>
#include <QThread>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace relaycast {

// Lets threads that are not the interface thread have work done on it and wait for the result,
// until the gate is closed. Closing answers every waiting caller at once, so a host that shuts
// down while a caller waits (and then waits for that caller's thread) cannot deadlock.
class InterfaceThreadGate {
public:
    // On the interface thread.
    InterfaceThreadGate();
    // Closes the gate first. On the interface thread.
    ~InterfaceThreadGate();
    InterfaceThreadGate(const InterfaceThreadGate&) = delete;
    InterfaceThreadGate& operator=(const InterfaceThreadGate&) = delete;

    // Runs `work` on the interface thread (at once when called there) and returns its result.
    // Empty when the gate is or gets closed, or `timeout` passes first; work that has not
    // started by then never runs.
    std::optional<QJsonObject> call(std::function<QJsonObject()> work,
                                    std::chrono::milliseconds timeout);
    // Interface thread: callers waiting now return empty, later calls are refused.
    void close();
    bool isClosed() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    QThread* interfaceThread_;
    std::unique_ptr<QObject> context_;
};

} // namespace relaycast
