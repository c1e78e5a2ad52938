#include "relay/entry_relay.h"

#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <utility>

namespace relaycast {
namespace {
const QLatin1String kRelayOutputPrefix("relevo:");
}

bool sendsThroughRelay(const EntryConfig& entry, const DestConfig& destination) {
    return entry.relevo.isSet() && destination.porRelevo;
}

bool usesRelay(const EntryConfig& entry) {
    for (const DestConfig& destination : entry.destinos)
        if (sendsThroughRelay(entry, destination))
            return true;
    return false;
}

RelaySettings relaySettingsOf(const RelayConfig& relay) {
    return {relay.entrada, relay.estadisticas, relay.secreto, relay.permitirDesde,
            relay.puertoLocal};
}

QList<RelayedDestination> relayedDestinationsOf(const EntryConfig& entry) {
    QList<RelayedDestination> relayed;
    for (const DestConfig& destination : entry.destinos)
        if (sendsThroughRelay(entry, destination))
            relayed.append({destination.id, destination.url, destination.clave});
    return relayed;
}

RelayConfiguration relayConfigurationOf(const EntryConfig& entry) {
    return relayConfiguration(relaySettingsOf(entry.relevo), relayedDestinationsOf(entry));
}

QString relayOutputIdOf(const QString& entryId) {
    return kRelayOutputPrefix + entryId;
}

bool isRelayOutputId(const QString& outputId) {
    return outputId.startsWith(kRelayOutputPrefix);
}

DestConfig relayOutputOf(const EntryConfig& entry) {
    DestConfig output;
    output.id = relayOutputIdOf(entry.id);
    output.url = relayPublishUrl(relaySettingsOf(entry.relevo));
    output.clave = entry.relevo.secreto;
    return output;
}

EntryConfig routedEntry(const EntryConfig& entry) {
    EntryConfig routed = entry;
    routed.destinos.clear();
    bool relayPlaced = false;
    for (const DestConfig& destination : entry.destinos) {
        if (!sendsThroughRelay(entry, destination))
            routed.destinos.append(destination);
        else if (!std::exchange(relayPlaced, true))
            routed.destinos.append(relayOutputOf(entry));
    }
    return routed;
}

QString routedDestinationId(const EntryConfig& entry, const QString& destinationId) {
    for (const DestConfig& destination : entry.destinos)
        if (destination.id == destinationId && sendsThroughRelay(entry, destination))
            return relayOutputIdOf(entry.id);
    return destinationId;
}

QString relayConfigurationDigest(const EntryConfig& entry) {
    const RelayConfiguration configuration = relayConfigurationOf(entry);
    if (!configuration.error.isEmpty() || entry.relevo.secreto.isEmpty())
        return {};
    QMessageAuthenticationCode code(QCryptographicHash::Sha256, entry.relevo.secreto.toUtf8());
    code.addData(configuration.nginx.toUtf8());
    code.addData(QByteArrayLiteral("\n--\n"));
    code.addData(configuration.stunnel.toUtf8());
    return QString::fromLatin1(code.result().toHex().left(32));
}

bool relayConfigurationStale(const EntryConfig& entry) {
    return usesRelay(entry) && relayConfigurationDigest(entry) != entry.relevo.escrita;
}

QString newRelaySecret() {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    QString secret;
    for (int i = 0; i < 24; ++i)
        secret += QLatin1Char(kAlphabet[QRandomGenerator::system()->bounded(64)]);
    return secret;
}

} // namespace relaycast
