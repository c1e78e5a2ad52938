#include "module/ui_text.h"
#include "relay/entry_relay.h"
#include "relay/relay_config.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <functional>

using namespace relaycast;

namespace {

RelaySettings relay() {
    return {QStringLiteral("rtmp://relay.example:1936/in"),
            QStringLiteral("http://relay.example:8088/stats"),
            QStringLiteral("Rel4ySecretAbcdefgh"), QStringLiteral("203.0.113.7")};
}

const QList<RelayedDestination> kMix = {
    {"yt", "rtmp://a.rtmp.youtube.com/live2", "yt-key-1111"},
    {"own", "rtmp://10.1.2.3:1940/app/", "own-key-2222"},
    {"fb", "rtmps://live-api-s.facebook.com:443/rtmp/", "fb-key-3333"},
    {"kick", "rtmps://ingest.kick.example/app", "kick-key-4444"},
    {"srt", "srt://srt.example:9000?latency=2000", "#!::r=live/srt-5555,m=publish"},
    {"bad", "rtmp://a.example/live", "bad;key}"},
    {"rist", "rist://rist.example:5000", ""},
    {"noapp", "rtmp://a.example", "k"},
    {"srtnoport", "srt://srt.example", "k"},
    {"query", "rtmp://q.example/app?token=1", "k"},
    // No stream name: nginx would push it under the name OBS published, the relay's secret.
    {"nameless", "rtmp://own.example:1940/live/", ""},
    {"nameless-tls", "rtmps://tls.example/app", ""},
    {"named", "rtmp://own.example/live/in-the-path", ""},
};

} // namespace

TEST(RelayConfig, EachDestinationGetsItsOwnPushAndTheRestSaysWhy) {
    const RelayConfiguration c = relayConfiguration(relay(), kMix);
    ASSERT_TRUE(c.error.isEmpty()) << c.error.toStdString();
    struct Case {
        const char* line;
        bool present;
    };
    const Case cases[] = {
        {"load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\n", true},
        {"        listen 1936;\n", true},
        {"        application in {\n", true},
        // Only the secret name publishes: nginx asks itself, on loopback.
        {"            notify_method get;\n"
         "            on_publish http://127.0.0.1:19400/relaycast-publish;\n",
         true},
        {"        listen 127.0.0.1:19400;\n        location = /relaycast-publish {\n"
         "            if ($arg_name = \"Rel4ySecretAbcdefgh\") {\n                return 204;\n"
         "            }\n            return 403;\n",
         true},
        {"            allow publish 203.0.113.7;\n            deny publish all;\n", true},
        {"            allow play 127.0.0.1;\n            deny play all;\n", true},
        {"            push \"rtmp://a.rtmp.youtube.com/live2/yt-key-1111\";\n", true},
        {"            push \"rtmp://10.1.2.3:1940/app/own-key-2222\";\n", true},
        // RTMPS goes to its own stunnel client on loopback, in the order given.
        {"            push \"rtmp://127.0.0.1:19401/rtmp/fb-key-3333\";\n", true},
        {"            push \"rtmp://127.0.0.1:19402/app/kick-key-4444\";\n", true},
        {"exec_push ffmpeg -nostdin -loglevel error -rtmp_flashver relaycast-srt -i "
         "rtmp://127.0.0.1:1936/in/$name -c copy -f mpegts "
         "\"srt://srt.example:9000?latency=2000&streamid=%23%21%3A%3Ar%3Dlive%2Fsrt-5555%2Cm%3D"
         "publish\";\n",
         true},
        {"            push_reconnect 1s;\n", true},
        {"    server_tokens off;\n    access_log off;\n", true},
        {"        listen 8088;\n", true},
        {"        location = /stats/Rel4ySecretAbcdefgh {\n            rtmp_stat all;\n"
         "            allow 203.0.113.7;\n            deny all;\n",
         true},
        {"        location / {\n            return 404;\n", true},
        {"bad;key", false},
        {"rist.example", false},
        {"a.example", false},
        {"q.example", false},
    };
    for (const Case& test : cases)
        EXPECT_EQ(c.nginx.contains(QString::fromUtf8(test.line)), test.present) << test.line;
    EXPECT_EQ(c.nginx.count(QStringLiteral("push \"")), 5);
    EXPECT_TRUE(c.nginx.contains(QStringLiteral("push \"rtmp://own.example/live/in-the-path\";")));

    EXPECT_EQ(c.notRelayable,
              QStringList({uiText("%1: la dirección o la clave contiene caracteres que romperían "
                                  "la configuración del relé.")
                               .arg("bad"),
                           uiText("%1: el relé solo reenvía a direcciones rtmp://, rtmps:// y "
                                  "srt://.")
                               .arg("rist"),
                           uiText("%1: la dirección no sirve para el relé.").arg("noapp"),
                           uiText("%1: la dirección no sirve para el relé.").arg("srtnoport"),
                           uiText("%1: la dirección no sirve para el relé.").arg("query"),
                           uiText("%1: sin clave de emisión, el relé le enviaría su propio "
                                  "secreto.")
                               .arg("nameless"),
                           uiText("%1: sin clave de emisión, el relé le enviaría su propio "
                                  "secreto.")
                               .arg("nameless-tls")}));

    for (const char* line :
         {"[relaycast-fb]\nclient = yes\naccept = 127.0.0.1:19401\n"
          "connect = live-api-s.facebook.com:443\nsni = live-api-s.facebook.com\n"
          "verifyChain = yes\nCAfile = /etc/ssl/certs/ca-certificates.crt\n"
          "checkHost = live-api-s.facebook.com\n",
          "[relaycast-kick]\nclient = yes\naccept = 127.0.0.1:19402\n"
          "connect = ingest.kick.example:443\n"})
        EXPECT_TRUE(c.stunnel.contains(QString::fromUtf8(line))) << line;
    EXPECT_EQ(c.stunnel.count(QStringLiteral("client = yes")), 2);
    EXPECT_FALSE(c.stunnel.contains(QStringLiteral("key-")));

    for (const char* step : {"apt-get install nginx libnginx-mod-rtmp stunnel4", "nginx -t",
                             "systemctl reload nginx", "relaycast-stunnel.conf"})
        EXPECT_TRUE(c.install.contains(QString::fromUtf8(step))) << step;
    EXPECT_TRUE(c.install.contains(c.notRelayable.first()));
}

