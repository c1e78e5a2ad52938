#pragma once

// Which encodes an entry runs: destinations that ask the same of the picture share one video
// encoder, so N destinations on K distinct renditions run exactly K. Plain code, no host calls;
// the pipeline opens what this names (see VideoRenditions).

#include "config/config_model.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace relaycast {

// One encode of an entry's picture: everything that makes its packets differ.
struct RenditionKey {
    QString encoder;       // host encoder type
    int32_t videoKbps = 0; // what it is encoded at
    uint32_t width = 0;    // the size it is scaled to; 0 with height 0: the picture's own
    uint32_t height = 0;

    bool scaled() const { return width != 0; }
    friend bool operator==(const RenditionKey&, const RenditionKey&) = default;
};

// The encode `choice` asks of `entry` whose picture is `pictureWidth` by `pictureHeight`: the
// entry's bitrate or the cap when lower, a size of its own only when it differs from the
// picture's.
RenditionKey renditionOf(const EntryConfig& entry, const SendChoice& choice, uint32_t pictureWidth,
                         uint32_t pictureHeight);

// The entry's own encode (what a destination without choices gets).
RenditionKey ownRendition(const EntryConfig& entry);

struct PlannedRendition {
    RenditionKey key;
    QStringList destinationIds; // in the entry's order
};

// The renditions the entry's destinations need, in the order their first destination comes.
QList<PlannedRendition> planRenditions(const EntryConfig& entry, uint32_t pictureWidth,
                                       uint32_t pictureHeight);

// A short label: "1280x720 3.5 Mbps", "900 kbps" (no size when it is the picture's).
QString renditionLabel(const RenditionKey& key);

} // namespace relaycast
