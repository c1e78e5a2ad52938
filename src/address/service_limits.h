#pragma once

// Whether what an entry sends to a destination fits the limits of the destination's service,
// and what a rendition of its own would make it fit: the editor shows it, the start refuses
// what cannot be met. Plain code; any thread.

#include "address/service_catalog.h"

#include <QString>
#include <QStringList>

#include <cstdint>

namespace relaycast {

// What the destination is sent, as far as the service cares.
struct SentStream {
    uint32_t width = 0; // of its rendition
    uint32_t height = 0;
    int32_t fps = 0;
    int32_t videoKbps = 0;
    QString videoCodec; // "h264", "hevc", "av1"
    // 0: the encoder's own choice, several seconds for most; -1: not ours to check (OBS's own
    // encoder, run as OBS's settings say).
    int32_t keyintSecs = 0;
    QString profile;    // empty: the encoder's own
    QString audioCodec; // "aac", "opus"
    int32_t audioKbps = 0;
};

struct ServiceFit {
    // A bitrate cap that brings the destination within the service's, 0 when it is within.
    int32_t capKbps = 0;
    // A size of its own the service takes, when the one sent is not among its sizes.
    PictureSize size;
    // What no rendition can mend: the start refuses with these texts.
    QStringList refusals;
    // What the service recommends and the stream does not follow, shown but not refused.
    QStringList notes;

    bool fits() const { return capKbps == 0 && size.width == 0 && refusals.isEmpty(); }
};

// The service's bitrate cap for a picture of that size and frame rate: its table's row for that
// size at the lowest frame rate not below `fps` when it has one, else its overall cap; 0 for
// none.
int32_t serviceCapKbps(const ServiceLimits& limits, uint32_t width, uint32_t height, int32_t fps);

ServiceFit fitToService(const StreamingService& service, const SentStream& sent);

} // namespace relaycast
