#include "engine/encoding/encoder_settings.h"

#include "address/address.h"
#include "engine/picture/entry_pipeline.h"

#include <algorithm>

namespace relaycast {

OBSDataAutoRelease buildVideoEncoderSettings(const QString& encoderId, int32_t kbps,
                                             const QString& advancedJson) {
    const QByteArray id = encoderId.toUtf8();
    OBSDataAutoRelease settings = obs_encoder_defaults(id.constData());
    if (!settings)
        settings = obs_data_create();

    if (!advancedJson.trimmed().isEmpty()) {
        // The user's own settings replace the module's defaults entirely; text that does not
        // parse leaves the encoder's defaults.
        OBSDataAutoRelease advanced = obs_data_create_from_json(advancedJson.toUtf8().constData());
        if (advanced)
            obs_data_apply(settings, advanced);
    } else {
        // Keyframes every 2 s let a new viewer start quickly; no B-frames keeps latency low.
        obs_data_set_int(settings, "keyint_sec", 2);
        if (id == "obs_x264") {
            obs_data_set_string(settings, "x264opts", "bframes=0");
        } else if (id.contains("nvenc")) {
            obs_data_set_int(settings, "bf", 0);
            obs_data_set_bool(settings, "lookahead", false);
        }
    }

    obs_data_set_int(settings, "bitrate", kbps);
    return settings;
}

int32_t encoderBitrateKbps(obs_encoder_t* encoder) {
    OBSDataAutoRelease settings = obs_encoder_get_settings(encoder);
    return static_cast<int32_t>(obs_data_get_int(settings, "bitrate"));
}

bool hasMpegTsDestination(const EntryConfig& entry) {
    return std::any_of(entry.destinos.cbegin(), entry.destinos.cend(), [](const DestConfig& d) {
        const AddressKind kind = classifyAddress(d.url);
        return kind == AddressKind::SRT || kind == AddressKind::RIST;
    });
}

QString resolveAudioEncoderId(const QString& codecName) {
    const QString name = codecName.trimmed();
    QString candidate = name;
    if (name.isEmpty() || name.compare(QLatin1String("aac"), Qt::CaseInsensitive) == 0)
        candidate = QStringLiteral("ffmpeg_aac");
    else if (name.compare(QLatin1String("opus"), Qt::CaseInsensitive) == 0)
        candidate = QStringLiteral("ffmpeg_opus");

    const QByteArray wanted = candidate.toUtf8();
    const char* id = nullptr;
    for (size_t i = 0; obs_enum_encoder_types(i, &id); ++i) {
        if (id && wanted == id && obs_get_encoder_type(id) == OBS_ENCODER_AUDIO)
            return candidate;
    }
    return {};
}

void applyLiveChanges(EntryPipeline& pipeline, const EntryConfig& entry) {
    pipeline.audioTrack.setDelay(entry.retrasoAudioMs);
    // OBS's own encoder is OBS's to set.
    if (!pipeline.videoEncoder || pipeline.borrowsObsEncoders)
        return;

    // The running encoder keeps its type until the next start, so its settings are built for
    // that type even when the entry now names another.
    const QString runningId = QString::fromUtf8(obs_encoder_get_id(pipeline.videoEncoder));
    OBSDataAutoRelease settings =
        buildVideoEncoderSettings(runningId, entry.videoKbps, entry.ajustesCodificador);
    if (hasMpegTsDestination(entry))
        obs_data_set_bool(settings, "repeat_headers", true);
    obs_encoder_update(pipeline.videoEncoder, settings);
}

} // namespace relaycast
