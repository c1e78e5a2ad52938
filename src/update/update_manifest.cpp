#include "update/update_manifest.h"

#include "update/version_rules.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace relaycast {

std::optional<UpdateOffer> readUpdateOffer(const QByteArray& body, const QString& ownVersion,
                                           const QString& host) {
    if (body.isEmpty())
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject manifest = document.object();
    UpdateOffer offer{manifest.value(QStringLiteral("version")).toString().trimmed(),
                      manifest.value(QStringLiteral("url")).toString().trimmed()};
    if (!isNewerVersion(offer.version, ownVersion))
        return std::nullopt;
    if (!isAcceptedDownloadUrl(offer.url, host))
        return std::nullopt;
    return offer;
}

} // namespace relaycast
