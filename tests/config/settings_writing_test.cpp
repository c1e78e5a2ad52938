#include "config/config_store.h"
#include "config/secret_protection.h"

#include "config/config_test_env.h"

#include <gtest/gtest.h>

namespace relaycast {
namespace {

using testing::PrivateUserFolders;
using testing::readBytes;
using testing::readJsonObject;

DestConfig dest(const QString& id, const QString& url, const QString& clave = {},
                const QString& contrasena = {}) {
    return DestConfig{id, url, clave, contrasena};
}

// A configuration that uses every field, several collections (the unnamed one included),
// secrets of every kind and texts outside ASCII.
void fillRichConfiguration(ConfigStore& store) {
    EntryConfig following;
    following.id = QStringLiteral("7c9e6679-7425-40de-944b-e07fc1f90ae7");
    following.seguirObs = true;
    following.conEmisionObs = true;
    following.codificadorDeObs = true;
    following.equivalencias.insert(QStringLiteral("Directo"), QStringLiteral("Directo 9:16"));
    following.equivalencias.insert(QStringLiteral("Pausa"), QStringLiteral("Pausa vertical"));
    following.destinos = {dest(QStringLiteral("d-1"), QStringLiteral("rtmp://127.0.0.1/live"),
                               QStringLiteral("live_123_abc")),
                          dest(QStringLiteral("d-2"),
                               QStringLiteral("rtmps://127.0.0.1:443/app?token=abc&x=1"),
                               QStringLiteral("clave ñ"))};
    following.destinos[1].envio = {6000, 1280, 720, 2, 30};
    following.destinos[1].servicio = QStringLiteral("Facebook Live");
    following.grabacion.envio = {2500, 640, 360, 6, 0};
    following.destinos[0].porRelevo = true;
    following.relevo = {QStringLiteral("rtmp://relay.example:1936/in"),
                        QStringLiteral("https://relay.example:8443/stats"),
                        QStringLiteral("RichRelaySecret0123456789"),
                        QStringLiteral("203.0.113.7"),
                        19500,
                        QStringLiteral("0123abcd"),
                        {}};
    store.entriesOf(QString()).append(following);

    EntryConfig vertical;
    vertical.id = QStringLiteral("e-vertical");
    vertical.fuente = QStringLiteral("Escena «principal»");
    vertical.nombre = QStringLiteral("Vertical");
    vertical.codificador = QStringLiteral("obs_qsv11");
    vertical.videoKbps = 8000;
    vertical.audioKbps = 320;
    vertical.codificadorAudio = QStringLiteral("opus");
    vertical.retrasoAudioMs = 1000;
    vertical.ajustesCodificador = QStringLiteral("{\"bf\": 2, \"preset\": \"veryfast\"}");
    vertical.ancho = 1080;
    vertical.alto = 1920;
    vertical.llenar = true;
    vertical.destinos = {dest(QStringLiteral("d-3"),
                              QStringLiteral("srt://127.0.0.1:9000?mode=caller&latency=200"),
                              QStringLiteral("#!::r=live/vertical,m=publish"),
                              QStringLiteral("frase de paso larga €")),
                         dest(QStringLiteral("d-4"), QStringLiteral("rtmp://127.0.0.1/plain"))};
    EntryConfig horizontal;
    horizontal.id = QStringLiteral("e-horizontal");
    horizontal.fuente = QStringLiteral("Cámara");
    horizontal.retrasoAudioMs = 1;
    store.entriesOf(QStringLiteral("Escenas principales")) = {vertical, horizontal};

    EntryConfig unicode;
    unicode.id = QStringLiteral("e-unicode");
    unicode.fuente = QStringLiteral("Fuente 🎥 日本");
    store.entriesOf(QStringLiteral("Colección ñ 🎥")).append(unicode);
    store.entriesOf(QStringLiteral("Vacía"));

    store.profiles() = {
        EncoderProfile{QStringLiteral("Calidad"), QStringLiteral("obs_x264"), 6000, 192,
                       QStringLiteral("aac"), QStringLiteral("{\"preset\": \"slow\"}")},
        EncoderProfile{QStringLiteral("Calidad"), QStringLiteral("ffmpeg_nvenc"), 2500, 96,
                       QString(), QString()},
    };
}

// Walks written JSON text and checks that every line is indented four spaces per open level
// and that the member names of every object are in ascending order.
struct LayoutCheck {
    QStringList problems;
    int objectsSeen = 0;
};

LayoutCheck checkLayout(const QByteArray& utf8) {
    struct Level {
        bool isObject = false;
        bool expectingKey = false;
        QString lastKey;
        bool hasKey = false;
    };
    LayoutCheck check;
    QList<Level> levels;
    const QString text = QString::fromUtf8(utf8);
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int lineNumber = 0; lineNumber < lines.size(); ++lineNumber) {
        const QString& line = lines[lineNumber];
        if (line.isEmpty())
            continue;
        int indent = 0;
        while (indent < line.size() && line[indent] == QLatin1Char(' '))
            ++indent;
        if (indent < line.size() && line[indent] == QLatin1Char('\t'))
            check.problems << QStringLiteral("tab on line %1").arg(lineNumber + 1);
        const bool closes = indent < line.size() &&
                            (line[indent] == QLatin1Char('}') || line[indent] == QLatin1Char(']'));
        const int expected = 4 * (int(levels.size()) - (closes ? 1 : 0));
        if (indent != expected)
            check.problems << QStringLiteral("line %1 indented %2, expected %3")
                                  .arg(lineNumber + 1)
                                  .arg(indent)
                                  .arg(expected);

        for (int i = indent; i < line.size(); ++i) {
            const QChar c = line[i];
            if (c == QLatin1Char('"')) {
                QString value;
                for (++i; i < line.size() && line[i] != QLatin1Char('"'); ++i) {
                    if (line[i] == QLatin1Char('\\'))
                        ++i;
                    value += line[i];
                }
                if (!levels.isEmpty() && levels.last().isObject && levels.last().expectingKey) {
                    Level& level = levels.last();
                    if (level.hasKey && !(level.lastKey < value))
                        check.problems << QStringLiteral("key \"%1\" after \"%2\" on line %3")
                                              .arg(value, level.lastKey)
                                              .arg(lineNumber + 1);
                    level.lastKey = value;
                    level.hasKey = true;
                    level.expectingKey = false;
                }
            } else if (c == QLatin1Char('{') || c == QLatin1Char('[')) {
                levels.append(Level{c == QLatin1Char('{'), c == QLatin1Char('{'), {}, false});
                if (c == QLatin1Char('{'))
                    ++check.objectsSeen;
            } else if (c == QLatin1Char('}') || c == QLatin1Char(']')) {
                levels.removeLast();
            } else if (c == QLatin1Char(',') && !levels.isEmpty() && levels.last().isObject) {
                levels.last().expectingKey = true;
            }
        }
    }
    if (!levels.isEmpty())
        check.problems << QStringLiteral("unbalanced brackets");
    return check;
}

class SettingsWriting : public ::testing::Test {
protected:
    PrivateUserFolders folders;
    ConfigStore store{folders.settingsPath()};
};

TEST_F(SettingsWriting, WritesTheExpectedTextForASmallConfiguration) {
    EntryConfig entry;
    entry.id = QStringLiteral("e1");
    entry.fuente = QStringLiteral("Escena 1");
    entry.destinos = {dest(QStringLiteral("d1"), QStringLiteral("rtmp://127.0.0.1/live"))};
    store.entriesOf(QStringLiteral("Escenas")).append(entry);
    store.entriesOf(QString());
    store.profiles().append(EncoderProfile{QStringLiteral("Rápido"), QStringLiteral("obs_x264"),
                                           3000, 160, QString(), QString()});

    QString message = QStringLiteral("untouched");
    ASSERT_TRUE(store.save(&message));
    EXPECT_EQ(message, QStringLiteral("untouched"));
    const QByteArray expected = R"({
    "colecciones": {
        "": {
            "entradas": [
            ]
        },
        "Escenas": {
            "entradas": [
                {
                    "ajustesCodificador": "",
                    "alto": 0,
                    "ancho": 0,
                    "audioKbps": 128,
                    "codificador": "obs_x264",
                    "destinos": [
                        {
                            "clave": "",
                            "contrasena": "",
                            "id": "d1",
                            "url": "rtmp://127.0.0.1/live"
                        }
                    ],
                    "equivalencias": {
                    },
                    "fuente": "Escena 1",
                    "id": "e1",
                    "llenar": false,
                    "seguirObs": false,
                    "videoKbps": 4000
                }
            ]
        }
    },
    "perfiles": [
        {
            "ajustesCodificador": "",
            "audioKbps": 160,
            "codificador": "obs_x264",
            "nombre": "Rápido",
            "videoKbps": 3000
        }
    ],
    "version": 1
}
)";
    EXPECT_EQ(QString::fromUtf8(readBytes(folders.settingsPath())), QString::fromUtf8(expected));
}

