#include "config/config_model.h"

#include <QUuid>

namespace relaycast {

namespace {

bool stillUnopened(const StoredSecret& secret, const QString& value, const QString& placeholder) {
    return !secret.stored.isEmpty() && !secret.opened && value == placeholder;
}

} // namespace

bool DestConfig::needsSecretsAgain() const {
    // Only what the destination still sends can hold it up: a passphrase is an SRT secret.
    const bool srt = url.trimmed().startsWith(QLatin1String("srt://"), Qt::CaseInsensitive);
    return stillUnopened(storedUrl, url, QString::fromLatin1(kUnopenedUrl)) ||
           stillUnopened(storedClave, clave, QString()) ||
           (srt && stillUnopened(storedContrasena, contrasena, QString()));
}

bool isRecordingFormat(const QString& format) {
    return format == QLatin1String("mkv") || format == QLatin1String("mp4") ||
           format == QLatin1String("flv");
}

QString newConfigId() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace relaycast
