#include "engine/destinations/destination_host.h"

#include "address/destination_mapping.h"
#include "engine/destinations/destination_output.h"
#include "engine/destinations/host_output_port.h"
#include "engine/encoding/encoder_settings.h"
#include "engine/encoding/video_renditions.h"
#include "engine/picture/entry_pipeline.h"
#include "module/srt_guard.h"
#include "module/ui_text.h"

#include <memory>

namespace relaycast {
namespace {

bool refuse(DestinationOutput& d, const QString& message, QString* out) {
    d.fail(message);
    if (out)
        *out = message;
    return false;
}

OBSServiceAutoRelease createService(const DestinationMapping& mapping) {
    OBSDataAutoRelease settings = obs_data_create();
    obs_data_set_string(settings, "server", mapping.server.toUtf8().constData());
    obs_data_set_string(settings, "key", mapping.key.toUtf8().constData());
    if (mapping.useAuth) {
        obs_data_set_bool(settings, "use_auth", true);
        obs_data_set_string(settings, "password", mapping.password.toUtf8().constData());
    }
    return obs_service_create(mapping.serviceType.toUtf8().constData(), "relaycast-servicio",
                              settings, nullptr);
}

// The audio settings this destination needs: the encoder type's defaults with the entry's
// bitrate, as the destination's service adjusts them (bitrate limits, stream framing). The
// video settings the service is given are a throw-away copy: the video encoder is shared by
// every destination of the entry and no single service may change it.
OBSDataAutoRelease audioSettingsFor(const QString& encoderId, int32_t audioKbps,
                                    obs_service_t* service) {
    OBSDataAutoRelease settings = obs_encoder_defaults(encoderId.toUtf8().constData());
    if (!settings)
        settings = obs_data_create();
    obs_data_set_int(settings, "bitrate", audioKbps);
    OBSDataAutoRelease videoSettings = obs_data_create();
    obs_service_apply_encoder_settings(service, videoSettings, settings);
    return settings;
}

// The destination's share of an audio encoder of the pipeline: siblings whose settings and
// audio (the entry's own track, or OBS's track `track`) are the same send the packets of one
// encoder. Null with the destination failed when there is none.
SharedAudioEncoder acquireAudioEncoder(DestinationOutput& d, EntryPipeline& pipeline,
                                       const QString& encoderId, obs_data_t* settings,
                                       int32_t track, QString* out) {
    // The entry's mix of an input sharing OBS's encoders is OBS's stream audio.
    if (track == 0 && pipeline.obsAudioEncoder)
        return SharedAudioEncoder(obs_encoder_get_ref(pipeline.obsAudioEncoder),
                                  obs_encoder_release);
    SharedAudioEncoder encoder =
        track > 0 ? pipeline.audioEncoders.acquire(encoderId, settings, obs_get_audio(),
                                                   static_cast<size_t>(track - 1))
                  : pipeline.audioEncoders.acquire(encoderId, settings,
                                                   pipeline.audioTrack.audioOutput());
    if (!encoder)
        refuse(d, uiText("No se pudo crear el codificador de audio."), out);
    return encoder;
}

// The destination's video encoder: the entry's own, or the rendition its choice asks for.
bool takeVideoRendition(DestinationOutput& d, EntryPipeline& pipeline, const EntryConfig& entry,
                        const SendChoice& choice, HostOutputPort& port, QString* out) {
    QString message;
    VideoEncoderShare video = acquireVideoRendition(pipeline, entry, choice, &message);
    if (!video.encoder)
        return refuse(d, message, out);
    port.videoEncoder = std::move(video.share);
    obs_output_set_video_encoder(port.output, video.encoder);
    return true;
}

bool refuseUnknownAudioCodec(DestinationOutput& d, const QString& audioCodec, QString* out) {
    return refuse(d,
                  uiText("El codificador de audio «%1» no existe en este OBS. Elige «aac» u "
                         "«opus».")
                      .arg(audioCodec.trimmed()),
                  out);
}

} // namespace

bool openDestinationOutput(DestinationOutput& d, EntryPipeline& pipeline, const EntryConfig& entry,
                           const SendChoice& choice, QString* out) {
    const int32_t audioKbps = entry.audioKbps;
    const QString& audioCodec = entry.codificadorAudio;
    const DestinationMapping mapping = mapDestination(d.url, d.key, d.passphrase);
    if (mapping.kind == AddressKind::Invalid)
        return refuse(d, mapping.error, out);
    // Held for the rest of the module's life, so this stream ending cannot cut another one.
    if (mapping.kind == AddressKind::SRT)
        holdSrtReferences();

    // Until it is installed, the port releases whatever was built if a later step fails.
    auto port = std::make_unique<HostOutputPort>();
    port->service = createService(mapping);
    if (!port->service)
        return refuse(
            d, uiText("No se pudo preparar el destino (falta el módulo de servicios de OBS)."),
            out);

    port->output = obs_output_create(mapping.outputType.toUtf8().constData(), "relaycast-salida",
                                     nullptr, nullptr);
    if (!port->output)
        return refuse(d,
                      uiText("Esta versión de OBS no incluye la salida para %1.")
                          .arg(addressKindName(mapping.kind)),
                      out);

    const QString audioEncoderId = resolveAudioEncoderId(audioCodec);
    if (audioEncoderId.isEmpty())
        return refuseUnknownAudioCodec(d, audioCodec, out);
    OBSDataAutoRelease audioSettings = audioSettingsFor(audioEncoderId, audioKbps, port->service);
    port->audioEncoder =
        acquireAudioEncoder(d, pipeline, audioEncoderId, audioSettings, choice.pistaAudio, out);
    if (!port->audioEncoder || !takeVideoRendition(d, pipeline, entry, choice, *port, out))
        return false;

    obs_output_set_audio_encoder(port->output, port->audioEncoder.get(), 0);
    obs_output_set_service(port->output, port->service);
    // The host holds the packets back itself; kept when it reconnects the output, and set again
    // on every start the engine makes.
    if (choice.retrasoSegs > 0)
        obs_output_set_delay(port->output, static_cast<uint32_t>(choice.retrasoSegs),
                             OBS_OUTPUT_DELAY_PRESERVE);
    // No reconnection by the host: its delays grow with every try, so the engine reconnects on
    // its own fixed schedule (see kOutageAttemptLimit).
    obs_output_set_reconnect_settings(port->output, 0, 0);

    port->followConnection(mapping.server, d);
    port->connectSignals(d);
    d.port = std::move(port);
    return true;
}

bool openRecordingOutput(DestinationOutput& d, EntryPipeline& pipeline, const EntryConfig& entry,
                         const SendChoice& choice, QString* out) {
    const int32_t audioKbps = entry.audioKbps;
    const QString& audioCodec = entry.codificadorAudio;
    const QString audioEncoderId = resolveAudioEncoderId(audioCodec);
    if (audioEncoderId.isEmpty())
        return refuseUnknownAudioCodec(d, audioCodec, out);
    if (d.file.endsWith(QLatin1String(".flv"), Qt::CaseInsensitive) &&
        !audioEncoderId.contains(QLatin1String("aac"), Qt::CaseInsensitive))
        return refuse(d, uiText("FLV solo admite audio AAC: graba en MKV o elige «aac»."), out);

    auto port = std::make_unique<HostOutputPort>();
    OBSDataAutoRelease settings = obs_data_create();
    obs_data_set_string(settings, "path", d.file.toUtf8().constData());
    port->output = obs_output_create("ffmpeg_muxer", "relaycast-grabacion", settings, nullptr);
    if (!port->output)
        return refuse(d, uiText("Esta versión de OBS no incluye la salida de grabación."), out);

    // With no service to adjust them, the type's defaults and the entry's bitrate: the same
    // settings as an RTMP sibling's, whose encoder the recording then shares.
    OBSDataAutoRelease audioSettings = obs_encoder_defaults(audioEncoderId.toUtf8().constData());
    if (!audioSettings)
        audioSettings = obs_data_create();
    obs_data_set_int(audioSettings, "bitrate", audioKbps);
    port->audioEncoder =
        acquireAudioEncoder(d, pipeline, audioEncoderId, audioSettings, choice.pistaAudio, out);
    if (!port->audioEncoder || !takeVideoRendition(d, pipeline, entry, choice, *port, out))
        return false;

    obs_output_set_audio_encoder(port->output, port->audioEncoder.get(), 0);
    port->connectSignals(d);
    d.port = std::move(port);
    return true;
}

} // namespace relaycast
