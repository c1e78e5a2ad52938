#include "module/ui_text.h"

#include <obs.h>

#include <QHash>

namespace relaycast {
namespace {

constexpr UiTextPair kTextPairs[] = {
#include "module/ui_text_table.inc"
};

const QHash<QString, QString>& englishTable() {
    // Function-local statics are initialised once, thread-safely; read-only afterwards.
    static const QHash<QString, QString> table = [] {
        QHash<QString, QString> built;
        built.reserve(static_cast<qsizetype>(std::size(kTextPairs)));
        for (const UiTextPair& pair : kTextPairs)
            built.insert(QString::fromUtf8(pair.spanish), QString::fromUtf8(pair.english));
        return built;
    }();
    return table;
}

} // namespace

std::span<const UiTextPair> uiTextPairs() {
    return kTextPairs;
}

bool isSpanishLocale(const char* locale) {
    if (!locale)
        return true;
    const QString lower = QString::fromUtf8(locale).toLower();
    for (const char* prefix : {"es", "ca", "gl", "eu"}) {
        if (lower.startsWith(QLatin1String(prefix)))
            return true;
    }
    return false;
}

bool isSpanishInterface() {
    // Decided once: a change of the host language takes effect at the next start. The host's
    // locale getter dereferences its core unchecked, so a host not started counts as no locale.
    static const bool spanish = isSpanishLocale(obs_initialized() ? obs_get_locale() : nullptr);
    return spanish;
}

QString englishTextOf(const QString& spanish) {
    const QHash<QString, QString>& table = englishTable();
    const auto found = table.constFind(spanish);
    return found == table.constEnd() ? spanish : *found;
}

QString uiText(const QString& spanish) {
    return isSpanishInterface() ? spanish : englishTextOf(spanish);
}

QString uiText(const char* spanish) {
    return uiText(QString::fromUtf8(spanish));
}

} // namespace relaycast
