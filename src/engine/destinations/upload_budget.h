#pragma once

// What the live destinations take of the computer's upload together, and what the upload has
// been seen to carry when it could not take more. Plain code; the controller's heartbeat feeds
// it, the dock, the starts and remote control read it.

#include "address/address.h"

#include <QList>

#include <cstdint>

namespace relaycast {

// Kbit/s a destination sending `videoKbps` of video and `audioKbps` of audio to an address of
// `kind` takes of the upload: the streams plus their container and transport (RTMP's chunks
// over TCP, a few percent; MPEG-TS over SRT or RIST, its packet headers, UDP and the
// retransmissions a healthy path asks for, about a tenth).
int32_t uploadKbps(int32_t videoKbps, int32_t audioKbps, AddressKind kind);

// One live destination, as one heartbeat found it.
struct UploadUse {
    int32_t neededKbps = 0;    // uploadKbps of what it is sent
    int32_t receivedKbps = -1; // what reached its server lately; -1 unknown
    int32_t sentKbps = -1;     // what the host handed on lately; -1 unknown
    bool congested = false;
};

class UploadBudget {
public:
    // One heartbeat's live destinations, of every entry.
    void sample(const QList<UploadUse>& live);

    // What the live destinations need together.
    int32_t neededKbps() const { return neededKbps_; }
    // The most the upload carried while a path of ours was congested: every destination's
    // rate added up, at a moment one of them could not send more. -1 until that happened.
    int32_t carriedKbps() const { return carriedKbps_; }
    // Whether adding `moreKbps` to what is live needs more than the upload was seen to carry.
    bool exceededWith(int64_t moreKbps) const;

private:
    int32_t neededKbps_ = 0;
    int32_t carriedKbps_ = -1;
};

} // namespace relaycast
