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

ObsStreamEncoderState obsStreamEncoderState() {
    ObsStreamEncoderState state;
    state.output = hostFrontend().streamingOutput();
    state.video = state.output ? obs_output_get_video_encoder(state.output) : nullptr;
    state.audio = state.output ? obs_output_get_audio_encoder(state.output, 0) : nullptr;
    if (!state.video || !state.audio)
        return {};
    obs_video_info mix = {};
    state.facts = obsEncoderFacts(state.video, state.audio);
    state.facts.onMainMixAtItsSize = obs_get_video_info(&mix) &&
                                     obs_encoder_video(state.video) == obs_get_video() &&
                                     obs_encoder_get_width(state.video) == mix.output_width &&
                                     obs_encoder_get_height(state.video) == mix.output_height;
    return state;
}

ObsVideoEncoderFacts obsEncoderFacts(obs_encoder_t* video, obs_encoder_t* audio) {
    ObsVideoEncoderFacts facts;
    facts.type = QString::fromUtf8(obs_encoder_get_id(video));
    facts.videoCodec = QString::fromUtf8(obs_encoder_get_codec(video)).toLower();
    facts.kbps = encoderBitrateKbps(video);
    if (audio) {
        // OBS names its own AAC encoder's codec "AAC".
        facts.audioCodec = QString::fromUtf8(obs_encoder_get_codec(audio)).toLower();
        facts.audioKbps = encoderBitrateKbps(audio);
    }
    return facts;
}

ObsStreamEncoders borrowObsStreamEncoders(const EntryConfig& entry) {
    const ObsStreamEncoderState obs = obsStreamEncoderState();
    if (!obs.video || !sharesObsStreamEncoders(entry, obs.facts))
        return {};
    ObsStreamEncoders lent;
    lent.video = obs_encoder_get_ref(obs.video);
    lent.audio = obs_encoder_get_ref(obs.audio);
    return lent;
}

} // namespace relaycast