TEST(RelayConfig, WithoutAnAllowedAddressOnlyTheRelayItselfReadsItsStatistics) {
    RelaySettings settings = relay();
    settings.allowFrom.clear();
    const RelayConfiguration c =
        relayConfiguration(settings, {{"yt", "rtmp://a.example/live", "some-key-1"}});
    EXPECT_FALSE(c.nginx.contains(QStringLiteral(" publish ")));
    EXPECT_TRUE(c.nginx.contains(QStringLiteral("allow 127.0.0.1;\n            deny all;")));
    // Without SRT nobody at all plays from the relay, and no TLS client is needed.
    EXPECT_FALSE(c.nginx.contains(QStringLiteral("allow play")));
    EXPECT_TRUE(c.stunnel.isEmpty());
    EXPECT_FALSE(c.install.contains(QStringLiteral("stunnel.conf")));

    // A page over https:// loads a certificate at a fixed path, which the steps name.
    settings.statsUrl = QStringLiteral("https://relay.example:8443/stats");
    const RelayConfiguration tls =
        relayConfiguration(settings, {{"yt", "rtmp://a.example/live", "some-key-1"}});
    for (const char* path : {"/etc/nginx/relaycast-stats.crt", "/etc/nginx/relaycast-stats.key"})
        EXPECT_TRUE(tls.nginx.contains(path) && tls.install.contains(path)) << path;
}

