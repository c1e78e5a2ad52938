#pragma once

#include <QString>

#include <span>

namespace relaycast {

// Every user-facing text is written in Spanish; uiText returns it unchanged in a Spanish
// interface and its English twin otherwise. Placeholders are filled after the lookup.
// Thread-safe.
QString uiText(const char* spanish);
QString uiText(const QString& spanish);

// The interface language, decided once per process from the host locale.
bool isSpanishInterface();

// The language rule itself: no locale, or one starting with es, ca, gl or eu (any case).
bool isSpanishLocale(const char* locale);

// The English twin of a key, or the key itself when the table has no pair for it.
QString englishTextOf(const QString& spanish);

// One pair of the fixed table, as UTF-8 texts.
struct UiTextPair {
    const char* spanish;
    const char* english;
};

// The whole table in its stored order.
std::span<const UiTextPair> uiTextPairs();

} // namespace relaycast