TEST_F(SettingsWriting, RichConfigurationSurvivesARoundTrip) {
    fillRichConfiguration(store);
    QString message;
    ASSERT_TRUE(store.save(&message)) << message.toStdString();
    const QByteArray written = readBytes(folders.settingsPath());

    ConfigStore loaded(folders.settingsPath());
    message = QStringLiteral("untouched");
    ASSERT_TRUE(loaded.load(&message));
    EXPECT_EQ(message, QStringLiteral("untouched"));
    EXPECT_EQ(loaded.collections(), store.collections());
    EXPECT_EQ(loaded.profiles(), store.profiles());
    EXPECT_FALSE(loaded.saveBlocked());
    // Everything was already protected, so the load did not rewrite the file.
    EXPECT_EQ(readBytes(folders.settingsPath()), written);

    // And the loaded copy writes back what it read.
    ASSERT_TRUE(loaded.save());
    ConfigStore again(folders.settingsPath());
    ASSERT_TRUE(again.load());
    EXPECT_EQ(again.collections(), store.collections());
    EXPECT_EQ(again.profiles(), store.profiles());
}

TEST_F(SettingsWriting, SecretsNeverReachTheFileInTheClear) {
    fillRichConfiguration(store);
    ASSERT_TRUE(store.save());
    const QByteArray written = readBytes(folders.settingsPath());
    for (const char* secret : {"live_123_abc", "clave ñ", "token=abc", "latency=200",
                               "r=live/vertical", "frase de paso", "RichRelaySecret"})
        EXPECT_FALSE(written.contains(secret)) << secret;

    const QJsonObject collections =
        readJsonObject(folders.settingsPath()).value(QLatin1String("colecciones")).toObject();
    const auto destinationsOf = [&](const QString& collection, int entry) {
        return collections.value(collection)
            .toObject()
            .value(QLatin1String("entradas"))
            .toArray()
            .at(entry)
            .toObject()
            .value(QLatin1String("destinos"))
            .toArray();
    };
    const QJsonArray following = destinationsOf(QString(), 0);
    const QJsonArray vertical = destinationsOf(QStringLiteral("Escenas principales"), 0);
    const auto field = [](const QJsonArray& destinations, int index, const char* key) {
        return destinations.at(index).toObject().value(QLatin1String(key)).toString();
    };
    const QLatin1String prefix("dpapi:");
    EXPECT_EQ(field(following, 0, "url"), QStringLiteral("rtmp://127.0.0.1/live"));
    EXPECT_TRUE(field(following, 0, "clave").startsWith(prefix));
    EXPECT_EQ(field(following, 0, "contrasena"), QString());
    EXPECT_TRUE(field(following, 1, "url").startsWith(prefix));
    EXPECT_TRUE(field(vertical, 0, "url").startsWith(prefix));
    EXPECT_TRUE(field(vertical, 0, "clave").startsWith(prefix));
    EXPECT_TRUE(field(vertical, 0, "contrasena").startsWith(prefix));
    EXPECT_EQ(field(vertical, 1, "url"), QStringLiteral("rtmp://127.0.0.1/plain"));
    EXPECT_EQ(field(vertical, 1, "clave"), QString());
}