TEST(RelayConfig, RefusesARelayDescriptionThatWouldNotWork) {
    const QString ingest = uiText("La dirección de entrada del relé debe ser "
                                  "rtmp://servidor[:puerto]/aplicacion.");
    const QString stats = uiText("La página de estadísticas del relé debe ser "
                                 "http(s)://servidor:puerto/ruta, en otro puerto que la entrada.");
    struct Case {
        RelaySettings settings;
        QString error;
    };
    const RelaySettings good = relay();
    const Case cases[] = {
        {{"rtmps://relay.example/in", good.statsUrl, good.secret, {}}, ingest},
        {{"rtmp://relay.example", good.statsUrl, good.secret, {}}, ingest},
        {{"rtmp://relay.example/in/more", good.statsUrl, good.secret, {}}, ingest},
        {{"rtmp://relay.example/in;x", good.statsUrl, good.secret, {}}, ingest},
        {{"rtmp://relay.example:99999/in", good.statsUrl, good.secret, {}}, ingest},
        {{good.ingestUrl, "http://relay.example/stats", good.secret, {}}, stats},
        {{good.ingestUrl, "ftp://relay.example:8088/stats", good.secret, {}}, stats},
        {{good.ingestUrl, "http://relay.example:8088/", good.secret, {}}, stats},
        {{good.ingestUrl, "http://relay.example:1936/stats", good.secret, {}}, stats},
        {{good.ingestUrl, "http://relay.example:8088/st{ats", good.secret, {}}, stats},
        {{good.ingestUrl, good.statsUrl, "short", {}}, uiText("El secreto del relé no es válido.")},
        {{good.ingestUrl, good.statsUrl, "Rel4ySecret Abcdefgh", {}},
         uiText("El secreto del relé no es válido.")},
        {{good.ingestUrl, good.statsUrl, good.secret, "all; allow 0.0.0.0/0"},
         uiText("La dirección permitida del relé no es válida.")},
        // nginx merges "..", "." and "//" in a request before it matches a location: a page
        // placed at such a path answers nowhere.
        {{good.ingestUrl, "http://relay.example:8088/a/../stats", good.secret, {}}, stats},
        {{good.ingestUrl, "http://relay.example:8088/a//stats", good.secret, {}}, stats},
        {{good.ingestUrl, "http://relay.example:8088/./stats", good.secret, {}}, stats},
        // Not an address nginx's allow takes: `nginx -t` refuses the whole file.
        {{good.ingestUrl, good.statsUrl, good.secret, "cafe"},
         uiText("La dirección permitida del relé no es válida.")},
        {{good.ingestUrl, good.statsUrl, good.secret, "203.0.113.7/99"},
         uiText("La dirección permitida del relé no es válida.")},
        {{good.ingestUrl, good.statsUrl, good.secret, {}, 0},
         uiText("Los puertos locales del relé no son válidos.")},
        {{good.ingestUrl, good.statsUrl, good.secret, {}, 65536},
         uiText("Los puertos locales del relé no son válidos.")},
        // The relay's loopback ports (its publish check, then a TLS client per rtmps://
        // destination) are bound on the machine that has its ingest and its page.
        {{"rtmp://relay.example:19400/in", good.statsUrl, good.secret, {}, 19400},
         uiText("Los puertos locales del relé no son válidos.")},
        {{good.ingestUrl, "http://relay.example:19400/stats", good.secret, {}, 19400},
         uiText("Los puertos locales del relé no son válidos.")},
        {{"rtmp://relay.example/in", good.statsUrl, good.secret, {}, 1935},
         uiText("Los puertos locales del relé no son válidos.")},
    };
    for (const Case& test : cases) {
        const RelayConfiguration c =
            relayConfiguration(test.settings, {{"d", "rtmps://a.example/live", "k"}});
        EXPECT_EQ(c.error, test.error)
            << test.settings.ingestUrl.toStdString() << " " << test.settings.statsUrl.toStdString();
        EXPECT_TRUE(c.nginx.isEmpty());
        EXPECT_TRUE(relayPublishUrl(test.settings).isEmpty());
    }
    EXPECT_EQ(relayPublishUrl(good), "rtmp://relay.example:1936/in");
    EXPECT_EQ(relayStatsFetchUrl(good), "http://relay.example:8088/stats/Rel4ySecretAbcdefgh");
}

TEST(RelayConfig, NoCharacterThatEndsADirectiveReachesTheFile) {
    for (const char* key :
         {"a;b", "a{b", "a}b", "a\"b", "a'b", "a b", "a\nb", "a$b", "a\\b", "a\tb", "\xc3\xb1"}) {
        const RelayConfiguration c = relayConfiguration(
            relay(), {{"d", "rtmp://a.example/live", QString::fromUtf8(key)},
                      {"e", QString::fromUtf8("srt://a.example:9000?x=") + key, ""}});
        EXPECT_EQ(c.notRelayable.size(), 2) << key;
        EXPECT_FALSE(c.nginx.contains(QStringLiteral("a.example"))) << key;
    }
}

