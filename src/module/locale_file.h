#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>

namespace relaycast {

// One line of a locale file: Key="text".
struct LocaleEntry {
    QString key;
    QString text;
};

// Reads a locale file the way OBS's text lookup reads it: one Key="text" per line, blank lines
// and lines starting with # skipped, the text between the first quote and the next unescaped
// one (so = and # may appear inside it), and \n, \t, \r and \" turned into what they stand for.
// A line without a key, an = or a non-empty quoted text is skipped. Entries keep file order.
QVector<LocaleEntry> parseLocaleFile(const QByteArray& contents);

// The entries of the file at `path` by key; empty when it cannot be read.
QHash<QString, QString> readLocaleFile(const QString& path);

// The texts an interface in `language` shows, by key, as OBS reads a module's locale files from
// `directory`: en-US.ini with the language's own file laid over it, so English fills in only
// what the language lacks.
QHash<QString, QString> readLanguageTexts(const QString& directory, const QString& language);

} // namespace relaycast
