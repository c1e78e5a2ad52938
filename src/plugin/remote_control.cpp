#include "plugin/remote_control.h"

#include "engine/entry_controller.h"
#include "plugin/remote_requests.h"
#include "plugin/websocket_vendor.h"

#include <exception>

namespace relaycast {

RemoteControl::RemoteControl(WebSocketVendor& vendor, ControllerSource controller)
    : vendor_(vendor), controller_(std::move(controller)),
      gate_(std::make_shared<InterfaceThreadGate>()) {}

RemoteControl::~RemoteControl() {
    close();
}

bool RemoteControl::open() {
    auto answer = [gate = gate_, controllers = controller_](const QString& type,
                                                            const QJsonObject& data) {
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
        vendor_.emitEvent(kDestinationStateChangedEvent, destinationChangeEvent(change));
}

void RemoteControl::close() {
    // Waiting requests first: closing the vendor waits for them to leave.
    gate_->close();
    vendor_.close();
}

} // namespace relaycast
