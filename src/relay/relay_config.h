#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace relaycast {

// The streamer's own relay: nginx with the RTMP module that OBS sends one stream to and that
// pushes it on to every destination sent through it.
struct RelaySettings {
    QString ingestUrl; // rtmp://host[:port]/app: where the relay listens
    QString statsUrl;  // http(s)://host:port/path: its statistics page
    // Ours: the name OBS publishes under (the relay refuses any other) and the last step of
    // the statistics path. Never in an address: OBS logs the addresses it connects to.
    QString secret;
    QString allowFrom; // the streamer's address, or empty for any
    // The relay's own loopback ports start here: its publish check, then one TLS client for
    // each rtmps:// destination.
    int firstLocalPort = 19400;
};

struct RelayedDestination {
    QString id;
    QString url; // rtmp://, rtmps:// or srt://
    QString key; // the stream key (RTMP) or streamid (SRT)
};

struct RelayConfiguration {
    QString error;            // why nothing could be written; the texts below are empty then
    QString nginx;            // a complete nginx.conf with the RTMP module loaded
    QString stunnel;          // the TLS clients of the rtmps:// destinations; empty without any
    QString install;          // the README
    QStringList notRelayable; // "<destination id>: reason"
};

// How the relay reaches one destination. `statAddress` and `statFlashver` are how the
// statistics page lists that push (nginx-rtmp shows a push as a client whose address is the
// push url without its scheme, key included); they hold the key and never leave this code.
struct RelayRoute {
    enum class Kind { Rtmp, Rtmps, Srt };
    QString id;
    Kind kind = Kind::Rtmp;
    QString target;  // rtmp:// push url (RTMP, RTMPS through stunnel) or srt:// url (SRT)
    QString tlsHost; // RTMPS: the platform's host and port stunnel connects to
    int tlsPort = 0;
    int localPort = 0; // RTMPS: the loopback port of its stunnel client
    QString statAddress;
    QString statFlashver;
};

struct RelayPlan {
    QString error;
    QString ingestHost;
    int ingestPort = 1935;
    QString application;
    int checkPort = 0; // the loopback port where nginx checks a publish's name
    bool statsTls = false;
    int statsPort = 0;
    QString statsPath; // "/<path>/<secret>"
    QList<RelayRoute> routes;
    QStringList notRelayable;
};

// Checks the input and decides each destination's route.
RelayPlan planRelay(const RelaySettings& settings, const QList<RelayedDestination>& destinations);

// Where OBS publishes (rtmp://host:port/<app>, under the secret as its stream key) and where
// the caller reads the statistics (statsUrl/<secret>); empty when the settings are refused.
QString relayPublishUrl(const RelaySettings& settings);
QString relayStatsFetchUrl(const RelaySettings& settings);

RelayConfiguration relayConfiguration(const RelaySettings& settings,
                                      const QList<RelayedDestination>& destinations);

// File names written by writeRelayFiles.
inline constexpr const char* kRelayNginxFile = "relaycast-relay.conf";
inline constexpr const char* kRelayStunnelFile = "relaycast-stunnel.conf";
inline constexpr const char* kRelayReadmeFile = "RELAY-README.txt";

// Writes the configuration into `folder` (owner-only, each file replaced atomically); the
// stunnel file only when there is one. False with `error` filled on the first failure.
bool writeRelayFiles(const RelayConfiguration& configuration, const QString& folder,
                     QString* error = nullptr);

} // namespace relaycast
