#pragma once

#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

#include <mutex>

namespace relaycast::test {

// Stands in for obs-websocket's plug-in API, which needs OBS's main window to load: the
// procedure "obs_websocket_api_get_ph" on the host's handler and, behind it, vendor
// registration, vendor requests and vendor events with obs-websocket's calling conventions
// (a vendor name registers once; the request callback gets only its data). Installed once per
// process on first use and then serves the current instance, or answers as if obs-websocket
// were not loaded while none exists.
class FakeWebSocketApi {
public:
    FakeWebSocketApi();
    ~FakeWebSocketApi();
    FakeWebSocketApi(const FakeWebSocketApi&) = delete;
    FakeWebSocketApi& operator=(const FakeWebSocketApi&) = delete;

    // What a client's CallVendorRequest reaches, on the calling thread: the vendor's response
    // data, or {"status": "No vendor was found by that name."} / "No request was found by
    // that name." as obs-websocket refuses them.
    QJsonObject call(const QString& vendor, const QString& type, const QJsonObject& data = {});
    // Vendor events emitted so far, in order: (event type, event data).
    QList<QPair<QString, QJsonObject>> events() const;
    int registeredRequestCount() const;

    struct State;

private:
    State* state_;
};

} // namespace relaycast::test
