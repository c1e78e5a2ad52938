#include "config/config_store.h"
#include "config/secret_protection.h"
#include "module/ui_text.h"

#include "config/config_test_env.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace relaycast {
namespace {

using testing::PrivateUserFolders;
using testing::readBytes;
using testing::writeBytes;

const QString kUntouched = QStringLiteral("untouched");

class SettingsReading : public ::testing::Test {
protected:
    // Writes `json` as the settings file and loads it into `store`; the load must succeed.
    void loadJson(const QByteArray& json) {
        writeBytes(folders.settingsPath(), json);
        message = kUntouched;
        ASSERT_TRUE(store.load(&message));
    }

    const CollectionConfig& entries(const QString& collection = QStringLiteral("c")) {
        return store.entriesOf(collection);
    }

    PrivateUserFolders folders;
    ConfigStore store{folders.settingsPath()};
    QString message;
};

bool isNewId(const QString& id) {
    static const QRegularExpression uuid(
        QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"));
    return uuid.match(id).hasMatch();
}

TEST_F(SettingsReading, AbsentFileGivesAnEmptyStoreThatCanSave) {
    message = kUntouched;
    store.entriesOf(QStringLiteral("old")); // replaced by the load
    store.profiles().append(EncoderProfile{});
    EXPECT_TRUE(store.load(&message));
    EXPECT_EQ(message, kUntouched);
    EXPECT_TRUE(store.collections().isEmpty());
    EXPECT_TRUE(store.profiles().isEmpty());
    EXPECT_FALSE(store.saveBlocked());
    EXPECT_FALSE(QFileInfo::exists(folders.settingsPath()));
}

TEST_F(SettingsReading, AbsentOrMistypedKeysReadAsDefaults) {
    loadJson(R"({"colecciones": {"c": {"entradas": [
        {"fuente": "Escena"},
        {"id": 7, "fuente": "Escena", "nombre": 3, "codificador": 5, "videoKbps": "5000",
         "audioKbps": true, "codificadorAudio": [], "retrasoAudioMs": null,
         "ajustesCodificador": {}, "ancho": "1920", "alto": "1080", "llenar": "true",
         "equivalencias": [], "destinos": {}}
    ]}}})");
    ASSERT_EQ(entries().size(), 2);
    for (const EntryConfig& entry : entries()) {
        EXPECT_TRUE(isNewId(entry.id)) << entry.id.toStdString();
        EXPECT_EQ(entry.fuente, QStringLiteral("Escena"));
        EXPECT_EQ(entry.nombre, QString());
        EXPECT_EQ(entry.codificador, QStringLiteral("obs_x264"));
        EXPECT_EQ(entry.videoKbps, 4000);
        EXPECT_EQ(entry.audioKbps, 128);
        EXPECT_EQ(entry.codificadorAudio, QString());
        EXPECT_EQ(entry.retrasoAudioMs, 0);
        EXPECT_EQ(entry.ajustesCodificador, QString());
        EXPECT_EQ(entry.ancho, 0);
        EXPECT_EQ(entry.alto, 0);
        EXPECT_FALSE(entry.llenar);
        EXPECT_FALSE(entry.seguirObs);
        EXPECT_TRUE(entry.equivalencias.isEmpty());
        EXPECT_TRUE(entry.destinos.isEmpty());
    }
    EXPECT_NE(entries()[0].id, entries()[1].id);
    EXPECT_EQ(message, kUntouched);
}

