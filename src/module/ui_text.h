#pragma once

#include <QString>

#include <cstdint>

namespace relaycast {

// Every user-facing text is written in Spanish at its call site; that text is a value of
// data/locale/es-ES.ini, whose key names it in every other locale file. uiText returns it
// unchanged in a Spanish interface and otherwise the key's text in the interface language,
// falling back to English for a key that language lacks. A text without a key is returned
// as written. Placeholders are filled after the lookup. Thread-safe.
QString uiText(const char* spanish);
QString uiText(const QString& spanish);

// A rate in Mbps to one decimal ("2.5"); one above nothing but below 0.1 Mbps reads "< 0.1".
QString megabitsText(int64_t kbps);

// The interface language, decided once per process: from the locale OBS hands the module, or,
// for code running without the module loader, from the host's locale.
bool isSpanishInterface();
QString interfaceLanguage();

// The language rule itself: no locale, or one starting with es, ca, gl or eu (any case).
bool isSpanishLocale(const char* locale);

// The locale file an interface for `locale` reads: es-ES under the Spanish rule, en-US for an
// empty locale, else the locale itself (a language without a file falls back to English).
QString interfaceLanguageOf(const char* locale);

// The English text of a Spanish one, or the text itself when it has no key.
QString englishTextOf(const QString& spanish);

// The locale-file key of a Spanish text, or an empty string.
QString uiTextKeyOf(const QString& spanish);

// Where locale files are read from when no module loader hands the module its texts (tests and
// tools): must be set before the first lookup. Without it, and without the module, languages
// other than Spanish read as English.
void setLocaleDirectoryWithoutModule(const QString& directory);

} // namespace relaycast
