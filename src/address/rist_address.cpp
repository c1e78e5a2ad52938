#include "address/rist_address.h"

#include "address/address.h"
#include "module/ui_text.h"

#include <QUrlQuery>

namespace relaycast {
namespace {

constexpr int kSchemeLength = 7; // "rist://"

QUrlQuery queryOf(const QString& trimmedAddress) {
    const qsizetype questionMark = trimmedAddress.indexOf(QLatin1Char('?'));
    return QUrlQuery(questionMark < 0 ? QString() : trimmedAddress.mid(questionMark + 1));
}

// librist reads the address's parameters as they are written, without decoding.
bool fitsInAQuery(const QString& secret) {
    for (const QChar c : secret) {
        if (c.isSpace() || QStringLiteral("&=?#%").contains(c))
            return false;
    }
    return true;
}

} // namespace

QString ristAddressProblem(const QString& trimmedAddress, const QString& secret) {
    const QString authority = trimmedAddress.mid(kSchemeLength)
                                  .section(QLatin1Char('?'), 0, 0)
                                  .section(QLatin1Char('/'), 0, 0);
    const QUrlQuery query = queryOf(trimmedAddress);
    const auto has = [&query](const char* name) {
        return query.hasQueryItem(QString::fromLatin1(name));
    };

    if (authority.startsWith(QLatin1Char('@')))
        return uiText("rist://@… es la forma en que escucha un receptor. Para enviar, escribe la "
                      "dirección del receptor: rist://servidor:puerto.");
    if (authority.startsWith(QLatin1Char(':')) || addressPort(trimmedAddress) == 0)
        return uiText("a la dirección RIST le falta el servidor o el puerto, por ejemplo "
                      "rist://servidor:puerto.");
    if (has("secret"))
        return uiText("el secreto va en su campo, que lo oculta y lo guarda protegido: quita "
                      "secret= de la dirección.");
    if (has("username") || has("password"))
        return uiText("OBS no puede iniciar sesión en un receptor RIST con usuario y contraseña: "
                      "quita username= y password= de la dirección.");
    if (has("buffer"))
        return uiText("OBS fija su propio búfer de recuperación y no hace caso de buffer=: "
                      "quítalo de la dirección.");
    if (has("aes-type")) {
        const QString bits = query.queryItemValue(QStringLiteral("aes-type"));
        if (bits != QLatin1String("128") && bits != QLatin1String("256"))
            return uiText("aes-type solo admite 128 o 256.");
        if (secret.isEmpty())
            return uiText("aes-type cifra con el secreto: escríbelo en su campo.");
    }
    if (!fitsInAQuery(secret))
        return uiText("el secreto RIST no puede llevar espacios ni los signos & = ? # %.");
    return {};
}

QString hostRistAddress(const QString& trimmedAddress, const QString& secret) {
    QString address = QStringLiteral("rist://") + trimmedAddress.mid(kSchemeLength);
    if (secret.isEmpty())
        return address;
    address += address.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?');
    address += QStringLiteral("secret=") + secret;
    if (!queryOf(trimmedAddress).hasQueryItem(QStringLiteral("aes-type")))
        address += QStringLiteral("&aes-type=128");
    return address;
}

} // namespace relaycast