TEST_F(SettingsReading, NumbersAreClampedAndNonIntegersReadAsDefaults) {
    loadJson(R"({"colecciones": {"c": {"entradas": [
        {"fuente": "a", "videoKbps": 0, "audioKbps": 32, "retrasoAudioMs": -5},
        {"fuente": "b", "videoKbps": 2000000, "audioKbps": 400, "retrasoAudioMs": 5000},
        {"fuente": "c", "videoKbps": 4000.5, "audioKbps": 160.25, "retrasoAudioMs": 12.5},
        {"fuente": "d", "videoKbps": 3000000000, "audioKbps": -3000000000, "retrasoAudioMs": 2147483648},
        {"fuente": "e", "videoKbps": 2500.0, "audioKbps": 1e2, "retrasoAudioMs": 2147483647},
        {"fuente": "f", "videoKbps": -2147483648, "audioKbps": 96, "retrasoAudioMs": 250}
    ]}}})");
    struct Expected {
        int32_t video, audio, delay;
    };
    const Expected expected[] = {{1, 64, 0},     {1000000, 320, 1000}, {4000, 128, 0},
                                 {4000, 128, 0}, {2500, 100, 1000},    {1, 96, 250}};
    ASSERT_EQ(entries().size(), 6);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(entries()[i].fuente.toStdString());
        EXPECT_EQ(entries()[i].videoKbps, expected[i].video);
        EXPECT_EQ(entries()[i].audioKbps, expected[i].audio);
        EXPECT_EQ(entries()[i].retrasoAudioMs, expected[i].delay);
    }
}

TEST_F(SettingsReading, OwnSizeNeedsBothSidesInRange) {
    loadJson(R"({"colecciones": {"c": {"entradas": [
        {"fuente": "a", "ancho": 1920, "alto": 1080},
        {"fuente": "b", "ancho": 160, "alto": 7680},
        {"fuente": "c", "ancho": 1280},
        {"fuente": "d", "ancho": 1920, "alto": 100},
        {"fuente": "e", "ancho": 159, "alto": 720},
        {"fuente": "f", "ancho": 1280, "alto": 7681},
        {"fuente": "g", "ancho": 1280.5, "alto": 720},
        {"fuente": "h", "ancho": -1280, "alto": -720}
    ]}}})");
    const QList<QPair<int32_t, int32_t>> expected = {{1920, 1080}, {160, 7680}, {0, 0}, {0, 0},
                                                     {0, 0},       {0, 0},      {0, 0}, {0, 0}};
    ASSERT_EQ(entries().size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(entries()[i].fuente.toStdString());
        EXPECT_EQ(entries()[i].ancho, expected[i].first);
        EXPECT_EQ(entries()[i].alto, expected[i].second);
    }
}

TEST_F(SettingsReading, WhatADestinationTakesOutOfRangeReadsAsTheEntrys) {
    loadJson(R"({"colecciones": {"c": {"entradas": [{"fuente": "a",
        "grabacion": {"videoKbpsMax": 900, "ancho": 640, "alto": 360, "retrasoSegs": 5},
        "destinos": [
        {"url": "rtmp://h/a", "videoKbpsMax": 6000, "ancho": 1280, "alto": 720,
         "pistaAudio": 6, "retrasoSegs": 600},
        {"url": "rtmp://h/b", "videoKbpsMax": 0, "ancho": 1280, "pistaAudio": 7, "retrasoSegs": 601},
        {"url": "rtmp://h/c", "videoKbpsMax": 1000001, "ancho": 159, "alto": 720,
         "pistaAudio": -1, "retrasoSegs": 2.5},
        {"url": "rtmp://h/d", "videoKbpsMax": "6000", "ancho": 1280, "alto": 7681}
    ]}]}}})");
    ASSERT_EQ(entries().size(), 1);
    const QList<SendChoice> expected = {{6000, 1280, 720, 6, 600}, {}, {}, {}};
    ASSERT_EQ(entries()[0].destinos.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i)
        EXPECT_EQ(entries()[0].destinos[i].envio, expected[i])
            << entries()[0].destinos[i].url.toStdString();
    // A file is never delayed.
    EXPECT_EQ(entries()[0].grabacion.envio, (SendChoice{900, 640, 360, 0, 0}));
}