TEST(RelayConfig, WritesOwnerOnlyFilesAndDropsAStunnelFileNoLongerNeeded) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path();
    const RelayConfiguration withTls =
        relayConfiguration(relay(), {{"fb", "rtmps://live.example/rtmp", "fb-key-1234"}});
    QString error;
    ASSERT_TRUE(writeRelayFiles(withTls, folder, &error)) << error.toStdString();
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    for (const char* name : {kRelayNginxFile, kRelayStunnelFile, kRelayReadmeFile}) {
        QFile file(QDir(folder).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        EXPECT_EQ(file.permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser), ownerOnly)
            << name;
    }
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 3); // no temporary copy left

    const RelayConfiguration plain =
        relayConfiguration(relay(), {{"yt", "rtmp://a.example/live", "yt-key-1234"}});
    ASSERT_TRUE(writeRelayFiles(plain, folder, &error)) << error.toStdString();
    QFile nginx(QDir(folder).filePath(kRelayNginxFile));
    ASSERT_TRUE(nginx.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(nginx.readAll()), plain.nginx);
    EXPECT_FALSE(QFileInfo::exists(QDir(folder).filePath(kRelayStunnelFile)));

    // A file of the user's under one of the names is never replaced nor removed.
    for (const char* name : {kRelayStunnelFile, kRelayNginxFile}) {
        QTemporaryDir mine;
        QFile file(QDir(mine.path()).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("# my own file\n");
        file.close();
        EXPECT_FALSE(writeRelayFiles(plain, mine.path(), &error)) << name;
        EXPECT_EQ(error, uiText("«%1» ya existe en esa carpeta y no lo escribió Relaycast: elige "
                                "otra carpeta.")
                             .arg(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), "# my own file\n");
    }

    RelaySettings refused = relay();
    refused.secret.clear();
    EXPECT_FALSE(writeRelayFiles(relayConfiguration(refused, {}), folder, &error));
    EXPECT_EQ(error, uiText("El secreto del relé no es válido."));
}

TEST(EntryRelay, OneOutputStandsForTheRelayedDestinationsAndAWrittenConfigurationGoesStale) {
    EntryConfig entry;
    entry.id = "e";
    entry.destinos = {{"a", "rtmp://direct.example/live", "direct-key"},
                      {"b", "rtmp://b.example/live", "b-key"},
                      {"c", "rtmps://c.example/app", "c-key"},
                      {"d", "srt://d.example:9000", ""}};
    entry.destinos[1].porRelevo = entry.destinos[2].porRelevo = true;
    const auto ids = [](const EntryConfig& e) {
        QStringList list;
        for (const DestConfig& d : e.destinos)
            list << d.id;
        return list;
    };
    // Marked, but without a relay: everything leaves OBS as before.
    EXPECT_EQ(ids(routedEntry(entry)), QStringList({"a", "b", "c", "d"}));
    EXPECT_FALSE(relayConfigurationStale(entry));

    entry.relevo = {"rtmp://relay.example:1936/in", "http://relay.example:8088/stats",
                    "Rel4ySecretAbcdefgh"};
    const EntryConfig routed = routedEntry(entry);
    EXPECT_EQ(ids(routed), QStringList({"a", relayOutputIdOf("e"), "d"}));
    EXPECT_EQ(routed.destinos[1].url, "rtmp://relay.example:1936/in");
    EXPECT_EQ(routed.destinos[1].clave, "Rel4ySecretAbcdefgh");
    EXPECT_EQ(routedDestinationId(entry, "c"), relayOutputIdOf("e"));
    EXPECT_EQ(routedDestinationId(entry, "a"), "a");

    EXPECT_TRUE(relayConfigurationStale(entry)); // never written
    const QString digest = relayConfigurationDigest(entry);
    EXPECT_EQ(digest.size(), 32);
    entry.relevo.escrita = digest;
    EXPECT_FALSE(relayConfigurationStale(entry));
    struct Change {
        const char* what;
        std::function<void(EntryConfig&)> apply;
        bool stale;
    };
    const Change changes[] = {
        {"a relayed key", [](EntryConfig& e) { e.destinos[2].clave = "new-c-key"; }, true},
        {"one more relayed", [](EntryConfig& e) { e.destinos[3].porRelevo = true; }, true},
        {"the allowed address", [](EntryConfig& e) { e.relevo.permitirDesde = "203.0.113.9"; },
         true},
        {"a direct key", [](EntryConfig& e) { e.destinos[0].clave = "other"; }, false},
        {"nothing relayed any more",
         [](EntryConfig& e) { e.destinos[1].porRelevo = e.destinos[2].porRelevo = false; }, false},
    };
    for (const Change& change : changes) {
        EntryConfig changed = entry;
        change.apply(changed);
        EXPECT_EQ(relayConfigurationStale(changed), change.stale) << change.what;
    }
    // The digest, kept in the settings file, tells nothing of the keys without the secret.
    EntryConfig otherSecret = entry;
    otherSecret.relevo.secreto = "Another4SecretAbcdefgh";
    EXPECT_NE(relayConfigurationDigest(otherSecret), digest);
    const QString secret = newRelaySecret();
    EXPECT_TRUE(QRegularExpression("^[A-Za-z0-9_-]{24}$").match(secret).hasMatch());
    EXPECT_NE(newRelaySecret(), secret);
}
