#include "engine/encoding/rendition_plan.h"

#include <algorithm>

namespace relaycast {

RenditionKey renditionOf(const EntryConfig& entry, const SendChoice& choice, uint32_t pictureWidth,
                         uint32_t pictureHeight) {
    RenditionKey key = ownRendition(entry);
    if (choice.videoKbpsMax > 0 && choice.videoKbpsMax < key.videoKbps)
        key.videoKbps = choice.videoKbpsMax;
    const auto width = static_cast<uint32_t>(choice.ancho);
    const auto height = static_cast<uint32_t>(choice.alto);
    if (choice.ancho > 0 && choice.alto > 0 && (width != pictureWidth || height != pictureHeight)) {
        key.width = width;
        key.height = height;
    }
    return key;
}

RenditionKey ownRendition(const EntryConfig& entry) {
    RenditionKey key;
    key.encoder = entry.codificador;
    key.videoKbps = entry.videoKbps;
    return key;
}

QList<PlannedRendition> planRenditions(const EntryConfig& entry, uint32_t pictureWidth,
                                       uint32_t pictureHeight) {
    QList<PlannedRendition> plan;
    for (const DestConfig& destination : entry.destinos) {
        const RenditionKey key = renditionOf(entry, destination.envio, pictureWidth, pictureHeight);
        auto found = std::find_if(plan.begin(), plan.end(),
                                  [&](const PlannedRendition& r) { return r.key == key; });
        if (found == plan.end())
            plan.append({key, {destination.id}});
        else
            found->destinationIds.append(destination.id);
    }
    return plan;
}

QString renditionLabel(const RenditionKey& key) {
    const QString rate = key.videoKbps >= 1000
                             ? QStringLiteral("%1 Mbps").arg(key.videoKbps / 1000.0, 0, 'f', 1)
                             : QStringLiteral("%1 kbps").arg(key.videoKbps);
    if (!key.scaled())
        return rate;
    return QStringLiteral("%1x%2 %3").arg(key.width).arg(key.height).arg(rate);
}

} // namespace relaycast
