#include "address/address.h"

#include "address/rist_address.h"
#include "module/ui_text.h"

#include <QRegularExpression>

namespace relaycast {

AddressKind classifyAddress(const QString& address) {
    const QString lower = address.trimmed().toLower();
    if (lower.startsWith(QLatin1String("rtmp://")) || lower.startsWith(QLatin1String("rtmps://")))
        return AddressKind::RTMP;
    if (lower.startsWith(QLatin1String("srt://")))
        return AddressKind::SRT;
    if (lower.startsWith(QLatin1String("rist://")))
        return AddressKind::RIST;
    return AddressKind::Invalid;
}

int addressPort(const QString& trimmedAddress) {
    const qsizetype scheme = trimmedAddress.indexOf(QLatin1String("://"));
    const QString authority = trimmedAddress.mid(scheme < 0 ? 0 : scheme + 3)
                                  .section(QLatin1Char('?'), 0, 0)
                                  .section(QLatin1Char('/'), 0, 0);
    const qsizetype bracket = authority.lastIndexOf(QLatin1Char(']'));
    const qsizetype colon = authority.lastIndexOf(QLatin1Char(':'));
    if (colon < 0 || colon < bracket)
        return 0;
    bool ok = false;
    const int port = authority.mid(colon + 1).toInt(&ok);
    return ok && port > 0 && port <= 65535 ? port : 0;
}

QString srtAddressProblem(const QString& trimmedAddress) {
    if (addressPort(trimmedAddress) == 0)
        return uiText("a la dirección SRT le falta el puerto, por ejemplo srt://servidor:9000.");
    return {};
}

QString rtmpsAddressNote(const QString& trimmedAddress) {
    if (!trimmedAddress.startsWith(QLatin1String("rtmps://"), Qt::CaseInsensitive))
        return {};
    QString host = trimmedAddress.mid(8)
                       .section(QLatin1Char('?'), 0, 0)
                       .section(QLatin1Char('/'), 0, 0)
                       .section(QLatin1Char('@'), -1);
    if (host.startsWith(QLatin1Char('[')))
        host = host.mid(1).section(QLatin1Char(']'), 0, 0);
    else if (host.count(QLatin1Char(':')) == 1)
        host = host.section(QLatin1Char(':'), 0, 0);
    // An IPv6 address has colons, a name never does; QHostAddress would also take "1" or "1.2".
    static const QRegularExpression v4(QStringLiteral(R"(^\d{1,3}(\.\d{1,3}){3}$)"));
    if (!host.contains(QLatin1Char(':')) && !v4.match(host).hasMatch())
        return {};
    return uiText("Con rtmps:// OBS comprueba que el certificado del servidor sea para el nombre "
                  "de la dirección, y los certificados llevan nombres, no números: escribe el "
                  "nombre del servidor (por ejemplo rtmps://servidor.ejemplo/live) en lugar de "
                  "su dirección IP.");
}

QString addressKindName(AddressKind kind) {
    switch (kind) {
    case AddressKind::RTMP:
        return QStringLiteral("RTMP");
    case AddressKind::SRT:
        return QStringLiteral("SRT");
    case AddressKind::RIST:
        return QStringLiteral("RIST");
    case AddressKind::Invalid:
        break;
    }
    return QStringLiteral("?");
}

QString validateDestinationAddress(const QString& trimmedAddress, int rowNumber,
                                   const QString& key) {
    const QString prefix = uiText("Destino %1: ").arg(rowNumber);
    switch (classifyAddress(trimmedAddress)) {
    case AddressKind::Invalid: {
        const QString lower = trimmedAddress.toLower();
        if (lower.startsWith(QLatin1String("http://")) ||
            lower.startsWith(QLatin1String("https://")))
            return prefix + uiText("WebRTC llegará en una próxima versión. Por ahora se admiten "
                                   "RTMP (rtmp:// o rtmps://), SRT (srt://) y RIST (rist://).");
        return prefix +
               uiText("la dirección debe empezar por rtmp://, rtmps://, srt:// o rist://.");
    }
    case AddressKind::RTMP: {
        // The server needs an application path; a bare trailing "/" is accepted.
        const qsizetype scheme = trimmedAddress.indexOf(QLatin1String("://"));
        if (trimmedAddress.indexOf(QLatin1Char('/'), scheme + 3) < 0)
            return prefix + uiText("a la dirección RTMP le falta la parte final, por ejemplo "
                                   "rtmp://servidor/live.");
        return {};
    }
    case AddressKind::SRT: {
        const QString problem = srtAddressProblem(trimmedAddress);
        return problem.isEmpty() ? problem : prefix + problem;
    }
    case AddressKind::RIST: {
        const QString problem = ristAddressProblem(trimmedAddress, key);
        return problem.isEmpty() ? problem : prefix + problem;
    }
    }
    return {};
}

QString maskAddressQueries(const QString& text) {
    static const QRegularExpression query = [] {
        QRegularExpression compiled(
            QString::fromUtf8(R"(((?:rtmps?|srt|rist)://[^\s?»"']*)\?[^\s»"']*)"),
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
    case AddressKind::RIST:
        // RIST sends without a connection that the host could see refused.
        return {uiText("Tipo detectado: RIST. OBS no recibe respuesta del receptor: el destino "
                       "sale en directo aunque el receptor no escuche o su secreto sea otro."),
                uiText("Secreto RIST (opcional; AES-128, o 256 con ?aes-type=256)"), false};
    case AddressKind::Invalid:
        break;
    }
    return {uiText("Escribe una dirección que empiece por rtmp://, rtmps://, srt:// o rist://"),
            uiText("Clave"), false};
}

QString addressFieldPlaceholder() {
    return uiText("rtmp://servidor/aplicacion   o   srt://servidor:puerto");
}

QString passphrasePlaceholder() {
    return uiText("Contraseña SRT (opcional)");
}

} // namespace relaycast
