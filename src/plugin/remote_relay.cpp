#include "plugin/remote_relay.h"

#include "editor/ui_helpers.h"

#include "engine/entry/entry_controller.h"
#include "relay/entry_relay.h"

#include <QRegularExpression>

namespace relaycast {

QString remoteRelayLinkName(RelayLink link) {
    switch (link) {
    case RelayLink::Idle:
        return QStringLiteral("idle");
    case RelayLink::Connecting:
        return QStringLiteral("connecting");
    case RelayLink::Live:
        return QStringLiteral("live");
    case RelayLink::Reconnecting:
        return QStringLiteral("reconnecting");
    case RelayLink::NotReceiving:
        return QStringLiteral("notReceiving");
    case RelayLink::Unreachable:
        return QStringLiteral("unreachable");
    }
    return QStringLiteral("idle");
}

namespace {

// Masked as any address (its query), and without user and password: one typed there by mistake
// may hold a platform's key or a login. A relay the relay would take holds neither.
QString listedAddress(const QString& address) {
    static const QRegularExpression login(QStringLiteral("://[^/@]*@"));
    return maskAddress(address).replace(login, QStringLiteral("://…@"));
}

} // namespace

QJsonObject remoteRelayFields(const EntryController& controller, const EntryConfig& entry) {
    if (!entry.relevo.isSet())
        return {};
    // What the relay's row shows: without a watch, what the output alone says.
    const EntryController::RelayView seen = controller.relayView(entry.id);
    QJsonObject fields{
        {"address", listedAddress(entry.relevo.entrada)},
        {"statsUrl", listedAddress(entry.relevo.estadisticas)},
        {"allowFrom", entry.relevo.permitirDesde},
        {"configurationStale", relayConfigurationStale(entry)},
        {"link", remoteRelayLinkName(seen.link)},
    };
    // Left out rather than null: obs-websocket drops nulls on the way.
    if (const auto& pushes = seen.pushesConnected) {
        fields.insert(QStringLiteral("pushesConnected"), pushes->first);
        fields.insert(QStringLiteral("pushes"), pushes->second);
    }
    if (!seen.pageError.isEmpty())
        fields.insert(QStringLiteral("pageError"), seen.pageError);
    return fields;
}

} // namespace relaycast
