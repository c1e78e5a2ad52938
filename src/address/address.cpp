#include "address/address.h"

#include "module/ui_text.h"

#include <QRegularExpression>

namespace relaycast {

AddressKind classifyAddress(const QString& address) {
    const QString lower = address.trimmed().toLower();
    if (lower.startsWith(QLatin1String("rtmp://")) || lower.startsWith(QLatin1String("rtmps://")))
        return AddressKind::RTMP;
    if (lower.startsWith(QLatin1String("srt://")))
        return AddressKind::SRT;
    return AddressKind::Invalid;
}

QString addressKindName(AddressKind kind) {
    switch (kind) {
    case AddressKind::RTMP:
        return QStringLiteral("RTMP");
    case AddressKind::SRT:
        return QStringLiteral("SRT");
    case AddressKind::Invalid:
        break;
    }
    return QStringLiteral("?");
}

QString validateDestinationAddress(const QString& trimmedAddress, int rowNumber) {
    const QString prefix = uiText("Destino %1: ").arg(rowNumber);
    switch (classifyAddress(trimmedAddress)) {
    case AddressKind::Invalid: {
        const QString lower = trimmedAddress.toLower();
        if (lower.startsWith(QLatin1String("http://")) ||
            lower.startsWith(QLatin1String("https://")))
            return prefix + uiText("WebRTC llegará en una próxima versión. Por ahora se admiten "
                                   "RTMP (rtmp:// o rtmps://) y SRT (srt://).");
        return prefix + uiText("la dirección debe empezar por rtmp://, rtmps:// o srt://.");
    }
    case AddressKind::RTMP: {
        // The server needs an application path; a bare trailing "/" is accepted.
        const qsizetype scheme = trimmedAddress.indexOf(QLatin1String("://"));
        if (trimmedAddress.indexOf(QLatin1Char('/'), scheme + 3) < 0)
            return prefix + uiText("a la dirección RTMP le falta la parte final, por ejemplo "
                                   "rtmp://servidor/live.");
        return {};
    }
    case AddressKind::SRT:
        return {};
    }
    return {};
}

QString maskAddressQueries(const QString& text) {
    static const QRegularExpression query = [] {
        QRegularExpression compiled(
            QString::fromUtf8(R"(((?:rtmps?|srt)://[^\s?»"']*)\?[^\s»"']*)"),
            QRegularExpression::CaseInsensitiveOption);
        compiled.optimize();
        return compiled;
    }();
    QString masked = text;
    masked.replace(query, QString::fromUtf8("\\1?…"));
    return masked;
}

AddressPresentation addressPresentation(AddressKind kind) {
    switch (kind) {
    case AddressKind::RTMP:
        return {uiText("Tipo detectado: RTMP"), uiText("Clave de emisión"), false};
    case AddressKind::SRT:
        return {uiText("Tipo detectado: SRT"), uiText("Stream ID (opcional)"), true};
    case AddressKind::Invalid:
        break;
    }
    return {uiText("Escribe una dirección que empiece por rtmp://, rtmps:// o srt://"),
            uiText("Clave"), false};
}

QString addressFieldPlaceholder() {
    return uiText("rtmp://servidor/aplicacion   o   srt://servidor:puerto");
}

QString passphrasePlaceholder() {
    return uiText("Contraseña SRT (opcional)");
}

} // namespace relaycast
