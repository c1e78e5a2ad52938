// The relay as the product writes it, checked by the real nginx. (An input streaming through
// it to real servers is in the entry controller's host tests.)

#include "relay/relay_config.h"
#include "support/child_process.h"
#include "support/local_servers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace relaycast;
using namespace relaycast::test;

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
