#include "address/service_limits.h"

#include "module/ui_text.h"

#include <cstdlib>

namespace relaycast {
namespace {

bool sameShape(const PictureSize& a, uint32_t width, uint32_t height) {
    // Services list 852x480 beside 1280x720: a few pixels of rounding are the same shape.
    const double ratio = double(a.width) * height / (double(width) * a.height);
    return std::abs(ratio - 1.0) < 0.02;
}

QString sizesText(const QList<PictureSize>& sizes) {
    QStringList names;
    for (const PictureSize& size : sizes)
        names << QStringLiteral("%1x%2").arg(size.width).arg(size.height);
    return names.join(QStringLiteral(", "));
}

QString codecName(const QString& codec) {
    if (codec == QLatin1String("h264"))
        return QStringLiteral("H.264");
    if (codec == QLatin1String("hevc"))
        return QStringLiteral("HEVC");
    return codec.toUpper();
}

QString codecList(const QStringList& codecs) {
    QStringList names;
    for (const QString& codec : codecs)
        names << codecName(codec);
    return names.join(QStringLiteral(", "));
}

// The largest size the service takes of the picture's shape and no larger than it.
PictureSize takenSize(const QList<PictureSize>& sizes, uint32_t width, uint32_t height) {
    PictureSize best;
    for (const PictureSize& size : sizes)
        if (size.width <= width && size.height <= height && sameShape(size, width, height) &&
            size.width > best.width)
            best = size;
    return best;
}

} // namespace

int32_t serviceCapKbps(const ServiceLimits& limits, uint32_t width, uint32_t height, int32_t fps) {
    const BitrateForSize* row = nullptr;
    for (const BitrateForSize& r : limits.bitrateBySize)
        if (r.width == width && r.height == height && r.fps >= fps && (!row || r.fps < row->fps))
            row = &r;
    return row ? row->maxKbps : limits.maxVideoKbps;
}

ServiceFit fitToService(const StreamingService& service, const SentStream& sent) {
    const ServiceLimits& limits = service.limits;
    ServiceFit fit;
    if (!sent.videoCodec.isEmpty() && !limits.videoCodecs.contains(sent.videoCodec))
        fit.refusals << uiText("%1 no acepta vídeo %2; acepta %3.")
                            .arg(service.name, codecName(sent.videoCodec),
                                 codecList(limits.videoCodecs));
    if (!sent.audioCodec.isEmpty() && !limits.audioCodecs.contains(sent.audioCodec))
        fit.refusals << uiText("%1 no acepta audio %2; acepta %3.")
                            .arg(service.name, codecName(sent.audioCodec),
                                 codecList(limits.audioCodecs));
    if (limits.keyintSecs > 0 && sent.keyintSecs >= 0 &&
        (sent.keyintSecs == 0 || sent.keyintSecs > limits.keyintSecs))
        fit.refusals << uiText("%1 pide un fotograma clave cada %2 s como máximo: pon ese "
                               "intervalo de fotogramas clave en los ajustes del codificador.")
                            .arg(service.name, QString::number(limits.keyintSecs));
    if (limits.maxFps > 0 && sent.fps > limits.maxFps)
        fit.refusals << uiText("%1 acepta como máximo %2 fotogramas por segundo y OBS produce %3.")
                            .arg(service.name, QString::number(limits.maxFps),
                                 QString::number(sent.fps));

    uint32_t width = sent.width;
    uint32_t height = sent.height;
    if (!limits.resolutions.isEmpty() && width > 0 &&
        !limits.resolutions.contains(PictureSize{width, height})) {
        const PictureSize taken = takenSize(limits.resolutions, width, height);
        if (taken.width == 0) {
            fit.refusals << uiText("%1 solo acepta estos tamaños: %2.")
                                .arg(service.name, sizesText(limits.resolutions));
        } else {
            fit.size = taken;
            width = taken.width;
            height = taken.height;
        }
    }
    const int32_t cap = serviceCapKbps(limits, width, height, sent.fps);
    if (cap > 0 && sent.videoKbps > cap)
        fit.capKbps = cap;

    // OBS's own encoder runs with OBS's settings, whose profile is not ours to read.
    if (!limits.profile.isEmpty() && sent.keyintSecs >= 0 && sent.profile != limits.profile)
        fit.notes
            << uiText("%1 recomienda el perfil %2 del códec.").arg(service.name, limits.profile);
    if (limits.maxAudioKbps > 0 && sent.audioKbps > limits.maxAudioKbps)
        fit.notes << uiText("%1 recomienda como máximo %2 kbps de audio; esta entrada envía %3.")
                         .arg(service.name, QString::number(limits.maxAudioKbps),
                              QString::number(sent.audioKbps));
    return fit;
}

} // namespace relaycast
