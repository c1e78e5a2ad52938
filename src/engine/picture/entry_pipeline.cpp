#include "engine/picture/entry_pipeline.h"

#include "engine/encoding/encoder_settings.h"
#include "engine/encoding/obs_stream_encoders.h"
#include "engine/host/host_source_lookup.h"
#include "module/module_log.h"
#include "module/ui_text.h"

#include <util/platform.h>

namespace relaycast {
namespace {

bool isHostVideoEncoderType(const QByteArray& id) {
    const char* known = nullptr;
    for (size_t i = 0; obs_enum_encoder_types(i, &known); ++i) {
        if (known && id == known)
            return obs_get_encoder_type(known) == OBS_ENCODER_VIDEO;
    }
    return false;
}

double millisecondsBetween(uint64_t startNs, uint64_t endNs) {
    return static_cast<double>(endNs - startNs) / 1e6;
}

} // namespace

std::pair<uint32_t, uint32_t> pictureSizeOf(const EntryConfig& entry) {
    if (entry.ancho >= 1 && entry.alto >= 1)
        return {static_cast<uint32_t>(entry.ancho), static_cast<uint32_t>(entry.alto)};
    obs_video_info video = {};
    if (!obs_get_video_info(&video))
        return {0, 0};
    return {video.output_width, video.output_height};
}

bool sendsObsProgram(const EntryConfig& entry, const obs_video_info& video) {
    if (!entry.seguirObs)
        return false;
    for (auto it = entry.equivalencias.cbegin(); it != entry.equivalencias.cend(); ++it) {
        if (it.key() != it.value())
            return false;
    }
    const bool ownSize = entry.ancho >= 1 && entry.alto >= 1;
    return !ownSize || (static_cast<uint32_t>(entry.ancho) == video.output_width &&
                        static_cast<uint32_t>(entry.alto) == video.output_height);
}

EntryPipeline::~EntryPipeline() {
    closePipeline(*this);
}

bool openPipeline(EntryPipeline& pipeline, const EntryConfig& entry, QString* out) {
    closePipeline(pipeline);
    pipeline.sourceName = entry.fuente.toUtf8();

    const auto fail = [&](const QString& message) {
        if (out)
            *out = message;
        closePipeline(pipeline);
        return false;
    };

    OBSSourceAutoRelease source = findHostSource(entry.fuente);
    if (!source)
        return fail(uiText("«%1» ya no existe en OBS.").arg(entry.fuente));

    obs_video_info video = {};
    if (!obs_get_video_info(&video))
        return fail(uiText("OBS no tiene el vídeo activo."));

    if (sendsObsProgram(entry, video)) {
        pipeline.mainMix = true;
        pipeline.video = obs_get_video();
        pipeline.width = video.output_width;
        pipeline.height = video.output_height;
    }

    // Frame rate, format, colour space, range and scaling stay the host's.
    const bool ownSize = !pipeline.mainMix && entry.ancho >= 1 && entry.alto >= 1;
    if (ownSize) {
        video.base_width = static_cast<uint32_t>(entry.ancho);
        video.base_height = static_cast<uint32_t>(entry.alto);
        video.output_width = video.base_width;
        video.output_height = video.base_height;
    }

    if (!pipeline.mainMix) {
        pipeline.view = obs_view_create();
        pipeline.video = pipeline.view ? obs_view_add2(pipeline.view, &video) : nullptr;
        if (!pipeline.video)
            return fail(uiText("No se pudo crear el vídeo propio de la entrada."));
        pipeline.ownSize = ownSize;
        pipeline.width = video.base_width;
        pipeline.height = video.base_height;
        pipeline.fill = entry.llenar;
        setViewSource(pipeline, source);
    }

    if (!pipeline.audioTrack.audioOutput() && !pipeline.audioTrack.open())
        return fail(uiText("No se pudo crear la pista de audio propia de la entrada."));
    pipeline.audioTrack.setDelay(entry.retrasoAudioMs);
    pipeline.audioTrack.setRoot(source);

    source = nullptr;

    if (pipeline.mainMix) {
        if (ObsStreamEncoders lent = borrowObsStreamEncoders(entry)) {
            pipeline.videoEncoder = std::move(lent.video);
            pipeline.obsAudioEncoder = std::move(lent.audio);
            pipeline.borrowsObsEncoders = true;
            moduleLog(LOG_INFO, "an input sends the packets of OBS's own stream encoders");
            return true;
        }
    }

    OBSDataAutoRelease settings =
        buildVideoEncoderSettings(entry.codificador, entry.videoKbps, entry.ajustesCodificador);
    if (hasMpegTsDestination(entry))
        obs_data_set_bool(settings, "repeat_headers", true);
    const QByteArray encoderId = entry.codificador.toUtf8();
    // The host creates an encoder object even for a type it does not have, which would fail
    // only when a destination starts.
    if (isHostVideoEncoderType(encoderId)) {
        pipeline.videoEncoder =
            obs_video_encoder_create(encoderId.constData(), "relaycast-video", settings, nullptr);
    }
    settings = nullptr;
    if (!pipeline.videoEncoder) {
        return fail(uiText("No se pudo crear el codificador de vídeo «%1». Prueba con el "
                           "codificador por CPU (x264).")
                        .arg(entry.codificador));
    }

    obs_encoder_set_video(pipeline.videoEncoder, pipeline.video);
    return true;
}

void destroyPreviewDisplay(EntryPipeline& pipeline) {
    if (!pipeline.previewDisplay)
        return;
    obs_display_destroy(pipeline.previewDisplay);
    pipeline.previewDisplay = nullptr;
    pipeline.previewWindow = nullptr;
}

void releasePreviewAndSources(EntryPipeline& pipeline) {
    destroyPreviewDisplay(pipeline);
    if (pipeline.view)
        obs_view_set_source(pipeline.view, 0, nullptr);
    pipeline.privateScene = nullptr;
    pipeline.audioTrack.setRoot(nullptr);
}

void closePipeline(EntryPipeline& pipeline) {
    const bool hadWork = pipeline.videoEncoder || pipeline.view;

    // The display draws the view from the graphics thread, so it goes first.
    const uint64_t start = os_gettime_ns();
    destroyPreviewDisplay(pipeline);
    const uint64_t previewDone = os_gettime_ns();

    // A borrowed encoder is only let go of: OBS keeps its own.
    pipeline.videoEncoder = nullptr;
    pipeline.obsAudioEncoder = nullptr;
    pipeline.borrowsObsEncoders = false;
    const uint64_t encoderDone = os_gettime_ns();

    pipeline.audioTrack.close();
    const uint64_t audioDone = os_gettime_ns();

    if (pipeline.view) {
        obs_view_set_source(pipeline.view, 0, nullptr);
        if (pipeline.video)
            obs_view_remove(pipeline.view);
        obs_view_destroy(pipeline.view);
        pipeline.view = nullptr;
        pipeline.video = nullptr;
    }
    pipeline.privateScene = nullptr;
    pipeline.video = nullptr; // OBS's main mix, when it was that, stays OBS's
    pipeline.mainMix = false;
    const uint64_t viewDone = os_gettime_ns();

    if (hadWork) {
        moduleLog(LOG_INFO,
                  "closing entry: preview %.1f ms, video encoder %.1f ms, audio %.1f ms, "
                  "video/view %.1f ms (total %.1f ms)",
                  millisecondsBetween(start, previewDone),
                  millisecondsBetween(previewDone, encoderDone),
                  millisecondsBetween(encoderDone, audioDone),
                  millisecondsBetween(audioDone, viewDone), millisecondsBetween(start, viewDone));
    }
}

} // namespace relaycast
