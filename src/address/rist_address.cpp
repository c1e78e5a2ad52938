#include "address/rist_address.h"

#include "address/address.h"
#include "module/ui_text.h"

#include <QList>
#include <QStringList>

#include <algorithm>
#include <utility>

namespace relaycast {
namespace {

constexpr int kSchemeLength = 7; // "rist://"

struct QueryItem {
    QString name;
    QString value;
};

// The text before the query, and the query without its "?".
std::pair<QString, QString> splitAtQuery(const QString& address) {
    const qsizetype questionMark = address.indexOf(QLatin1Char('?'));
    if (questionMark < 0)
        return {address, QString()};
    return {address.left(questionMark), address.mid(questionMark + 1)};
}

// The parameters as librist reads them: split at "&", then at the first "=", nothing decoded.
QList<QueryItem> queryItemsOf(const QString& trimmedAddress) {
    QList<QueryItem> items;
    const QStringList parts =
        splitAtQuery(trimmedAddress).second.split(QLatin1Char('&'), Qt::SkipEmptyParts);
    for (const QString& part : parts)
        items.append({part.section(QLatin1Char('='), 0, 0), part.section(QLatin1Char('='), 1)});
    return items;
}

const QueryItem* itemNamed(const QList<QueryItem>& items, const char* name) {
    const auto found = std::find_if(items.begin(), items.end(), [name](const QueryItem& item) {
        return item.name == QLatin1String(name);
    });
    return found == items.end() ? nullptr : &*found;
}

// The parameters of librist's sender that OBS passes on and does not override, as every librist
// of the lines we ship (0.2.7 to 0.2.20) reads them. A name librist does not know fails its
// parse of the address, and OBS then logs "Failed to parse url" with the whole address, secret
// included: that is why any other name is refused. librist takes the last of repeated ones and
// reads no more than 32 parameters: the secret, which comes last, is then dropped and the
// stream goes out in the clear. Seventeen names, each at most once, with the secret and
// aes-type added, stay well within that.
bool isSenderParameter(const QString& name) {
    static const QStringList known =
        QStringLiteral("bandwidth return-bandwidth reorder-buffer cname rtt-min rtt-max "
                       "timing-mode aes-type virt-dst-port session-timeout keepalive-interval "
                       "key-rotation congestion-control min-retries max-retries weight miface")
            .split(QLatin1Char(' '));
    return known.contains(name);
}

// librist reads the address's parameters as they are written, without decoding.
bool fitsInAQuery(const QString& secret) {
    for (const QChar c : secret) {
        if (c.isSpace() || QStringLiteral("&=?#%").contains(c))
            return false;
    }
    return true;
}

// What follows the receiver's host and port before the query. librist takes the part after the
// last "/" for the host, so "rist://host:port/" would send to no one.
QString pathOf(const QString& trimmedAddress) {
    const QString beforeQuery = splitAtQuery(trimmedAddress).first.mid(kSchemeLength);
    const qsizetype slash = beforeQuery.indexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : beforeQuery.mid(slash);
}

bool onlySlashes(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c == QLatin1Char('/'); });
}

} // namespace

QString ristAddressProblem(const QString& trimmedAddress, const QString& secret) {
    const QString authority = trimmedAddress.mid(kSchemeLength)
                                  .section(QLatin1Char('?'), 0, 0)
                                  .section(QLatin1Char('/'), 0, 0);
    const QList<QueryItem> items = queryItemsOf(trimmedAddress);
    const auto has = [&items](const char* name) { return itemNamed(items, name) != nullptr; };

    if (authority.startsWith(QLatin1Char('@')))
        return uiText("rist://@… es la forma en que escucha un receptor. Para enviar, escribe la "
                      "dirección del receptor: rist://servidor:puerto.");
    if (authority.startsWith(QLatin1Char(':')) || addressPort(trimmedAddress) == 0)
        return uiText("a la dirección RIST le falta el servidor o el puerto, por ejemplo "
                      "rist://servidor:puerto.");
    if (!onlySlashes(pathOf(trimmedAddress)))
        return uiText("la dirección RIST termina en el puerto: quita lo que va tras la «/».");
    if (has("secret"))
        return uiText("el secreto va en su campo, que lo oculta y lo guarda protegido: quita "
                      "secret= de la dirección.");
    if (has("username") || has("password"))
        return uiText("OBS no puede iniciar sesión en un receptor RIST con usuario y contraseña: "
                      "quita username= y password= de la dirección.");
    if (has("buffer"))
        return uiText("OBS fija su propio búfer de recuperación y no hace caso de buffer=: "
                      "quítalo de la dirección.");
    QStringList seen;
    for (const QueryItem& item : items) {
        if (!isSenderParameter(item.name))
            return uiText("%1= no es un parámetro RIST que OBS use: revisa cómo se escribe o "
                          "quítalo de la dirección.")
                .arg(item.name);
        if (seen.contains(item.name))
            return uiText("%1= aparece más de una vez en la dirección: déjalo una sola vez.")
                .arg(item.name);
        seen << item.name;
    }
    if (const QueryItem* aes = itemNamed(items, "aes-type")) {
        if (aes->value != QLatin1String("128") && aes->value != QLatin1String("256"))
            return uiText("aes-type solo admite 128 o 256.");
        if (secret.isEmpty())
            return uiText("aes-type cifra con el secreto: escríbelo en su campo.");
    }
    if (!fitsInAQuery(secret))
        return uiText("el secreto RIST no puede llevar espacios ni los signos & = ? # %.");
    return {};
}

QString hostRistAddress(const QString& trimmedAddress, const QString& secret) {
    auto [address, query] =
        splitAtQuery(QStringLiteral("rist://") + trimmedAddress.mid(kSchemeLength));
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    if (!query.isEmpty())
        address += QLatin1Char('?') + query;
    if (secret.isEmpty())
        return address;
    address += query.isEmpty() ? QLatin1Char('?') : QLatin1Char('&');
    address += QStringLiteral("secret=") + secret;
    if (!itemNamed(queryItemsOf(trimmedAddress), "aes-type"))
        address += QStringLiteral("&aes-type=128");
    return address;
}

} // namespace relaycast
