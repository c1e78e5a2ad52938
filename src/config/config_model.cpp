#include "config/config_model.h"

#include <QUuid>

namespace relaycast {

namespace {

bool stillUnopened(const StoredSecret& secret, const QString& value, const QString& placeholder) {
    return !secret.stored.isEmpty() && !secret.opened && value == placeholder;
}

} // namespace

bool DestConfig::needsSecretsAgain() const {
    return stillUnopened(storedUrl, url, QString::fromLatin1(kUnopenedUrl)) ||
           stillUnopened(storedClave, clave, QString()) ||
           stillUnopened(storedContrasena, contrasena, QString());
}

QString newConfigId() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace relaycast
