#include "engine/encoding/service_check.h"

#include "address/host_services.h"
#include "engine/encoding/encoder_settings.h"
#include "engine/encoding/obs_stream_encoders.h"
#include "engine/encoding/rendition_plan.h"
#include "engine/encoding/video_renditions.h"
#include "engine/entry/entry_edit.h"
#include "engine/picture/entry_pipeline.h"

#include <obs.h>

namespace relaycast {
namespace {

SendingEncoders obsEncoders(const ObsVideoEncoderFacts& obs) {
    return {obs.type, obs.videoCodec, obs.kbps, -1, QString(), obs.audioCodec, obs.audioKbps};
}

// Keyframes and profile of an encoder of ours of `type`, as the entry's settings make it: the
// encoder's defaults under the saved ones.
void readOwnKeyframes(const EntryConfig& entry, const QString& type, SendingEncoders* encoders) {
    OBSDataAutoRelease settings =
        buildVideoEncoderSettings(type, encoders->videoKbps, entry.ajustesCodificador);
    encoders->keyintSecs = static_cast<int32_t>(obs_data_get_int(settings, "keyint_sec"));
    encoders->profile = QString::fromUtf8(obs_data_get_string(settings, "profile")).toLower();
}

SendingEncoders ownEncoders(const EntryConfig& entry) {
    SendingEncoders own;
    own.encoderType = entry.codificador;
    const QByteArray id = entry.codificador.toUtf8();
    const char* codec = obs_get_encoder_codec(id.constData());
    own.videoCodec = codec ? QString::fromUtf8(codec).toLower() : QString();
    own.videoKbps = entry.videoKbps;
    readOwnKeyframes(entry, entry.codificador, &own);
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
        ObsVideoEncoderFacts lent =
            obsEncoderFacts(running->videoEncoder, running->obsAudioEncoder);
        if (!running->obsAudioEncoder)
            lent.audioKbps = entry.audioKbps;
        return obsEncoders(lent);
    }
    // A start borrows OBS's encoders only for OBS's program at OBS's size (see openPipeline).
    obs_video_info video{};
    if (!obs_get_video_info(&video) || !sendsObsProgram(entry, video))
        return ownEncoders(entry);
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
    SendingEncoders encoders = hostSendingEncoders(entry, running);
    if (encoders.keyintSecs < 0) {
        // A destination capped below OBS's bitrate, or at a size of its own, gets a rendition
        // of ours on OBS's encoder type, with the entry's settings.
        EntryConfig asRunning = entry;
        asRunning.codificador = encoders.encoderType;
        asRunning.videoKbps = encoders.videoKbps;
        if (!(sentRendition(asRunning, choice, width, height) == RenditionKey{}))
            readOwnKeyframes(entry, encoders.encoderType, &encoders);
    }
    return sentStreamOf(entry, choice, width, height, fps, encoders);
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
