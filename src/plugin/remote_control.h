#pragma once

#include "plugin/interface_thread_gate.h"

#include <QJsonObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

namespace relaycast {

class EntryController;
class WebSocketVendor;
struct DestinationChange;
struct EntryListChange;

// The last GetEntries answer, readable from any thread.
class RemoteSnapshot {
public:
    void set(QJsonObject entries);
    QJsonObject get() const;

private:
    mutable std::mutex lock_;
    QJsonObject entries_;
};

// obs-websocket runs the requests of a "SerialFrame" batch on the host's graphics thread. That
// thread must never wait for the interface thread: every output would skip frames meanwhile,
// and while the interface thread itself waits for the graphics thread (a collection switch,
// exit) neither would go on. True on such a thread (graphics or audio).
bool answersWithoutWaiting();

// Remote control through obs-websocket: the vendor "relaycast" with its requests, each run on
// the interface thread while obs-websocket's thread waits for the answer, and the event
// "DestinationStateChanged" for every change of a destination's state.
class RemoteControl {
public:
    using ControllerSource = std::function<EntryController*()>;
    // A request that waits longer (the interface thread stuck) is answered with an error.
    static constexpr std::chrono::seconds kRequestTimeout{30};

    // Interface thread. `vendor` must outlive every request it receives (see WebSocketVendor);
    // requests run on the controller `controller` returns when they run.
    RemoteControl(WebSocketVendor& vendor, ControllerSource controller);
    // Closes first.
    ~RemoteControl();
    RemoteControl(const RemoteControl&) = delete;
    RemoteControl& operator=(const RemoteControl&) = delete;

    // Registers the vendor and its requests; false when obs-websocket is not there.
    bool open();
    // A controller's change of state, told to the clients that subscribed to vendor events.
    void tell(const DestinationChange& change);
    // An input created, changed or removed, told as "EntryListChanged".
    void tellEntryList(const EntryListChange& change);
    // Interface thread, every heartbeat: what GetEntries answers where the interface thread may
    // not be waited for (see answersWithoutWaiting).
    void refreshSnapshot(EntryController& controller);
    // Interface thread, before obs-websocket unloads: requests still waiting are answered at
    // once with an error, then the requests are unregistered. Runs once.
    void close();

private:
    WebSocketVendor& vendor_;
    ControllerSource controller_;
    // Shared with the request handler, which may outlive this object by a request.
    std::shared_ptr<InterfaceThreadGate> gate_;
    std::shared_ptr<RemoteSnapshot> snapshot_;
};

} // namespace relaycast
