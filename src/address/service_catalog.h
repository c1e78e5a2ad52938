#pragma once

// The streaming services the host knows: its rtmp-services list (services.json), read as it is
// and never copied into our sources, so every OBS line offers exactly the services, servers and
// limits its own settings offer. Plain code over the file's text; any thread.

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace relaycast {

struct ServiceServer {
    QString name;
    QString url;
};

// One row of a service's table of bitrates by picture size and frame rate.
struct BitrateForSize {
    uint32_t width = 0;
    uint32_t height = 0;
    int32_t fps = 0;
    int32_t maxKbps = 0;
};

struct PictureSize {
    uint32_t width = 0;
    uint32_t height = 0;
    friend bool operator==(const PictureSize&, const PictureSize&) = default;
};

// What a service takes, from its "recommended" part and codec lists. Zero or empty: no limit.
struct ServiceLimits {
    int32_t maxVideoKbps = 0;
    int32_t maxAudioKbps = 0;
    int32_t keyintSecs = 0;
    int32_t maxFps = 0;
    QString profile;
    QList<PictureSize> resolutions;
    QList<BitrateForSize> bitrateBySize;
    // The codecs it takes; the host assumes H.264 and AAC when a service names none.
    QStringList videoCodecs{QStringLiteral("h264")};
    QStringList audioCodecs{QStringLiteral("aac")};
};

struct StreamingService {
    QString name;
    QStringList altNames; // names it had before, that stored settings may still carry
    bool common = false;  // among the few the host lists first
    QString streamKeyLink;
    QList<ServiceServer> servers; // only those we can send to (rtmp, rtmps, srt, rist)
    ServiceLimits limits;
};

struct ServiceCatalog {
    int formatVersion = 0;
    QList<StreamingService> services;
    QString source; // the file it was read from

    int serverCount() const;
    // By its name or one of its former names; nullptr when none.
    const StreamingService* find(const QString& name) const;
};

// Parses a services.json text. Services that send through something we cannot (HLS, FTL, an
// HTTPS look-up of the address) and servers that are not rtmp, rtmps, srt or rist addresses are
// left out. Nullopt, with `error` set, when the text is not such a list.
std::optional<ServiceCatalog> parseServiceCatalog(const QByteArray& json, QString* error = nullptr);

// Reads the user's updated copy when it parses and has the installed list's format (the host
// itself reads nothing else), else the installed list. An empty catalog when neither reads.
ServiceCatalog loadServiceCatalog(const QString& userCopyPath, const QString& installedPath);

// The service an address belongs to: one of its servers exactly (scheme and host compared
// ignoring case, a trailing slash ignored), else a server on the same host. `server` is the
// index of the exact server, -1 when only the host matched.
struct ServiceMatch {
    const StreamingService* service = nullptr;
    int server = -1;
};
// Some servers are listed by two services (a free and a paid tier of one platform): the
// service named `kept`, when the address belongs to it, stays the address's service.
ServiceMatch findServiceForAddress(const ServiceCatalog& catalog, const QString& address,
                                   const QString& kept = QString());

// The index of the server of `service` named `nameOrUrl` or with that address (compared as
// above); -1 for none.
int findServer(const StreamingService& service, const QString& nameOrUrl);

// Whether `address` is one of the servers of `service` or on the host of one of them.
bool belongsToService(const StreamingService& service, const QString& address);

// The server a new destination of `service` starts on: one named "auto" or "default" when
// there is one, else the first.
int preferredServer(const StreamingService& service);

} // namespace relaycast
