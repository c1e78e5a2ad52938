#pragma once

// How the interface words what a destination takes of its entry's encode: the sizes the editor
// offers, the card's short line and the editor's list of encodes.

#include "config/config_model.h"

#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>

namespace relaycast {

// A size a destination may take of its own, by its usual name.
struct OwnSizePreset {
    const char* name; // "720p": the same in every language
    int32_t width;
    int32_t height;
};

// The sizes the destination row offers besides the entry's own, largest first.
const QList<OwnSizePreset>& ownSizePresets();

// "720p" for a preset size, else "1600x900".
QString ownSizeName(int32_t width, int32_t height);

// What `destination` gets that differs from `entry`'s own encode whose picture is
// `pictureWidth` by `pictureHeight`: "720p · 3.5 Mbps · 30 s de retraso · Pista 2", each part
// only when it applies; empty when it takes the entry's own encode, audio and timing.
QString sendChoiceSummary(const EntryConfig& entry, const DestConfig& destination,
                          uint32_t pictureWidth, uint32_t pictureHeight);

// "2 codificaciones: 1280x720 3.5 Mbps para a.example, 6.0 Mbps para b.example y c.example",
// the destinations named by `names` (by destination id). Empty when the entry runs one encode
// and no destination asks anything of its own: then there is nothing to tell.
QString encodesSummary(const EntryConfig& entry, const QHash<QString, QString>& names,
                       uint32_t pictureWidth, uint32_t pictureHeight);

} // namespace relaycast
