#pragma once

// The video encoders of one running entry: its own (the pipeline's, made when it opens) and one
// per other rendition its destinations ask for, shared by key and held by the destinations that
// send it (see SharedEncoders). Interface thread.

#include "config/config_model.h"
#include "engine/encoding/rendition_plan.h"
#include "engine/encoding/shared_encoders.h"

#include <QString>

namespace relaycast {

class HostCallQueue;
struct EntryPipeline;

// What one destination sends: `encoder` is the pipeline's own (then `share` is empty, the
// pipeline outlives the destination's output) or the rendition `share` holds.
struct VideoEncoderShare {
    obs_encoder_t* encoder = nullptr;
    SharedEncoder share;
};

// The encoder for `choice` of `entry` on `pipeline`; a null encoder with the user's text in
// `out` when the host refuses one.
VideoEncoderShare acquireVideoRendition(EntryPipeline& pipeline, const EntryConfig& entry,
                                        const SendChoice& choice, QString* out = nullptr);

// Whether `choice` is sent on the entry's own encoder, else on which rendition: two equal
// answers for a destination before and after an edit mean it keeps its encoder.
RenditionKey sentRendition(const EntryConfig& entry, const SendChoice& choice,
                           uint32_t pictureWidth, uint32_t pictureHeight);

// `entry` as its own encoder runs it: with the type and bitrate of OBS's stream encoder while
// it sends that one's packets, so caps are measured against what really runs.
EntryConfig encodeAsRunning(const EntryPipeline& pipeline, const EntryConfig& entry);

// The entry's live encoder settings (advanced settings, stream framing) given to every running
// rendition at its own bitrate; the own encoder is updated by applyLiveChanges.
void updateRenditionSettings(EntryPipeline& pipeline, const EntryConfig& entry,
                             HostCallQueue& releases);

} // namespace relaycast
