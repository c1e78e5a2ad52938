#pragma once

// OBS's own stream encoders lent to an entry that sends OBS's program: the same packets OBS
// sends go to the entry's destinations too, encoded once. OBS makes them at its first stream
// start and may replace them whenever its own outputs are idle (a settings change, a profile
// switch); the entry holds its own reference, so what it borrowed keeps running on OBS's mix
// until the entry stops, and its next start borrows whatever OBS has then. Their settings are
// never changed from here. Interface thread.

#include "config/config_model.h"

#include <obs.hpp>

namespace relaycast {

struct ObsStreamEncoders {
    OBSEncoderAutoRelease video;
    OBSEncoderAutoRelease audio;
    explicit operator bool() const { return video && audio; }
};

// What OBS's stream encoder is, as far as the choice below needs.
struct ObsVideoEncoderFacts {
    QString type;
    QString videoCodec; // "h264", "hevc", "av1"
    int32_t kbps = 0;
    bool onMainMixAtItsSize = false; // fed by OBS's mix, unscaled
    // OBS's stream audio encoder, which the entry's mix then sends instead of its own.
    QString audioCodec; // "aac", "opus"
    int32_t audioKbps = 0;
};

// Whether `entry`, sending OBS's program, sends OBS's stream encoder's packets: asked for
// ("Same as OBS's stream"), or the same type and bitrate with no advanced settings of its own
// and the same audio (codec and bitrate, no audio delay of its own).
// Never for a receiver that may join at any packet (MPEG-TS over SRT or RIST), which needs
// headers OBS's encoder does not repeat.
bool sharesObsStreamEncoders(const EntryConfig& entry, const ObsVideoEncoderFacts& obs);

// OBS's stream encoders with what the choice above needs of them; empty encoders when OBS has
// no stream output yet.
struct ObsStreamEncoderState {
    OBSOutputAutoRelease output; // holds its encoders while this is looked at
    obs_encoder_t* video = nullptr;
    obs_encoder_t* audio = nullptr;
    ObsVideoEncoderFacts facts;
};
ObsStreamEncoderState obsStreamEncoderState();
// The facts of a pair of OBS's stream encoders (`audio` may be null: its figures stay empty).
ObsVideoEncoderFacts obsEncoderFacts(obs_encoder_t* video, obs_encoder_t* audio);

// OBS's stream encoders when `entry` shares them now; empty otherwise (no stream output yet,
// an encoder scaled or missing, or the entry wants its own).
ObsStreamEncoders borrowObsStreamEncoders(const EntryConfig& entry);

} // namespace relaycast