TEST_F(SettingsReading, TextsAreTrimmedWhereTheyShouldBe) {
    loadJson(R"({"colecciones": {"c": {"entradas": [
        {"id": "e1", "fuente": " Escena con espacios ", "nombre": "  Mi salida \t",
         "codificador": "", "codificadorAudio": "  Opus ", "ajustesCodificador": " {\"bf\": 2} "}
    ]}}})");
    ASSERT_EQ(entries().size(), 1);
    const EntryConfig& entry = entries().first();
    EXPECT_EQ(entry.id, QStringLiteral("e1"));
    EXPECT_EQ(entry.fuente, QStringLiteral(" Escena con espacios "));
    EXPECT_EQ(entry.nombre, QStringLiteral("Mi salida"));
    EXPECT_EQ(entry.codificador, QString()) << "a present empty text is not the default";
    EXPECT_EQ(entry.codificadorAudio, QStringLiteral("Opus"));
    EXPECT_EQ(entry.ajustesCodificador, QStringLiteral(" {\"bf\": 2} "));
}

TEST_F(SettingsReading, EntriesWithoutSourceSurviveOnlyWhenFollowingTheHost) {
    loadJson(R"({"colecciones": {"c": {"entradas": [
        {"id": "follows", "fuente": "", "seguirObs": true},
        {"id": "static", "fuente": "", "seguirObs": false},
        {"id": "absent-flag", "fuente": ""},
        {"id": "no-source-key", "seguirObs": true},
        {"id": "flag-as-text", "seguirObs": "true"},
        {"id": "with-source", "fuente": "Escena", "seguirObs": false},
        "not an object", 42, null
    ]}}})");
    QStringList ids;
    for (const EntryConfig& entry : entries())
        ids << entry.id;
    EXPECT_EQ(ids, (QStringList{QStringLiteral("follows"), QStringLiteral("no-source-key"),
                                QStringLiteral("with-source")}));
    EXPECT_TRUE(entries().first().seguirObs);
}

TEST_F(SettingsReading, EquivalencesKeepNonEmptyTextPairsAndTheLaterDuplicate) {
    loadJson(R"({"colecciones": {"c": {"entradas": [
        {"fuente": "a", "seguirObs": true, "equivalencias": {
            "Directo": "Directo vertical", "": "Sin nombre", "Vacía": "", "Número": 5,
            "Lista": ["x"], "directo": "minúsculas", "Pausa": "Primera", "Pausa": "Segunda"}}
    ]}}})");
    ASSERT_EQ(entries().size(), 1);
    SceneMatchMap expected;
    expected.insert(QStringLiteral("Directo"), QStringLiteral("Directo vertical"));
    expected.insert(QStringLiteral("directo"), QStringLiteral("minúsculas"));
    expected.insert(QStringLiteral("Pausa"), QStringLiteral("Segunda"));
    EXPECT_EQ(entries().first().equivalencias, expected);
}

TEST_F(SettingsReading, DestinationsWithoutAStoredAddressAreDropped) {
    loadJson(R"({"colecciones": {"c": {"entradas": [
        {"fuente": "a", "destinos": [
            {"id": "d1", "url": "rtmp://127.0.0.1/live"},
            {"id": "d2", "url": "", "clave": "k", "contrasena": "x"},
            {"id": "d3", "clave": "dpapi:AQIDBAUGBwgJCgsMDQ4PEA=="},
            {"id": "d4", "url": 5},
            "not an object",
            {"url": "srt://127.0.0.1:9000"}
        ]}
    ]}}})");
    ASSERT_EQ(entries().size(), 1);
    const QList<DestConfig>& destinos = entries().first().destinos;
    ASSERT_EQ(destinos.size(), 2);
    EXPECT_EQ(destinos[0].id, QStringLiteral("d1"));
    EXPECT_EQ(destinos[0].url, QStringLiteral("rtmp://127.0.0.1/live"));
    EXPECT_TRUE(isNewId(destinos[1].id));
    EXPECT_EQ(destinos[1].url, QStringLiteral("srt://127.0.0.1:9000"));
    // No card shows d3, so its key that this computer cannot open is not reported.
    EXPECT_EQ(message, kUntouched);
}

