#include "address/destination_mapping.h"

#include "module/ui_text.h"

namespace relaycast {

DestinationMapping mapDestination(const QString& url, const QString& key,
                                  const QString& passphrase) {
    DestinationMapping mapping;
    mapping.kind = classifyAddress(url);
    if (mapping.kind == AddressKind::Invalid) {
        mapping.error = uiText("La dirección debe empezar por rtmp://, rtmps:// o srt://.");
        return mapping;
    }
    // Both kinds go through the custom RTMP service; the SRT output reads the same settings.
    mapping.outputType = mapping.kind == AddressKind::RTMP ? QStringLiteral("rtmp_output")
                                                           : QStringLiteral("ffmpeg_mpegts_muxer");
    mapping.serviceType = QStringLiteral("rtmp_custom");
    mapping.server = url.trimmed();
    mapping.key = key;
    if (mapping.kind == AddressKind::SRT && !passphrase.isEmpty()) {
        mapping.useAuth = true;
        mapping.password = passphrase;
    }
    return mapping;
}

} // namespace relaycast
