#include "address/service_catalog.h"

#include "module/picture_sides.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace relaycast {
namespace {

// A server we can send to names one of our schemes and a host to connect to.
bool sendableServer(const QString& address) {
    const QUrl url(address.trimmed());
    const QString scheme = url.scheme().toLower();
    return !url.host().isEmpty() &&
           (scheme == QLatin1String("rtmp") || scheme == QLatin1String("rtmps") ||
            scheme == QLatin1String("srt") || scheme == QLatin1String("rist"));
}

// "1920x1080" as a size; nullopt for anything else.
std::optional<PictureSize> readSize(const QString& text) {
    const QStringList parts = text.trimmed().split(QLatin1Char('x'));
    if (parts.size() != 2)
        return std::nullopt;
    bool wOk = false;
    bool hOk = false;
    const uint32_t w = parts[0].toUInt(&wOk);
    const uint32_t h = parts[1].toUInt(&hOk);
    // A size outside what we scale to is one no rendition could be given: not offered.
    const auto side = [](uint32_t v) { return v >= kMinOwnSide && v <= kMaxOwnSide; };
    if (!wOk || !hOk || !side(w) || !side(h))
        return std::nullopt;
    return PictureSize{w, h};
}

QStringList readCodecs(const QJsonValue& value, const QStringList& fallback) {
    QStringList codecs;
    for (const QJsonValue& codec : value.toArray())
        if (!codec.toString().isEmpty())
            codecs << codec.toString().toLower();
    return codecs.isEmpty() ? fallback : codecs;
}

ServiceLimits readLimits(const QJsonObject& service) {
    const QJsonObject rec = service.value(QLatin1String("recommended")).toObject();
    ServiceLimits limits;
    limits.maxVideoKbps = rec.value(QLatin1String("max video bitrate")).toInt();
    limits.maxAudioKbps = rec.value(QLatin1String("max audio bitrate")).toInt();
    limits.keyintSecs = rec.value(QLatin1String("keyint")).toInt();
    limits.maxFps = rec.value(QLatin1String("max fps")).toInt();
    limits.profile = rec.value(QLatin1String("profile")).toString().toLower();
    for (const QJsonValue& res : rec.value(QLatin1String("supported resolutions")).toArray())
        if (const auto size = readSize(res.toString()))
            limits.resolutions << *size;
    for (const QJsonValue& row : rec.value(QLatin1String("bitrate matrix")).toArray()) {
        const QJsonObject r = row.toObject();
        const auto size = readSize(r.value(QLatin1String("res")).toString());
        const int fps = r.value(QLatin1String("fps")).toInt();
        const int kbps = r.value(QLatin1String("max bitrate")).toInt();
        if (size && fps > 0 && kbps > 0)
            limits.bitrateBySize << BitrateForSize{size->width, size->height, fps, kbps};
    }
    limits.videoCodecs =
        readCodecs(service.value(QLatin1String("supported video codecs")), limits.videoCodecs);
    limits.audioCodecs =
        readCodecs(service.value(QLatin1String("supported audio codecs")), limits.audioCodecs);
    return limits;
}

// Outputs other than the host's RTMP one (HLS, FTL) are not ours to drive.
bool sendsThroughRtmp(const QJsonObject& service) {
    const QString output = service.value(QLatin1String("recommended"))
                               .toObject()
                               .value(QLatin1String("output"))
                               .toString();
    return output.isEmpty() || output == QLatin1String("rtmp_output");
}

// Scheme and host in lower case, no trailing slash: the form two addresses are compared in.
QString comparable(const QString& address) {
    QUrl url(address.trimmed());
    if (!url.isValid())
        return address.trimmed();
    url.setScheme(url.scheme().toLower());
    url.setHost(url.host().toLower());
    QString text = url.toString();
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text;
}

int exactServer(const StreamingService& service, const QString& address) {
    const QString wanted = comparable(address);
    for (int i = 0; i < service.servers.size(); ++i)
        if (!wanted.isEmpty() && comparable(service.servers[i].url) == wanted)
            return i;
    return -1;
}

bool onHostOf(const StreamingService& service, const QString& address) {
    const QString host = QUrl(address.trimmed()).host().toLower();
    if (host.isEmpty())
        return false;
    for (const ServiceServer& server : service.servers)
        if (QUrl(server.url).host().toLower() == host)
            return true;
    return false;
}

} // namespace