TEST_F(SettingsReading, ProfilesNeedANameAndMayRepeatIt) {
    loadJson(R"({"perfiles": [
        {"nombre": " Calidad ", "videoKbps": 6000, "audioKbps": 192, "codificadorAudio": " aac ",
         "ajustesCodificador": "{\"preset\": \"slow\"}", "codificador": "obs_nvenc"},
        {"nombre": "Calidad"},
        {"nombre": "   "},
        {"videoKbps": 100},
        "not an object",
        {"nombre": "Bajo", "videoKbps": 0, "audioKbps": 1000, "codificador": 3}
    ]})");
    const QList<EncoderProfile>& profiles = store.profiles();
    ASSERT_EQ(profiles.size(), 3);
    EXPECT_EQ(profiles[0],
              (EncoderProfile{QStringLiteral("Calidad"), QStringLiteral("obs_nvenc"), 6000, 192,
                              QStringLiteral("aac"), QStringLiteral("{\"preset\": \"slow\"}")}));
    EXPECT_EQ(profiles[1], (EncoderProfile{QStringLiteral("Calidad"), QStringLiteral("obs_x264"),
                                           4000, 128, QString(), QString()}));
    EXPECT_EQ(profiles[2], (EncoderProfile{QStringLiteral("Bajo"), QStringLiteral("obs_x264"), 1,
                                           320, QString(), QString()}));
    EXPECT_TRUE(store.collections().isEmpty());
}

TEST_F(SettingsReading, CollectionsWithoutEntriesAreKeptAndWrittenBack) {
    loadJson(R"({"version": 99, "desconocida": [1, 2], "colecciones": {
        "": {"entradas": [{"fuente": "Escena"}]},
        "Sin entradas": {},
        "No es objeto": 5,
        "Entradas rotas": {"entradas": {"fuente": "x"}}
    }})");
    EXPECT_EQ(store.collections().keys(),
              (QStringList{QString(), QStringLiteral("Entradas rotas"),
                           QStringLiteral("No es objeto"), QStringLiteral("Sin entradas")}));
    EXPECT_EQ(store.collections().value(QString()).size(), 1);

    ASSERT_TRUE(store.save());
    const QJsonObject collections = testing::readJsonObject(folders.settingsPath())
                                        .value(QLatin1String("colecciones"))
                                        .toObject();
    EXPECT_EQ(collections.value(QLatin1String("Sin entradas")).toObject(),
              (QJsonObject{{QStringLiteral("entradas"), QJsonArray()}}));
    EXPECT_EQ(collections.size(), 4);
}

TEST_F(SettingsReading, PlainSecretsAreRewrittenProtectedAtOnce) {
    const QByteArray plainFile = R"({"colecciones": {"c": {"entradas": [
        {"id": "e1", "fuente": "a", "destinos": [
            {"id": "d1", "url": "rtmp://127.0.0.1/live", "clave": "live_plain_key"},
            {"id": "d2", "url": "srt://127.0.0.1:9000", "contrasena": "plain passphrase"},
            {"id": "d3", "url": "srt://127.0.0.1:9001?streamid=publish/live"}
        ]}
    ]}}})";
    loadJson(plainFile);
    EXPECT_EQ(message, kUntouched);
    const QList<DestConfig> loaded = entries().first().destinos;
    ASSERT_EQ(loaded.size(), 3);
    EXPECT_EQ(loaded[0].clave, QStringLiteral("live_plain_key"));
    EXPECT_EQ(loaded[1].contrasena, QStringLiteral("plain passphrase"));
    EXPECT_EQ(loaded[2].url, QStringLiteral("srt://127.0.0.1:9001?streamid=publish/live"));

    const QByteArray rewritten = readBytes(folders.settingsPath());
    EXPECT_FALSE(rewritten.contains("live_plain_key"));
    EXPECT_FALSE(rewritten.contains("plain passphrase"));
    EXPECT_FALSE(rewritten.contains("streamid"));
    const QJsonArray destinos = testing::readJsonObject(folders.settingsPath())
                                    .value(QLatin1String("colecciones"))
                                    .toObject()
                                    .value(QLatin1String("c"))
                                    .toObject()
                                    .value(QLatin1String("entradas"))
                                    .toArray()
                                    .at(0)
                                    .toObject()
                                    .value(QLatin1String("destinos"))
                                    .toArray();
    EXPECT_TRUE(destinos[0]
                    .toObject()
                    .value(QLatin1String("clave"))
                    .toString()
                    .startsWith(QLatin1String("dpapi:")));
    EXPECT_EQ(destinos[0].toObject().value(QLatin1String("url")).toString(),
              QStringLiteral("rtmp://127.0.0.1/live"));
    EXPECT_TRUE(destinos[1]
                    .toObject()
                    .value(QLatin1String("contrasena"))
                    .toString()
                    .startsWith(QLatin1String("dpapi:")));
    EXPECT_TRUE(destinos[2]
                    .toObject()
                    .value(QLatin1String("url"))
                    .toString()
                    .startsWith(QLatin1String("dpapi:")));

    ConfigStore again(folders.settingsPath());
    ASSERT_TRUE(again.load());
    EXPECT_EQ(again.entriesOf(QStringLiteral("c")).first().destinos, loaded);
}

