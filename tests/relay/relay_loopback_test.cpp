// The relay as the product writes it, run by the real nginx-rtmp on 127.0.0.1 in front of a
// real RTMP server standing in for the platform.

#include "relay/relay_config.h"
#include "relay/relay_stats.h"
#include "relay/relay_stats_fetch.h"
#include "support/child_process.h"
#include "support/local_servers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <thread>

using namespace relaycast;
using namespace relaycast::test;

namespace {

const QString kPlatformKey = QStringLiteral("relayed-platform-key-4711");
const QString kTlsKey = QStringLiteral("relayed-tls-key-4712");
const QString kWrongNameKey = QStringLiteral("relayed-wrong-name-key-4713");

QStringList publishCommand(const QString& url, int seconds) {
    return {"ffmpeg",
            "-nostdin",
            "-loglevel",
            "error",
            "-re",
            "-f",
            "lavfi",
            "-i",
            "testsrc=size=320x240:rate=25",
            "-f",
            "lavfi",
            "-i",
            "sine=frequency=440",
            "-t",
            QString::number(seconds),
            "-c:v",
            "libx264",
            "-preset",
            "ultrafast",
            "-g",
            "25",
            "-c:a",
            "aac",
            "-f",
            "flv",
            url};
}

// The page at `url`, read as the product reads it: its HTTP status and body.
std::pair<int, QByteArray> fetch(const QString& url) {
    prepareRelayStatsFetch();
    const RelayStatsPage page = fetchRelayStatsPage(url.toStdString());
    return {int(page.httpStatus), QByteArray::fromStdString(page.body)};
}

QString readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool writeText(const QString& path, const QString& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0;
}

// nginx's log without the key the platform expects.
std::string masked(const QString& log) {
    QString text = log;
    for (const QString& key : {kPlatformKey, kTlsKey, kWrongNameKey})
        text.replace(key, QStringLiteral("…"));
    return text.toStdString();
}

} // namespace

