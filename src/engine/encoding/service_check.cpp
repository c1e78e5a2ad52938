#include "engine/encoding/service_check.h"

#include "address/host_services.h"
#include "engine/encoding/rendition_plan.h"
#include "engine/picture/entry_pipeline.h"

#include <obs.h>

#include <QJsonDocument>
#include <QJsonObject>

namespace relaycast {
namespace {

QString audioCodecOf(const QString& chosen) {
    const QString name = chosen.trimmed().toLower();
    if (name.isEmpty() || name.contains(QLatin1String("aac")))
        return QStringLiteral("aac");
    if (name.contains(QLatin1String("opus")))
        return QStringLiteral("opus");
    return name;
}

} // namespace

SentStream sentStreamOf(const EntryConfig& entry, const SendChoice& choice, uint32_t pictureWidth,
                        uint32_t pictureHeight, int32_t fps, const QString& videoCodec) {
    const RenditionKey key = renditionOf(entry, choice, pictureWidth, pictureHeight);
    SentStream sent;
    sent.width = key.scaled() ? key.width : pictureWidth;
    sent.height = key.scaled() ? key.height : pictureHeight;
    sent.fps = fps;
    sent.videoKbps = key.videoKbps;
    sent.videoCodec = videoCodec;
    sent.audioCodec = audioCodecOf(entry.codificadorAudio);
    sent.audioKbps = entry.audioKbps;
    if (entry.codificadorDeObs) {
        // OBS's own encoders run as OBS's settings say: nothing of ours to check.
        sent.keyintSecs = -1;
        sent.profile.clear();
        return sent;
    }
    const QJsonObject advanced =
        QJsonDocument::fromJson(entry.ajustesCodificador.toUtf8()).object();
    // Without settings of its own the entry's encoder sends a keyframe every 2 s.
    sent.keyintSecs = entry.ajustesCodificador.trimmed().isEmpty()
                          ? 2
                          : advanced.value(QLatin1String("keyint_sec")).toInt();
    sent.profile = advanced.value(QLatin1String("profile")).toString().toLower();
    return sent;
}

SentStream hostSentStreamOf(const EntryConfig& entry, const SendChoice& choice) {
    const auto [width, height] = pictureSizeOf(entry);
    obs_video_info ovi{};
    int32_t fps = 0;
    if (obs_get_video_info(&ovi) && ovi.fps_den > 0)
        fps = static_cast<int32_t>((ovi.fps_num + ovi.fps_den - 1) / ovi.fps_den);
    const QByteArray id = entry.codificador.toUtf8();
    const char* codec = obs_get_encoder_codec(id.constData());
    return sentStreamOf(entry, choice, width, height, fps,
                        codec ? QString::fromUtf8(codec).toLower() : QString());
}

std::optional<ServiceFit> hostServiceFit(const EntryConfig& entry, const DestConfig& dest) {
    if (dest.servicio.isEmpty())
        return std::nullopt;
    const ServiceCatalog catalog = hostServices();
    const StreamingService* service = catalog.find(dest.servicio);
    if (!service)
        return std::nullopt;
    return fitToService(*service, hostSentStreamOf(entry, dest.envio));
}

QString serviceRefusal(const EntryConfig& entry, const DestConfig& dest) {
    const auto fit = hostServiceFit(entry, dest);
    return fit ? fit->refusals.join(QLatin1Char('\n')) : QString();
}

} // namespace relaycast
