#include "module/ui_text.h"

#include "module/locale_file.h"
#include "module/module_handle.h"

#include <obs.h>

#include <QFile>
#include <QHash>
#include <QMutex>

// Outside any namespace, as the resource system requires.
static void initLocaleResource() {
    Q_INIT_RESOURCE(relaycast_locale);
}

namespace relaycast {
namespace {

QMutex g_directoryMutex;
QString g_directoryWithoutModule;

QString directoryWithoutModule() {
    QMutexLocker lock(&g_directoryMutex);
    return g_directoryWithoutModule;
}

QVector<LocaleEntry> builtInLocale(const char* language) {
    initLocaleResource();
    QFile file(QStringLiteral(":/relaycast/locale/%1.ini").arg(QLatin1String(language)));
    return file.open(QIODevice::ReadOnly) ? parseLocaleFile(file.readAll())
                                          : QVector<LocaleEntry>();
}

// The built-in Spanish and English texts, both by the Spanish text. Function-local statics are
// initialised once, thread-safely, and only read afterwards.
struct BuiltInTexts {
    QHash<QString, QString> keyBySpanish;
    QHash<QString, QString> englishByKey;
};

const BuiltInTexts& builtInTexts() {
    static const BuiltInTexts texts = [] {
        BuiltInTexts built;
        for (const LocaleEntry& entry : builtInLocale("es-ES"))
            built.keyBySpanish.insert(entry.text, entry.key);
        for (const LocaleEntry& entry : builtInLocale("en-US"))
            built.englishByKey.insert(entry.key, entry.text);
        return built;
    }();
    return texts;
}

const char* hostLocale() {
    if (const char* locale = moduleLocale())
        return locale;
    // The host's locale getter dereferences its core unchecked: a host not started counts as
    // no locale.
    return obs_initialized() ? obs_get_locale() : nullptr;
}

// The texts of a language other than Spanish, by the Spanish text.
const QHash<QString, QString>& shownTexts() {
    static const QHash<QString, QString> shown = [] {
        const BuiltInTexts& builtIn = builtInTexts();
        const QString language = interfaceLanguage();
        const QString directory = directoryWithoutModule();
        const QHash<QString, QString> fromFiles = directory.isEmpty()
                                                      ? QHash<QString, QString>()
                                                      : readLanguageTexts(directory, language);
        QHash<QString, QString> built;
        built.reserve(builtIn.keyBySpanish.size());
        for (auto it = builtIn.keyBySpanish.constBegin(); it != builtIn.keyBySpanish.constEnd();
             ++it) {
            const QString& key = it.value();
            const char* moduleText = nullptr;
            if (getLocaleString(key.toUtf8().constData(), &moduleText) && moduleText && *moduleText)
                built.insert(it.key(), QString::fromUtf8(moduleText));
            else if (const auto found = fromFiles.constFind(key); found != fromFiles.constEnd())
                built.insert(it.key(), *found);
            else
                built.insert(it.key(), builtIn.englishByKey.value(key, it.key()));
        }
        return built;
    }();
    return shown;
}

} // namespace

void setLocaleDirectoryWithoutModule(const QString& directory) {
    QMutexLocker lock(&g_directoryMutex);
    g_directoryWithoutModule = directory;
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

QString interfaceLanguageOf(const char* locale) {
    if (isSpanishLocale(locale))
        return QStringLiteral("es-ES");
    return *locale ? QString::fromUtf8(locale) : QStringLiteral("en-US");
}

QString interfaceLanguage() {
    // Decided once: a change of the host language takes effect at the next start.
    static const QString language = interfaceLanguageOf(hostLocale());
    return language;
}

bool isSpanishInterface() {
    static const bool spanish = interfaceLanguage() == QLatin1String("es-ES");
    return spanish;
}

QString uiTextKeyOf(const QString& spanish) {
    return builtInTexts().keyBySpanish.value(spanish);
}

QString englishTextOf(const QString& spanish) {
    const BuiltInTexts& builtIn = builtInTexts();
    const auto key = builtIn.keyBySpanish.constFind(spanish);
    return key == builtIn.keyBySpanish.constEnd() ? spanish
                                                  : builtIn.englishByKey.value(*key, spanish);
}

QString uiText(const QString& spanish) {
    if (isSpanishInterface())
        return spanish;
    const QHash<QString, QString>& shown = shownTexts();
    const auto found = shown.constFind(spanish);
    return found == shown.constEnd() ? spanish : *found;
}

QString uiText(const char* spanish) {
    return uiText(QString::fromUtf8(spanish));
}

QString megabitsText(int64_t kbps) {
    // Rounding would say 0.0 (nothing) or 0.1 (more than arrives).
    if (kbps > 0 && kbps < 100)
        return QStringLiteral("< 0.1");
    return QString::number(kbps / 1000.0, 'f', 1);
}

} // namespace relaycast
