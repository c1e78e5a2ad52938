#include "module/locale_file.h"
#include "module/ui_text.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>

#include <thread>
#include <utility>
#include <vector>

using namespace relaycast;

namespace {

QString english(const char* spanish) {
    return englishTextOf(QString::fromUtf8(spanish));
}

} // namespace

// Declared first so that, in a full run, these are the first lookups of the process and the
// threads race on the one-time initialisation of the language flag and the lookup map.
TEST(UiTextConcurrency, FirstLookupsFromSeveralThreadsAgree) {
    const std::vector<QString> keys = {"Aceptar", "No se pudo emitir: %1",
                                       "Destino %1: ", QString::fromUtf8("▶ Emitir"),
                                       "Destino %1:"};
    const QStringList expected = {"OK", "Could not stream: %1",
                                  "Destination %1: ", QString::fromUtf8("▶ Stream"), "Destino %1:"};
    constexpr int kThreads = 8;
    std::vector<QStringList> english(kThreads);
    std::vector<QStringList> shown(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (const QString& key : keys) {
                shown[t] << uiText(key);
                english[t] << englishTextOf(key);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(english[t], expected);
        EXPECT_EQ(shown[t], QStringList(keys.begin(), keys.end())); // no host locale: Spanish
    }
}

TEST(UiTextTable, EverySpanishTextNamesItsKey) {
    // Every text of es-ES.ini (the Windows-only one included), plus the plug-in's name.
    QFile file(QStringLiteral(RELAYCAST_SOURCE_DIR "/data/locale/es-ES.ini"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QVector<LocaleEntry> entries = parseLocaleFile(file.readAll());
    EXPECT_EQ(entries.size(), 371);
    for (const LocaleEntry& entry : entries)
        EXPECT_EQ(uiTextKeyOf(entry.text), entry.key)
            << "two keys share " << entry.text.toStdString();
    EXPECT_EQ(uiTextKeyOf(QString::fromUtf8("＋ Añadir entrada")), "AddInputButton");
    EXPECT_EQ(uiTextKeyOf("Destino %1:"), "");
}

TEST(UiTextTable, TranslatesTextsExactlyCharacterForCharacter) {
    EXPECT_EQ(english("Aceptar"), "OK");
    // Emoji, symbols and the multiplication sign.
    EXPECT_EQ(english("🎥 Fuente: "), QString::fromUtf8("🎥 Source: "));
    EXPECT_EQ(english("⛔ Se perdió definitivamente %1: no se pudo reconectar. Pulsa «▶ Emitir» "
                      "para reintentar."),
              QString::fromUtf8("⛔ Lost for good: %1 could not reconnect. Click “▶ Stream” to try "
                                "again."));
    EXPECT_EQ(english("%1×%2 (personalizado)"), QString::fromUtf8("%1×%2 (custom)"));
    EXPECT_EQ(english("＋ Añadir entrada"), QString::fromUtf8("＋ Add input"));
    // Typographic quotes become English ones.
    EXPECT_EQ(english("¿Borrar el perfil «%1»?"), QString::fromUtf8("Delete profile “%1”?"));
    // Leading and trailing spaces of fragments.
    EXPECT_EQ(english(" · %1 corte%2"), " · %1 drop%2");
    EXPECT_EQ(english(" · %1 cortes%2"), " · %1 drops%2");
    EXPECT_EQ(english("Destino %1: "), "Destination %1: ");
    EXPECT_EQ(english(" (ya no existe)"), " (no longer exists)");
    EXPECT_EQ(english("rtmp://servidor/aplicacion   o   srt://servidor:puerto"),
              "rtmp://server/application   or   srt://server:port");
    // Line breaks.
    EXPECT_EQ(english("Esta entrada está emitiendo ahora mismo. Si la borras, se detendrán sus "
                      "emisiones.\n\n¿Borrarla?"),
              "This input is streaming right now. If you delete it, its streams will stop.\n\n"
              "Delete it?");
    // Straight double quotes that belong to the text.
    EXPECT_EQ(english("El codificador de audio «%1» no existe en este OBS. Elige «aac» u «opus»."),
              "The audio encoder \"%1\" does not exist in this OBS. Choose \"aac\" or \"opus\".");
    // The Spanish "..." and the English ellipsis character are both kept as written.
    EXPECT_TRUE(
        english("Son los mismos ajustes que ofrece OBS para este codificador (fotogramas B, "
                "preajuste, perfil...). Si no sabes qué hace uno, déjalo como está. En "
                "x264, las opciones extra se escriben en el campo de opciones "
                "personalizadas, por ejemplo: bframes=2 ref=3")
            .startsWith(QString::fromUtf8(
                "These are the same settings OBS offers for this encoder (B-frames, "
                "preset, profile…).")));
}

TEST(UiTextTable, LeavesTextsWithoutAPairAndFillsPlaceholdersAfterwards) {
    EXPECT_EQ(english("Destino %1:"), "Destino %1:");
    EXPECT_EQ(english("aceptar"), "aceptar");
    EXPECT_EQ(english("No se pudo emitir: %1"), "Could not stream: %1");
    EXPECT_EQ(english("No se pudo emitir: %1").arg(QStringLiteral("sin red")),
              "Could not stream: sin red");
}

TEST(UiTextTable, TheFinalConnectionLossHasAnEnglishTwin) {
    EXPECT_EQ(english("Se perdió la conexión y no se pudo recuperar. %1"),
              "The connection was lost and could not be recovered. %1");
}

TEST(UiTextTable, TheUnopenedKeysNoticeNamesWindowsOnlyOnWindows) {
#ifdef _WIN32
    EXPECT_EQ(english("Algunas claves de emisión no se pudieron abrir porque se guardaron en otro "
                      "usuario o PC de Windows. Vuelve a escribirlas en cada destino."),
              "Some stream keys could not be opened because they were saved by another Windows "
              "user or PC. Please type them again in each destination.");
#else
    EXPECT_EQ(english("Algunas claves de emisión no se pudieron abrir porque se guardaron en otro "
                      "usuario o PC. Vuelve a escribirlas en cada destino."),
              "Some stream keys could not be opened because they were saved by another user or "
              "PC. Please type them again in each destination.");
#endif
}

TEST(UiTextLocale, SpanishCatalanGalicianAndBasqueLocalesGetSpanish) {
    for (const char* locale : {"es-ES", "ES-mx", "ca-ES", "gl-ES", "eu-ES", "es"})
        EXPECT_TRUE(isSpanishLocale(locale)) << locale;
    // Only the start is looked at.
    EXPECT_TRUE(isSpanishLocale("estonia"));
    EXPECT_TRUE(isSpanishLocale("CAT"));
}

TEST(UiTextLocale, OtherLocalesReadTheirOwnFileAndNoLocaleGetsSpanish) {
    for (const char* locale : {"en-US", "pt-BR", "fr-FR", "", "e", "de-ES"})
        EXPECT_FALSE(isSpanishLocale(locale)) << locale;
    EXPECT_TRUE(isSpanishLocale(nullptr));
    const std::pair<const char*, const char*> files[] = {
        {"de-DE", "de-DE"}, {"ja-JP", "ja-JP"}, {"gl-ES", "es-ES"}, {"eu-ES", "es-ES"},
        {nullptr, "es-ES"}, {"", "en-US"},      {"en-GB", "en-GB"}};
    for (const auto& [locale, file] : files)
        EXPECT_EQ(interfaceLanguageOf(locale), file) << (locale ? locale : "(none)");
}

TEST(UiText, WithoutAHostLocaleTheInterfaceIsSpanish) {
    EXPECT_TRUE(isSpanishInterface());
    EXPECT_EQ(uiText("Aceptar"), "Aceptar");
    EXPECT_EQ(uiText(QString::fromUtf8("▶ Emitir")), QString::fromUtf8("▶ Emitir"));
}
