#include "engine/encoding/video_renditions.h"

#include "engine/encoding/encoder_settings.h"
#include "engine/picture/entry_pipeline.h"
#include "module/ui_text.h"

namespace relaycast {
namespace {

// Settings only the entry decides; the bitrate is the rendition's.
OBSDataAutoRelease renditionSettings(const EntryConfig& entry, const QString& encoderId,
                                     int32_t kbps) {
    OBSDataAutoRelease settings =
        buildVideoEncoderSettings(encoderId, kbps, entry.ajustesCodificador);
    if (hasMpegTsDestination(entry))
        obs_data_set_bool(settings, "repeat_headers", true);
    return settings;
}

QString renditionMapKey(const RenditionKey& key) {
    return QStringLiteral("%1 %2 %3x%4")
        .arg(key.encoder)
        .arg(key.videoKbps)
        .arg(key.width)
        .arg(key.height);
}

} // namespace

RenditionKey sentRendition(const EntryConfig& entry, const SendChoice& choice,
                           uint32_t pictureWidth, uint32_t pictureHeight) {
    const RenditionKey key = renditionOf(entry, choice, pictureWidth, pictureHeight);
    return key == ownRendition(entry) ? RenditionKey{} : key;
}

EntryConfig encodeAsRunning(const EntryPipeline& pipeline, const EntryConfig& entry) {
    EntryConfig running = entry;
    if (pipeline.borrowsObsEncoders && pipeline.videoEncoder) {
        running.videoKbps = encoderBitrateKbps(pipeline.videoEncoder);
        running.codificador = QString::fromUtf8(obs_encoder_get_id(pipeline.videoEncoder));
    }
    return running;
}

VideoEncoderShare acquireVideoRendition(EntryPipeline& pipeline, const EntryConfig& entry,
                                        const SendChoice& choice, QString* out) {
    // The entry's own encode is what its own encoder runs: OBS's bitrate when it is OBS's, so
    // a cap below that gets a rendition of its own.
    const EntryConfig running = encodeAsRunning(pipeline, entry);
    const RenditionKey key = sentRendition(running, choice, pipeline.width, pipeline.height);
    if (key == RenditionKey{})
        return {pipeline.videoEncoder, nullptr};

    // The running own encoder keeps its type until the next start; so does every rendition.
    const QString encoderId = QString::fromUtf8(obs_encoder_get_id(pipeline.videoEncoder));
    SharedEncoder share =
        pipeline.videoRenditions.acquire(renditionMapKey(key), [&]() -> obs_encoder_t* {
            OBSDataAutoRelease settings = renditionSettings(entry, encoderId, key.videoKbps);
            obs_encoder_t* created = obs_video_encoder_create(
                encoderId.toUtf8().constData(), "relaycast-rendition", settings, nullptr);
            if (!created)
                return nullptr;
            if (key.scaled()) {
                obs_encoder_set_scaled_size(created, key.width, key.height);
#if LIBOBS_API_MAJOR_VER >= 30
                // From OBS 30 the host scales on the graphics card, as for its own outputs;
                // before, its scaler does it on the processor.
                obs_encoder_set_gpu_scale_type(created, OBS_SCALE_BICUBIC);
#endif
            }
            obs_encoder_set_video(created, pipeline.video);
            return created;
        });
    if (!share) {
        if (out)
            *out =
                uiText("No se pudo crear el codificador de vídeo de %1.").arg(renditionLabel(key));
        return {};
    }
    return {share.get(), share};
}

void updateRenditionSettings(EntryPipeline& pipeline, const EntryConfig& entry,
                             HostCallQueue& releases) {
    pipeline.videoRenditions.forEachHeld(releases, [&](const QString&, obs_encoder_t* encoder) {
        OBSDataAutoRelease settings = renditionSettings(
            entry, QString::fromUtf8(obs_encoder_get_id(encoder)), encoderBitrateKbps(encoder));
        obs_encoder_update(encoder, settings);
    });
}

} // namespace relaycast
