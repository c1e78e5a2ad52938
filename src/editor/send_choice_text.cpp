#include "editor/send_choice_text.h"

#include "engine/encoding/rendition_plan.h"
#include "module/ui_text.h"

#include <QStringList>

#include <algorithm>

namespace relaycast {

namespace {

// "a", "a y b", "a, b y c".
QString joinedNames(QStringList names) {
    if (names.size() < 2)
        return names.value(0);
    const QString last = names.takeLast();
    return uiText("%1 y %2").arg(names.join(QStringLiteral(", ")), last);
}

} // namespace

const QList<OwnSizePreset>& ownSizePresets() {
    static const QList<OwnSizePreset> presets{
        {"1080p", 1920, 1080},
        {"720p", 1280, 720},
        {"480p", 854, 480},
        {"360p", 640, 360},
    };
    return presets;
}

QString ownSizeName(int32_t width, int32_t height) {
    for (const OwnSizePreset& preset : ownSizePresets()) {
        if (preset.width == width && preset.height == height)
            return QString::fromLatin1(preset.name);
    }
    return QStringLiteral("%1x%2").arg(width).arg(height);
}

QString sendChoiceSummary(const EntryConfig& entry, const DestConfig& destination,
                          uint32_t pictureWidth, uint32_t pictureHeight) {
    const SendChoice& choice = destination.envio;
    const RenditionKey key = renditionOf(entry, choice, pictureWidth, pictureHeight);
    QStringList parts;
    if (key.scaled())
        parts.append(
            ownSizeName(static_cast<int32_t>(key.width), static_cast<int32_t>(key.height)));
    if (key.videoKbps != ownRendition(entry).videoKbps) {
        RenditionKey rate;
        rate.videoKbps = key.videoKbps;
        parts.append(renditionLabel(rate));
    }
    if (choice.retrasoSegs > 0)
        parts.append(uiText("%1 s de retraso").arg(choice.retrasoSegs));
    if (choice.pistaAudio > 0)
        parts.append(uiText("Pista %1").arg(choice.pistaAudio));
    return parts.join(QStringLiteral(" · "));
}

QString encodesSummary(const EntryConfig& entry, const QHash<QString, QString>& names,
                       uint32_t pictureWidth, uint32_t pictureHeight) {
    const QList<PlannedRendition> plan = planRenditions(entry, pictureWidth, pictureHeight);
    const bool anyChoice = std::any_of(entry.destinos.cbegin(), entry.destinos.cend(),
                                       [](const DestConfig& d) { return !d.envio.isDefault(); });
    if (plan.isEmpty() || (plan.size() == 1 && !anyChoice))
        return {};
    QStringList encodes;
    for (const PlannedRendition& rendition : plan) {
        QStringList whom;
        for (const QString& id : rendition.destinationIds)
            whom.append(names.value(id));
        encodes.append(uiText("%1 para %2").arg(renditionLabel(rendition.key), joinedNames(whom)));
    }
    const QString list = encodes.join(QStringLiteral(", "));
    if (plan.size() == 1)
        return uiText("1 codificación: %1").arg(list);
    return uiText("%1 codificaciones: %2").arg(QString::number(plan.size()), list);
}

} // namespace relaycast
