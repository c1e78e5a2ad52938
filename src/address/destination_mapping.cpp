#include "address/destination_mapping.h"

#include "address/rist_address.h"
#include "module/ui_text.h"

namespace relaycast {

DestinationMapping mapDestination(const QString& url, const QString& key,
                                  const QString& passphrase) {
    DestinationMapping mapping;
    mapping.kind = classifyAddress(url);
    if (mapping.kind == AddressKind::Invalid) {
        mapping.error =
            uiText("La dirección debe empezar por rtmp://, rtmps://, srt:// o rist://.");
        return mapping;
    }
    // Settings saved by an older version may hold an address the editor refuses now: an SRT one
    // without a port, a RIST one the host's sender would misread, with the secret inside.
    if (mapping.kind == AddressKind::SRT)
        mapping.error = srtAddressProblem(url.trimmed());
    else if (mapping.kind == AddressKind::RIST)
        mapping.error = ristAddressProblem(url.trimmed(), key);
    if (!mapping.error.isEmpty()) {
        mapping.kind = AddressKind::Invalid;
        return mapping;
    }
    // Every kind goes through the custom RTMP service; the MPEG-TS output (SRT and RIST) reads
    // the same settings: the key is SRT's stream ID or RIST's encryption secret (which the host
    // encrypts with only from the address), the service's password SRT's passphrase.
    mapping.outputType = mapping.kind == AddressKind::RTMP ? QStringLiteral("rtmp_output")
                                                           : QStringLiteral("ffmpeg_mpegts_muxer");
    mapping.serviceType = QStringLiteral("rtmp_custom");
    mapping.server =
        mapping.kind == AddressKind::RIST ? hostRistAddress(url.trimmed(), key) : url.trimmed();
    mapping.key = key;
    if (mapping.kind == AddressKind::SRT && !passphrase.isEmpty()) {
        mapping.useAuth = true;
        mapping.password = passphrase;
    }
    return mapping;
}

} // namespace relaycast
