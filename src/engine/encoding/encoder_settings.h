#pragma once

#include "config/config_model.h"

#include <obs.hpp>

#include <QString>

#include <cstdint>

namespace relaycast {

struct EntryPipeline;

// The video encoder settings of an entry: the encoder's defaults, then either the saved
// advanced settings or the module's low-latency defaults, then the entry's bitrate.
OBSDataAutoRelease buildVideoEncoderSettings(const QString& encoderId, int32_t kbps,
                                             const QString& advancedJson);

// The bitrate (kbit/s) a host encoder's settings hold; 0 when they hold none.
int32_t encoderBitrateKbps(obs_encoder_t* encoder);

// True when any destination of the entry is sent as MPEG-TS (SRT or RIST): a receiver may join
// at any packet, so the entry's encoder repeats its headers.
bool hasMpegTsDestination(const EntryConfig& entry);

// The host audio encoder id of a saved audio codec name, or empty when the host has none.
QString resolveAudioEncoderId(const QString& codecName);

// Applies the live-changeable settings of an edited entry to its running pipeline: the audio
// delay, then the video encoder settings.
void applyLiveChanges(EntryPipeline& pipeline, const EntryConfig& entry);

} // namespace relaycast
