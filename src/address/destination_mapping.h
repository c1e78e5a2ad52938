#pragma once

#include "address/address.h"

#include <QString>

namespace relaycast {

// What the host is given for one destination: the output and service types and the service
// settings. Plain data, so the rule is testable without the host.
struct DestinationMapping {
    AddressKind kind = AddressKind::Invalid;
    QString outputType;   // "rtmp_output" or "ffmpeg_mpegts_muxer" (SRT, RIST); empty for Invalid
    QString serviceType;  // "rtmp_custom"; empty for Invalid
    QString server;       // the address trimmed (RIST: as hostRistAddress makes it)
    QString key;          // the key (SRT stream ID, RIST secret) as stored
    bool useAuth = false; // SRT with a passphrase only
    QString password;
    QString error; // Invalid only: why the start is refused, already through uiText
};

DestinationMapping mapDestination(const QString& url, const QString& key,
                                  const QString& passphrase);

} // namespace relaycast
