#include "engine/encoding/obs_stream_encoders.h"

#include "engine/encoding/encoder_settings.h"
#include "engine/entry/entry_edit.h"
#include "module/host_frontend.h"

namespace relaycast {

bool sharesObsStreamEncoders(const EntryConfig& entry, const ObsVideoEncoderFacts& obs) {
    if (!obs.onMainMixAtItsSize || obs.type.isEmpty() || hasMpegTsDestination(entry))
        return false;
    return entry.codificadorDeObs ||
           (obs.type == entry.codificador && obs.kbps == entry.videoKbps &&
            entry.ajustesCodificador.trimmed().isEmpty() &&
            obs.audioCodec == audioCodecName(entry.codificadorAudio) &&
            obs.audioKbps == entry.audioKbps && entry.retrasoAudioMs == 0);
}

ObsStreamEncoders borrowObsStreamEncoders(const EntryConfig& entry) {
    OBSOutputAutoRelease stream = hostFrontend().streamingOutput();
    obs_encoder_t* video = stream ? obs_output_get_video_encoder(stream) : nullptr;
    obs_encoder_t* audio = stream ? obs_output_get_audio_encoder(stream, 0) : nullptr;
    if (!video || !audio)
        return {};
    obs_video_info mix = {};
    ObsVideoEncoderFacts facts;
    facts.type = QString::fromUtf8(obs_encoder_get_id(video));
    facts.kbps = encoderBitrateKbps(video);
    // OBS names its own AAC encoder's codec "AAC".
    facts.audioCodec = QString::fromUtf8(obs_encoder_get_codec(audio)).toLower();
    facts.audioKbps = encoderBitrateKbps(audio);
    facts.onMainMixAtItsSize = obs_get_video_info(&mix) &&
                               obs_encoder_video(video) == obs_get_video() &&
                               obs_encoder_get_width(video) == mix.output_width &&
                               obs_encoder_get_height(video) == mix.output_height;
    if (!sharesObsStreamEncoders(entry, facts))
        return {};
    ObsStreamEncoders lent;
    lent.video = obs_encoder_get_ref(video);
    lent.audio = obs_encoder_get_ref(audio);
    return lent;
}

} // namespace relaycast
