#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace relaycast {

// A newer version and the address it can be downloaded from.
struct UpdateOffer {
    QString version;
    QString url;
};

// What a version manifest offers a module of `ownVersion`: its "version" and "url" members read
// as strings and trimmed, when the body is a JSON object, that version is newer than ownVersion
// and the address is an accepted download address on `host`. Empty otherwise.
std::optional<UpdateOffer> readUpdateOffer(const QByteArray& body, const QString& ownVersion,
                                           const QString& host);

} // namespace relaycast