int ServiceCatalog::serverCount() const {
    int count = 0;
    for (const StreamingService& service : services)
        count += static_cast<int>(service.servers.size());
    return count;
}

const StreamingService* ServiceCatalog::find(const QString& name) const {
    for (const StreamingService& service : services)
        if (service.name == name)
            return &service;
    for (const StreamingService& service : services)
        if (service.altNames.contains(name))
            return &service;
    return nullptr;
}

std::optional<ServiceCatalog> parseServiceCatalog(const QByteArray& json, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    const QJsonObject root = doc.object();
    if (parseError.error != QJsonParseError::NoError ||
        !root.value(QLatin1String("services")).isArray()) {
        if (error)
            *error = parseError.error != QJsonParseError::NoError
                         ? parseError.errorString()
                         : QStringLiteral("no services list");
        return std::nullopt;
    }
    ServiceCatalog catalog;
    catalog.formatVersion = root.value(QLatin1String("format_version")).toInt();
    for (const QJsonValue& value : root.value(QLatin1String("services")).toArray()) {
        const QJsonObject s = value.toObject();
        StreamingService service;
        service.name = s.value(QLatin1String("name")).toString();
        if (service.name.isEmpty() || !sendsThroughRtmp(s))
            continue;
        for (const QJsonValue& alt : s.value(QLatin1String("alt_names")).toArray())
            if (!alt.toString().isEmpty())
                service.altNames << alt.toString();
        service.common = s.value(QLatin1String("common")).toBool();
        // Opened in the browser at a click: a web page only, never a file or a program.
        const QUrl keyLink(s.value(QLatin1String("stream_key_link")).toString().trimmed());
        const QString linkScheme = keyLink.scheme().toLower();
        if (!keyLink.host().isEmpty() &&
            (linkScheme == QLatin1String("https") || linkScheme == QLatin1String("http")))
            service.streamKeyLink = keyLink.toString();
        for (const QJsonValue& server : s.value(QLatin1String("servers")).toArray()) {
            const QJsonObject o = server.toObject();
            const QString url = o.value(QLatin1String("url")).toString().trimmed();
            if (sendableServer(url))
                service.servers << ServiceServer{o.value(QLatin1String("name")).toString(), url};
        }
        if (service.servers.isEmpty())
            continue;
        service.limits = readLimits(s);
        catalog.services << service;
    }
    return catalog;
}

ServiceCatalog loadServiceCatalog(const QString& userCopyPath, const QString& installedPath) {
    const auto read = [](const QString& path) -> std::optional<ServiceCatalog> {
        QFile file(path);
        if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
            return std::nullopt;
        auto catalog = parseServiceCatalog(file.readAll());
        if (catalog)
            catalog->source = path;
        return catalog;
    };
    const auto installed = read(installedPath);
    if (const auto user = read(userCopyPath);
        user && (!installed || user->formatVersion == installed->formatVersion))
        return *user;
    return installed.value_or(ServiceCatalog{});
}

ServiceMatch findServiceForAddress(const ServiceCatalog& catalog, const QString& address,
                                   const QString& kept) {
    if (comparable(address).isEmpty())
        return {};
    if (const StreamingService* service = kept.isEmpty() ? nullptr : catalog.find(kept);
        service && (exactServer(*service, address) >= 0 || onHostOf(*service, address)))
        return {service, exactServer(*service, address)};
    for (const StreamingService& service : catalog.services)
        if (const int server = exactServer(service, address); server >= 0)
            return {&service, server};
    for (const StreamingService& service : catalog.services)
        if (onHostOf(service, address))
            return {&service, -1};
    return {};
}

int findServer(const StreamingService& service, const QString& nameOrUrl) {
    for (int i = 0; i < service.servers.size(); ++i)
        if (service.servers[i].name == nameOrUrl)
            return i;
    return exactServer(service, nameOrUrl);
}

bool belongsToService(const StreamingService& service, const QString& address) {
    return exactServer(service, address) >= 0 || onHostOf(service, address);
}

int preferredServer(const StreamingService& service) {
    for (int i = 0; i < service.servers.size(); ++i) {
        const QString name = service.servers[i].name.toLower();
        if (name.contains(QLatin1String("auto")) || name == QLatin1String("default"))
            return i;
    }
    return 0;
}

} // namespace relaycast