TEST(RelayLoopback, TheWrittenRelayForwardsOnlyASecretPublishAndShowsItOnlyAtTheSecretPath) {
    RtmpServer platform;
    SrtListener srtPlatform;
    QString error;
    ASSERT_TRUE(platform.start(&error)) << error.toStdString();
    ASSERT_TRUE(srtPlatform.start(&error)) << error.toStdString();
    // The same platform behind TLS, once with a certificate for its name and once for another.
    TestCertificates certificates;
    ASSERT_TRUE(certificates.make(&error)) << error.toStdString();
    TlsTerminator tls(certificates, platform);
    TlsTerminator wrongName(certificates, platform);
    ASSERT_TRUE(tls.start(TlsCertificate::Trusted, &error)) << error.toStdString();
    ASSERT_TRUE(wrongName.start(TlsCertificate::OtherName, &error)) << error.toStdString();

    const uint16_t ingestPort = freePort();
    uint16_t statsPort = freePort();
    while (statsPort == ingestPort)
        statsPort = freePort();
    // The publish check and the two TLS clients take a free port and the two after it.
    uint16_t localPort = freePort();
    const auto takes = [&](uint16_t port) { return port >= localPort && port <= localPort + 2; };
    while (takes(ingestPort) || takes(statsPort))
        localPort = freePort();
    const RelaySettings settings = {QStringLiteral("rtmp://127.0.0.1:%1/in").arg(ingestPort),
                                    QStringLiteral("http://127.0.0.1:%1/stats").arg(statsPort),
                                    QStringLiteral("LoopRelaySecret0123456789"),
                                    QStringLiteral("127.0.0.1"), localPort};
    const QList<RelayedDestination> destinations = {{"platform", platform.url(), kPlatformKey},
                                                    {"srt", srtPlatform.url(), ""},
                                                    {"tls", tls.url(), kTlsKey},
                                                    {"wrong-name", wrongName.url(), kWrongNameKey}};
    const RelayConfiguration configuration = relayConfiguration(settings, destinations);
    ASSERT_TRUE(configuration.error.isEmpty()) << configuration.error.toStdString();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(writeRelayFiles(configuration, folder.path(), &error)) << error.toStdString();

    // stunnel stays in the foreground, and the test's authority stands in for the system's.
    QString stunnelText = readAll(QDir(folder.path()).filePath(kRelayStunnelFile));
    stunnelText
        .replace(QStringLiteral("pid = /run/stunnel-relaycast.pid"),
                 QStringLiteral("pid =\nforeground = yes"))
        .replace(QStringLiteral("/etc/ssl/certs/ca-certificates.crt"),
                 certificates.authorityPath());
    ASSERT_TRUE(writeText(folder.filePath("stunnel-test.conf"), stunnelText));
    ChildProcess tlsClients;
    ASSERT_TRUE(tlsClients.start({"stunnel4", folder.filePath("stunnel-test.conf")},
                                 folder.filePath("stunnel.out"), folder.filePath("stunnel.err")));
    for (const int port : {settings.firstLocalPort + 1, settings.firstLocalPort + 2})
        ASSERT_TRUE(waitForTcpListener(port, 10000));

    ConfiguredNginx relay;
    ASSERT_TRUE(relay.start(QDir(folder.path()).filePath(kRelayNginxFile),
                            {ingestPort, statsPort, localPort}, &error))
        << masked(error);

    // Publishing under any name but the secret, or to another application, is refused, and
    // nothing reaches the platform.
    for (const QString& wrong : {QStringLiteral("in/obs"), QStringLiteral("in/LoopRelaySecret"),
                                 QStringLiteral("other/LoopRelaySecret0123456789")}) {
        const CommandResult refused = runCommand(
            publishCommand(QStringLiteral("rtmp://127.0.0.1:%1/").arg(ingestPort) + wrong, 2),
            20000);
        EXPECT_NE(refused.exitCode, 0) << wrong.toStdString();
    }
    EXPECT_TRUE(platform.publishes(kPlatformKey).isEmpty());

    // The statistics page is nowhere else.
    for (const QString& path :
         {QStringLiteral("/stats"), QStringLiteral("/"), QStringLiteral("/stat"),
          QStringLiteral("/stats/LoopRelaySecret0123456789x")})
        EXPECT_EQ(fetch(QStringLiteral("http://127.0.0.1:%1%2").arg(statsPort).arg(path)).first,
                  404)
            << path.toStdString();

    ChildProcess obs;
    ASSERT_TRUE(obs.start(
        publishCommand(relayPublishUrl(settings) + QLatin1Char('/') + settings.secret, 12),
        folder.filePath("obs.out"), folder.filePath("obs.err")));
    RelayStats stats;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto [status, page] = fetch(relayStatsFetchUrl(settings));
        ASSERT_EQ(status, 200);
        stats = readRelayStats(page, settings, destinations);
        ASSERT_TRUE(stats.error.isEmpty()) << stats.error.toStdString();
        if (stats.publisherConnected && stats.pushes.size() == 4 && stats.pushes[0].connected &&
            stats.pushes[1].connected && stats.pushes[2].connected &&
            !platform.publishes(kPlatformKey).isEmpty() && !platform.publishes(kTlsKey).isEmpty() &&
            srtPlatform.recordedBytes() > 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    EXPECT_TRUE(stats.publisherConnected);
    ASSERT_EQ(stats.pushes.size(), 4);
    EXPECT_EQ(stats.pushes[0].destinationId, "platform");
    EXPECT_TRUE(stats.pushes[0].connected) << masked(relay.errorLog());
    // The SRT destination's ffmpeg reads from the relay and hands the stream on.
    EXPECT_EQ(stats.pushes[1].destinationId, "srt");
    EXPECT_TRUE(stats.pushes[1].connected) << masked(relay.errorLog());
    EXPECT_GT(srtPlatform.recordedBytes(), 0) << srtPlatform.log().toStdString();
    // Over TLS through the relay's own stunnel client, which checks the platform's certificate:
    // one for another name never carries the stream.
    EXPECT_EQ(stats.pushes[2].destinationId, "tls");
    EXPECT_TRUE(stats.pushes[2].connected) << masked(readAll(folder.filePath("stunnel.err")));
    EXPECT_FALSE(platform.publishes(kTlsKey).isEmpty());
    EXPECT_EQ(stats.pushes[3].destinationId, "wrong-name");
    EXPECT_FALSE(stats.pushes[3].connected);
    EXPECT_TRUE(platform.publishes(kWrongNameKey).isEmpty());
    EXPECT_GT(wrongName.handshakesRefused(), 0);
    EXPECT_GT(stats.bytesIn, 0);
    EXPECT_FALSE(platform.publishes(kPlatformKey).isEmpty()) << masked(platform.errorLog());

    // Once OBS stops, the page says so and the push is gone.
    obs.stop(SIGTERM, 5000);
    bool gone = false;
    for (int attempt = 0; attempt < 40 && !gone; ++attempt) {
        const RelayStats after =
            readRelayStats(fetch(relayStatsFetchUrl(settings)).second, settings, destinations);
        gone = after.error.isEmpty() && !after.publisherConnected && after.pushes.size() == 4;
        for (const RelayPushState& push : after.pushes)
            gone = gone && !push.connected;
        if (!gone)
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    EXPECT_TRUE(gone);
    relay.stop();
    tlsClients.stop(SIGTERM, 5000);
}

// Every kind of destination the relay carries makes a configuration nginx itself accepts.
// nginx resolves a push's host as it loads the file (a host it cannot resolve fails `nginx -t`),
// so the push here goes to a name this machine knows without a network.
TEST(RelayLoopback, NginxAcceptsTheConfigurationOfEveryKindOfDestination) {
    const RelaySettings settings = {"rtmp://127.0.0.1:1935/in", "https://127.0.0.1:8443/stats",
                                    "CheckRelaySecret0123456789", "192.0.2.0/24"};
    const RelayConfiguration configuration = relayConfiguration(
        settings, {{"rtmp", "rtmp://localhost/live", "check-key-1"},
                   {"rtmps", "rtmps://b.example:443/app", "check-key-2"},
                   {"srt", "srt://c.example:9000?latency=2000", "#!::r=live/check,m=publish"}});
    ASSERT_TRUE(configuration.error.isEmpty());
    ASSERT_TRUE(configuration.notRelayable.isEmpty());
    QTemporaryDir folder;
    QString error;
    ASSERT_TRUE(writeRelayFiles(configuration, folder.path(), &error)) << error.toStdString();
    // The statistics page over TLS needs the certificate the instructions ask for: a throwaway
    // one stands in at the path the file names.
    TestCertificates certificates;
    ASSERT_TRUE(certificates.make(&error)) << error.toStdString();
    QString nginx = configuration.nginx;
    nginx
        .replace("/etc/nginx/relaycast-stats.crt",
                 certificates.certificatePath(TlsCertificate::Trusted))
        .replace("/etc/nginx/relaycast-stats.key", certificates.keyPath(TlsCertificate::Trusted));
    QFile file(folder.filePath("checked.conf"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(nginx.toUtf8());
    file.close();
    const CommandResult checked =
        runCommand({"nginx", "-t", "-p", folder.path() + "/", "-e", folder.filePath("error.log"),
                    "-c", file.fileName(), "-g", "pid " + folder.filePath("nginx.pid") + ";"},
                   20000);
    EXPECT_EQ(checked.exitCode, 0) << checked.err.toStdString();
}

// A destination whose address names no stream (a server of one's own that takes any name, a
// key left empty): nginx-rtmp pushes under the name OBS published, which is the relay's secret.
// The server at the other end then holds what lets anyone publish to the relay.
TEST(RelayLoopback, APushWithoutAStreamNameNeverCarriesTheSecret) {
    RtmpServer platform;
    QString error;
    ASSERT_TRUE(platform.start(&error)) << error.toStdString();
    const uint16_t ingestPort = freePort();
    uint16_t statsPort = freePort();
    while (statsPort == ingestPort)
        statsPort = freePort();
    uint16_t localPort = freePort();
    while (localPort == ingestPort || localPort == statsPort)
        localPort = freePort();
    const RelaySettings settings = {QStringLiteral("rtmp://127.0.0.1:%1/in").arg(ingestPort),
                                    QStringLiteral("http://127.0.0.1:%1/stats").arg(statsPort),
                                    QStringLiteral("NamelessRelaySecret0123456"),
                                    QStringLiteral("127.0.0.1"), localPort};
    const RelayConfiguration configuration =
        relayConfiguration(settings, {{"own", platform.url(), ""}});
    ASSERT_TRUE(configuration.error.isEmpty()) << configuration.error.toStdString();
    if (!configuration.notRelayable.isEmpty()) {
        // Refused with its reason: nothing is pushed at all.
        EXPECT_TRUE(configuration.notRelayable.first().startsWith(QStringLiteral("own")));
        return;
    }
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(writeRelayFiles(configuration, folder.path(), &error)) << error.toStdString();
    ConfiguredNginx relay;
    ASSERT_TRUE(relay.start(QDir(folder.path()).filePath(kRelayNginxFile),
                            {ingestPort, statsPort, localPort}, &error))
        << error.toStdString();

    ChildProcess obs;
    ASSERT_TRUE(
        obs.start(publishCommand(relayPublishUrl(settings) + QLatin1Char('/') + settings.secret, 8),
                  folder.filePath("obs.out"), folder.filePath("obs.err")));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    while (std::chrono::steady_clock::now() < deadline &&
           platform.publishes(settings.secret).isEmpty())
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_TRUE(platform.publishes(settings.secret).isEmpty())
        << "the platform received a publish named with the relay's secret";
    obs.stop(SIGTERM, 5000);
    relay.stop();
}
