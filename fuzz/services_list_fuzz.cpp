// The services list on arbitrary text (the user's copy in OBS's configuration folder is a file
// anyone may edit): reading never fails on it, every server kept is one we can send to and is
// found again by its address, and fitting a stream to any service it lists holds its promises.

#include "address/service_catalog.h"
#include "address/service_limits.h"

#include "fuzz_support.h"

#include <QUrl>

#include <cstddef>
#include <cstdint>

using namespace relaycast;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const auto catalog = parseServiceCatalog(text);
    if (!catalog)
        return 0;
    const SentStream sent{
        1920, 1080, 60, 8000, QStringLiteral("h264"), 2, QString(), QStringLiteral("aac"), 160};
    for (const StreamingService& service : catalog->services) {
        FUZZ_CHECK(!service.servers.isEmpty());
        FUZZ_CHECK(catalog->find(service.name) != nullptr);
        for (const ServiceServer& server : service.servers) {
            const QString scheme = QUrl(server.url).scheme().toLower();
            FUZZ_CHECK(scheme == QLatin1String("rtmp") || scheme == QLatin1String("rtmps") ||
                       scheme == QLatin1String("srt") || scheme == QLatin1String("rist"));
            FUZZ_CHECK(findServiceForAddress(*catalog, server.url).service != nullptr);
        }
        FUZZ_CHECK(preferredServer(service) < service.servers.size());
        const ServiceFit fit = fitToService(service, sent);
        // A cap is only ever a lowering, and a size only one the service lists.
        FUZZ_CHECK(fit.capKbps == 0 || (fit.capKbps > 0 && fit.capKbps < sent.videoKbps));
        FUZZ_CHECK(fit.size.width == 0 || service.limits.resolutions.contains(fit.size));
    }
    return 0;
}
