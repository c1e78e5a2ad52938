#include "plugin/remote_control.h"

#include "engine/entry/entry_controller.h"
#include "plugin/remote_management.h"
#include "plugin/remote_requests.h"
#include "plugin/websocket_vendor.h"

#include <obs.h>

#include <exception>

namespace relaycast {

void RemoteSnapshot::set(QJsonObject entries) {
    std::lock_guard guard(lock_);
    entries_ = std::move(entries);
}

QJsonObject RemoteSnapshot::get() const {
    std::lock_guard guard(lock_);
    return entries_;
}

bool answersWithoutWaiting() {
    return obs_in_task_thread(OBS_TASK_GRAPHICS) || obs_in_task_thread(OBS_TASK_AUDIO);
}

RemoteControl::RemoteControl(WebSocketVendor& vendor, ControllerSource controller)
    : vendor_(vendor), controller_(std::move(controller)),
      gate_(std::make_shared<InterfaceThreadGate>()),
      snapshot_(std::make_shared<RemoteSnapshot>()) {
    snapshot_->set(remoteError("Unavailable", QStringLiteral("Relaycast is still starting.")));
}

RemoteControl::~RemoteControl() {
    close();
}

bool RemoteControl::open() {
    auto answer = [gate = gate_, controllers = controller_,
                   snapshot = snapshot_](const QString& type, const QJsonObject& data) {
        if (answersWithoutWaiting()) {
            if (type == QLatin1String("GetEntries"))
                return snapshot->get();
            return remoteError("Unavailable",
                               QStringLiteral("Relaycast cannot run \"%1\" in a SerialFrame "
                                              "batch; send it on its own or in a "
                                              "SerialRealtime batch.")
                                   .arg(type));
        }
        // By value: after a time-out the work may still run while this caller has gone.
        const auto work = [controllers, type, data]() -> QJsonObject {
            EntryController* controller = controllers();
            if (!controller || controller->isShutDown())
                return remoteError("Unavailable", QStringLiteral("Relaycast is not running."));
            try {
                return runRemoteRequest(*controller, type, data);
            } catch (const std::exception& e) {
                return remoteError("Internal", QString::fromUtf8(e.what()));
            } catch (...) {
                return remoteError("Internal", QStringLiteral("Unexpected error."));
            }
        };
        if (std::optional<QJsonObject> result = gate->call(work, kRequestTimeout))
            return *result;
        return remoteError("Unavailable", gate->isClosed()
                                              ? QStringLiteral("Relaycast is shutting down.")
                                              : QStringLiteral("Relaycast did not answer in "
                                                               "time; the request may still "
                                                               "take effect."));
    };
    return vendor_.open(kRemoteVendorName, remoteRequestTypes(), answer);
}

void RemoteControl::tell(const DestinationChange& change) {
    if (!gate_->isClosed())
        vendor_.emitEvent(changeEventName(change), destinationChangeEvent(change));
}

void RemoteControl::tellEntryList(const EntryListChange& change) {
    if (!gate_->isClosed())
        vendor_.emitEvent(kEntryListChangedEvent, entryListChangeEvent(change));
}

void RemoteControl::refreshSnapshot(EntryController& controller) {
    if (gate_->isClosed() || !vendor_.isOpen())
        return;
    try {
        snapshot_->set(runRemoteRequest(controller, QStringLiteral("GetEntries"), {}));
    } catch (...) {
        snapshot_->set(remoteError("Internal", QStringLiteral("Unexpected error.")));
    }
}

void RemoteControl::close() {
    // Waiting requests first: closing the vendor waits for them to leave.
    gate_->close();
    vendor_.close();
}

} // namespace relaycast
