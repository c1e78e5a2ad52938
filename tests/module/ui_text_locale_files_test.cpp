#include "module/locale_file.h"

#include <util/text-lookup.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

using namespace relaycast;

namespace {

const QString kLocaleDir = QStringLiteral(RELAYCAST_SOURCE_DIR "/data/locale");

QStringList placeholdersOf(const QString& text) {
    static const QRegularExpression placeholder(QStringLiteral("%[1-9]"));
    QStringList found;
    for (QRegularExpressionMatchIterator it = placeholder.globalMatch(text); it.hasNext();)
        found << it.next().captured();
    found.sort();
    return found;
}

// Lines that are neither blank nor comments: each must be one entry.
int entryLinesOf(const QByteArray& contents) {
    int lines = 0;
    for (const QByteArray& line : contents.split('\n'))
        lines += !line.trimmed().isEmpty() && !line.trimmed().startsWith('#');
    return lines;
}

} // namespace

TEST(LocaleFiles, EveryLanguageHasEveryTextWithItsPlaceholdersAndReadsAsObsReadsIt) {
    const QStringList languages = QDir(kLocaleDir).entryList({"*.ini"}, QDir::Files, QDir::Name);
    EXPECT_EQ(languages.join(' ').toStdString(),
              "de-DE.ini en-US.ini es-ES.ini fr-FR.ini it-IT.ini ja-JP.ini ko-KR.ini pl-PL.ini "
              "pt-BR.ini ru-RU.ini tr-TR.ini zh-CN.ini");
    const QHash<QString, QString> base = readLocaleFile(kLocaleDir + "/en-US.ini");
    ASSERT_GT(base.size(), 200);
    // Icons and symbols that start a text say something by themselves and stay in every language.
    const QString icons = QString::fromUtf8("⬆⚠⛔✎●🎥🎬▶■↪✔＋");

    for (const QString& name : languages) {
        SCOPED_TRACE(name.toStdString());
        const QString path = kLocaleDir + '/' + name;
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray contents = file.readAll();
        const QVector<LocaleEntry> entries = parseLocaleFile(contents);
        // A line that does not read as an entry (an empty text, a missing quote) is a lost text.
        EXPECT_EQ(entries.size(), entryLinesOf(contents));
        EXPECT_EQ(entries.size(), base.size());

        lookup_t* lookup = text_lookup_create(path.toUtf8().constData());
        ASSERT_NE(lookup, nullptr);
        QSet<QString> keys;
        for (const LocaleEntry& entry : entries) {
            SCOPED_TRACE(entry.key.toStdString());
            // OBS compares keys without case.
            EXPECT_FALSE(keys.contains(entry.key.toUpper())) << "repeated key";
            keys.insert(entry.key.toUpper());
            ASSERT_TRUE(base.contains(entry.key)) << "unknown key";
            const QString& english = base[entry.key];
            EXPECT_EQ(placeholdersOf(entry.text), placeholdersOf(english));
            EXPECT_EQ(entry.text.startsWith(' '), english.startsWith(' ')) << "leading space";
            EXPECT_EQ(entry.text.endsWith(' '), english.endsWith(' ')) << "trailing space";
            if (icons.contains(english.left(1))) {
                EXPECT_EQ(entry.text.left(2), english.left(2)) << "leading icon";
            }
            const char* obsText = nullptr;
            ASSERT_TRUE(text_lookup_getstr(lookup, entry.key.toUtf8().constData(), &obsText));
            EXPECT_EQ(QString::fromUtf8(obsText), entry.text);
        }
        text_lookup_destroy(lookup);
    }
}

// A language reads its own texts; English only stands in for a language without a file.
TEST(LocaleFiles, ALanguageReadsItsOwnFileOverTheEnglishOne) {
    const QHash<QString, QString> german = readLanguageTexts(kLocaleDir, "de-DE");
    EXPECT_EQ(german.value("RistBufferInAddress"),
              QString::fromUtf8("OBS legt seinen eigenen Wiederherstellungspuffer fest und "
                                "ignoriert buffer=: entferne es aus der Adresse."));
    EXPECT_EQ(german, readLocaleFile(kLocaleDir + "/de-DE.ini"));
    EXPECT_EQ(readLanguageTexts(kLocaleDir, "en-GB"), readLocaleFile(kLocaleDir + "/en-US.ini"));
}

TEST(LocaleFiles, ReadsQuotesEqualsSignsAndLineBreaksInsideATextAsObsDoes) {
    const QVector<LocaleEntry> entries = parseLocaleFile(
        "# comment\n\nA=\"x = \\\"y\\\" # z\\n\"\r\n  B = \"tail\"  \nC=\"\"\nD=bare\n");
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].key, "A");
    EXPECT_EQ(entries[0].text, "x = \"y\" # z\n");
    EXPECT_EQ(entries[1].key, "B");
    EXPECT_EQ(entries[1].text, "tail");
}