TEST_F(SettingsWriting, KeysAreSortedAndIndentedFourSpaces) {
    fillRichConfiguration(store);
    ASSERT_TRUE(store.save());
    const QByteArray written = readBytes(folders.settingsPath());
    const LayoutCheck check = checkLayout(written);
    EXPECT_TRUE(check.problems.isEmpty()) << check.problems.join(QLatin1Char('\n')).toStdString();
    // root, colecciones, 4 collections, 4 entries with equivalences, 4 destinations, 2 profiles,
    // 1 recording, 1 relay
    EXPECT_EQ(check.objectsSeen, 1 + 1 + 4 + 4 * 2 + 4 + 2 + 1 + 1);

    // The checker itself notices an unsorted or badly indented text.
    EXPECT_FALSE(checkLayout("{\n    \"b\": 1,\n    \"a\": 2\n}\n").problems.isEmpty());
    EXPECT_FALSE(checkLayout("{\n  \"a\": 1\n}\n").problems.isEmpty());
}

TEST_F(SettingsWriting, OptionalKeysAreWrittenOnlyWhenSet) {
    EntryConfig plain;
    plain.id = QStringLiteral("plain");
    plain.fuente = QStringLiteral("a");
    plain.nombre = QString();
    plain.codificadorAudio = QString();
    plain.retrasoAudioMs = 0;
    EntryConfig set = plain;
    set.id = QStringLiteral("set");
    set.nombre = QStringLiteral("Nombre");
    set.codificadorAudio = QStringLiteral("opus");
    set.retrasoAudioMs = 40;
    set.conEmisionObs = true;
    set.codificadorDeObs = true;
    set.relevo.entrada = QStringLiteral("rtmp://relay.example/in");
    store.entriesOf(QStringLiteral("c")) = {plain, set};
    store.profiles() = {EncoderProfile{QStringLiteral("p"), QStringLiteral("obs_x264"), 1, 64,
                                       QString(), QString()},
                        EncoderProfile{QStringLiteral("q"), QStringLiteral("obs_x264"), 1, 64,
                                       QStringLiteral("aac"), QString()}};
    ASSERT_TRUE(store.save());

    const QJsonObject root = readJsonObject(folders.settingsPath());
    const QJsonArray entries = root.value(QLatin1String("colecciones"))
                                   .toObject()
                                   .value(QLatin1String("c"))
                                   .toObject()
                                   .value(QLatin1String("entradas"))
                                   .toArray();
    const QJsonObject writtenPlain = entries.at(0).toObject();
    const QJsonObject writtenSet = entries.at(1).toObject();
    // Absent unless set, so files of older versions read and write back unchanged.
    for (const char* key : {"nombre", "codificadorAudio", "retrasoAudioMs", "conEmisionObs",
                            "codificadorDeObs", "relevo"}) {
        EXPECT_FALSE(writtenPlain.contains(QLatin1String(key))) << key;
        EXPECT_TRUE(writtenSet.contains(QLatin1String(key))) << key;
    }
    EXPECT_EQ(writtenSet.value(QLatin1String("retrasoAudioMs")).toInt(), 40);
    EXPECT_EQ(writtenPlain.size(), 12);

    const QJsonArray profiles = root.value(QLatin1String("perfiles")).toArray();
    EXPECT_FALSE(profiles.at(0).toObject().contains(QLatin1String("codificadorAudio")));
    EXPECT_EQ(profiles.at(1).toObject().value(QLatin1String("codificadorAudio")).toString(),
              QStringLiteral("aac"));
}

TEST_F(SettingsWriting, AskingForANewCollectionAddsItEmpty) {
    EXPECT_TRUE(store.entriesOf(QStringLiteral("Nunca vista")).isEmpty());
    EXPECT_EQ(store.collections().keys(), QStringList{QStringLiteral("Nunca vista")});

    // The reference is the stored list itself.
    EntryConfig entry;
    entry.id = QStringLiteral("e");
    entry.fuente = QStringLiteral("Escena");
    store.entriesOf(QStringLiteral("Otra")).append(entry);
    EXPECT_EQ(store.collections().value(QStringLiteral("Otra")).size(), 1);

    ASSERT_TRUE(store.save());
    const QJsonObject collections =
        readJsonObject(folders.settingsPath()).value(QLatin1String("colecciones")).toObject();
    EXPECT_EQ(collections.value(QLatin1String("Nunca vista")).toObject(),
              (QJsonObject{{QStringLiteral("entradas"), QJsonArray()}}));
}

} // namespace
} // namespace relaycast
