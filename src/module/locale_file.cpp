#include "module/locale_file.h"

#include <QFile>
#include <QList>

namespace relaycast {
namespace {

// OBS replaces the escapes one kind after the other, in this order; doing the same keeps the
// rare overlapping case (a backslash before an escape) reading as it does there.
QString unescaped(QByteArray raw) {
    raw.replace("\\n", "\n");
    raw.replace("\\t", "\t");
    raw.replace("\\r", "\r");
    raw.replace("\\\"", "\"");
    return QString::fromUtf8(raw);
}

} // namespace

QVector<LocaleEntry> parseLocaleFile(const QByteArray& contents) {
    QVector<LocaleEntry> entries;
    const QList<QByteArray> lines = contents.split('\n');
    for (const QByteArray& rawLine : lines) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray rest = line.mid(equals + 1).trimmed();
        if (key.isEmpty() || !rest.startsWith('"'))
            continue;
        qsizetype end = 1;
        for (bool escaped = false; end < rest.size(); ++end) {
            if (escaped)
                escaped = false;
            else if (rest.constData()[end] == '\\')
                escaped = true;
            else if (rest.constData()[end] == '"')
                break;
        }
        const QByteArray text = rest.mid(1, end - 1);
        if (text.isEmpty())
            continue;
        entries.push_back({QString::fromUtf8(key), unescaped(text)});
    }
    return entries;
}

QHash<QString, QString> readLocaleFile(const QString& path) {
    QHash<QString, QString> byKey;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return byKey;
    for (const LocaleEntry& entry : parseLocaleFile(file.readAll()))
        byKey.insert(entry.key, entry.text);
    return byKey;
}

QHash<QString, QString> readLanguageTexts(const QString& directory, const QString& language) {
    QHash<QString, QString> texts = readLocaleFile(directory + QStringLiteral("/en-US.ini"));
    const QHash<QString, QString> own =
        readLocaleFile(directory + QLatin1Char('/') + language + QStringLiteral(".ini"));
    for (auto it = own.constBegin(); it != own.constEnd(); ++it)
        texts.insert(it.key(), it.value());
    return texts;
}

} // namespace relaycast