TEST_F(SettingsReading, ProtectedOrPlainAddressesWithoutSecretsAreNotRewritten) {
    const QByteArray file = QByteArray(R"({"colecciones": {"c": {"entradas": [
        {"fuente": "a", "destinos": [
            {"id": "d1", "url": "rtmp://127.0.0.1/live", "clave": "", "contrasena": ""},
            {"id": "d2", "url": ")") +
                            protectSecret(QStringLiteral("srt://h:1?streamid=x")).toLatin1() +
                            R"(", "clave": ")" + protectSecret(QStringLiteral("k")).toLatin1() +
                            R"("}
        ]}
    ]}}})";
    loadJson(file);
    EXPECT_EQ(readBytes(folders.settingsPath()), file);
    EXPECT_EQ(message, kUntouched);
    EXPECT_EQ(entries().first().destinos[1].url, QStringLiteral("srt://h:1?streamid=x"));
    EXPECT_EQ(entries().first().destinos[1].clave, QStringLiteral("k"));
}

TEST_F(SettingsReading, UnopenableSecretsAreReportedAndNotRewritten) {
    const QByteArray file = R"({"colecciones": {"c": {"entradas": [
        {"fuente": "a", "destinos": [
            {"id": "d1", "url": "rtmp://127.0.0.1/live", "clave": "dpapi:AQIDBAUGBwgJCgsMDQ4PEA=="},
            {"id": "d2", "url": "dpapi:bm90IGEgYmxvYg==", "clave": "plain", "contrasena": "dpapi:%%"},
            {"id": "d3", "url": "srt://127.0.0.1:9000", "clave": "plain key"}
        ]}
    ]}}})";
    loadJson(file);
    EXPECT_EQ(message, QStringLiteral("Algunas claves de emisión no se pudieron abrir porque se "
                                      "guardaron en otro usuario o PC. Vuelve a escribirlas en "
                                      "cada destino."));
    EXPECT_NE(englishTextOf(message), message) << "the text has an English twin";
    // The plain key of d3 would ask for a rewrite, but nothing is written until the user saves.
    EXPECT_EQ(readBytes(folders.settingsPath()), file);

    const QList<DestConfig>& destinos = entries().first().destinos;
    ASSERT_EQ(destinos.size(), 3);
    EXPECT_EQ(destinos[0],
              (DestConfig{QStringLiteral("d1"), QStringLiteral("rtmp://127.0.0.1/live"), QString(),
                          QString()}));
    EXPECT_EQ(destinos[1], (DestConfig{QStringLiteral("d2"), QStringLiteral("?"),
                                       QStringLiteral("plain"), QString()}));
    EXPECT_EQ(destinos[2].clave, QStringLiteral("plain key"));
    EXPECT_FALSE(store.saveBlocked());
}

} // namespace
} // namespace relaycast
