#include "engine/encoding/service_check.h"

#include "address/host_services.h"
#include "engine/encoding/encoder_settings.h"
#include "engine/encoding/obs_stream_encoders.h"
#include "engine/encoding/rendition_plan.h"
#include "engine/entry/entry_edit.h"
#include "engine/picture/entry_pipeline.h"

#include <obs.h>

namespace relaycast {
namespace {

QString codecOf(obs_encoder_t* encoder) {
    return encoder ? QString::fromUtf8(obs_encoder_get_codec(encoder)).toLower() : QString();
}

SendingEncoders obsEncoders(const ObsVideoEncoderFacts& obs) {
    return {obs.videoCodec, obs.kbps, -1, QString(), obs.audioCodec, obs.audioKbps};
}

// The entry's own encoder as its settings make it: the encoder's defaults under the saved ones.
SendingEncoders ownEncoders(const EntryConfig& entry) {
    SendingEncoders own;
    const QByteArray id = entry.codificador.toUtf8();
    const char* codec = obs_get_encoder_codec(id.constData());
    own.videoCodec = codec ? QString::fromUtf8(codec).toLower() : QString();
    own.videoKbps = entry.videoKbps;
    OBSDataAutoRelease settings =
        buildVideoEncoderSettings(entry.codificador, entry.videoKbps, entry.ajustesCodificador);
    own.keyintSecs = static_cast<int32_t>(obs_data_get_int(settings, "keyint_sec"));
    own.profile = QString::fromUtf8(obs_data_get_string(settings, "profile")).toLower();
    own.audioCodec = audioCodecName(entry.codificadorAudio);
    own.audioKbps = entry.audioKbps;
    return own;
}

} // namespace

SentStream sentStreamOf(const EntryConfig& entry, const SendChoice& choice, uint32_t pictureWidth,
                        uint32_t pictureHeight, int32_t fps, const SendingEncoders& encoders) {
    EntryConfig running = entry;
    running.videoKbps = encoders.videoKbps;
    const RenditionKey key = renditionOf(running, choice, pictureWidth, pictureHeight);
    SentStream sent;
    sent.width = key.scaled() ? key.width : pictureWidth;
    sent.height = key.scaled() ? key.height : pictureHeight;
    sent.fps = fps;
    sent.videoKbps = key.videoKbps;
    sent.videoCodec = encoders.videoCodec;
    sent.keyintSecs = encoders.keyintSecs;
    sent.profile = encoders.profile;
    sent.audioCodec = encoders.audioCodec;
    sent.audioKbps = encoders.audioKbps;
    return sent;
}

SendingEncoders hostSendingEncoders(const EntryConfig& entry, const EntryPipeline* running) {
    if (running && running->videoEncoder) {
        if (!running->borrowsObsEncoders)
            return ownEncoders(entry);
        ObsVideoEncoderFacts lent;
        lent.videoCodec = codecOf(running->videoEncoder);
        lent.kbps = encoderBitrateKbps(running->videoEncoder);
        lent.audioCodec = codecOf(running->obsAudioEncoder);
        lent.audioKbps = running->obsAudioEncoder ? encoderBitrateKbps(running->obsAudioEncoder)
                                                  : entry.audioKbps;
        return obsEncoders(lent);
    }
    const ObsStreamEncoderState obs = obsStreamEncoderState();
    if (obs.video && sharesObsStreamEncoders(entry, obs.facts))
        return obsEncoders(obs.facts);
    return ownEncoders(entry);
}

SentStream hostSentStreamOf(const EntryConfig& entry, const SendChoice& choice,
                            const EntryPipeline* running) {
    const auto [width, height] = pictureSizeOf(entry);
    obs_video_info ovi{};
    int32_t fps = 0;
    if (obs_get_video_info(&ovi) && ovi.fps_den > 0)
        fps = static_cast<int32_t>((ovi.fps_num + ovi.fps_den - 1) / ovi.fps_den);
    return sentStreamOf(entry, choice, width, height, fps, hostSendingEncoders(entry, running));
}

std::optional<ServiceFit> hostServiceFit(const EntryConfig& entry, const DestConfig& dest,
                                         const EntryPipeline* running) {
    if (dest.servicio.isEmpty())
        return std::nullopt;
    const ServiceCatalog catalog = hostServices();
    const StreamingService* service = catalog.find(dest.servicio);
    if (!service)
        return std::nullopt;
    return fitToService(*service, hostSentStreamOf(entry, dest.envio, running));
}

QString serviceRefusal(const EntryConfig& entry, const DestConfig& dest,
                       const EntryPipeline* running) {
    const auto fit = hostServiceFit(entry, dest, running);
    return fit ? fit->refusals.join(QLatin1Char('\n')) : QString();
}

} // namespace relaycast
