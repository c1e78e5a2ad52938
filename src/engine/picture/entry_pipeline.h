#pragma once

#include "config/config_model.h"
#include "engine/audio/entry_audio_track.h"
#include "engine/audio/shared_audio_encoder.h"
#include "engine/encoding/shared_encoders.h"

#include <obs.hpp>

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <utility>

namespace relaycast {

// The part of a running entry shared by all its destinations: a private view rendering the
// entry's scene or source at its own size and framing, the view's raw video, its own video
// encoder and the other renditions of it, the entry's own audio track and the audio encoders
// its destinations share.
// Interface thread only, except the preview draw routine, which the graphics thread runs.
struct EntryPipeline {
    EntryPipeline() = default;
    // Closes everything (display first, view last).
    ~EntryPipeline();
    EntryPipeline(const EntryPipeline&) = delete;
    EntryPipeline& operator=(const EntryPipeline&) = delete;

    // It sends OBS's program at OBS's output size: OBS's own mix is its picture, nothing is
    // rendered for it (no view, no private scene); OBS's live scene switches it.
    bool mainMix = false;
    bool ownSize = false;
    uint32_t width = 0;
    uint32_t height = 0;
    bool fill = false;
    QByteArray sourceName; // UTF-8 host name of what is sent now
    obs_display_t* previewDisplay = nullptr;
    void* previewWindow = nullptr;
    obs_view_t* view = nullptr;
    video_t* video = nullptr; // the view's, or OBS's main mix (never released by us)
    OBSSceneAutoRelease privateScene;
    OBSEncoderAutoRelease videoEncoder; // the entry's own rendition
    // The own rendition and the audio of destinations on the entry's mix are OBS's own stream
    // encoders, borrowed (see ObsStreamEncoders): never updated from here.
    bool borrowsObsEncoders = false;
    OBSEncoderAutoRelease obsAudioEncoder;
    SharedEncoders videoRenditions; // the others, held by the destinations that send them
    EntryAudioTrack audioTrack;
    SharedAudioEncoders audioEncoders;
};

// The size of the picture `entry` renders: its own, or OBS's output size; 0 x 0 when OBS has
// no video.
std::pair<uint32_t, uint32_t> pictureSizeOf(const EntryConfig& entry);

// Whether `entry` sends exactly OBS's program at OBS's output size (`video`): it follows OBS's
// live scene without equivalences that send something else, at no size of its own or OBS's.
bool sendsObsProgram(const EntryConfig& entry, const obs_video_info& video);

// Builds the pipeline for `entry` (whose "fuente" is already the name to send). False with the
// user message in `out`; a failure leaves no host object behind.
bool openPipeline(EntryPipeline& pipeline, const EntryConfig& entry, QString* out = nullptr);

// Puts `source` on the view's channel 0, wrapped in a private scene when it is not a scene or
// the pipeline has its own size.
void setViewSource(EntryPipeline& pipeline, obs_source_t* source);

// Tears everything down in a fixed, timed order. Safe on a half-built or closed pipeline.
void closePipeline(EntryPipeline& pipeline);

// Destroys the preview display, if any (before the view or widget it draws goes away).
void destroyPreviewDisplay(EntryPipeline& pipeline);

// Destroys the preview and lets go of the user's scene or source (view channel, private scene,
// audio captures), so a pipeline waiting for its release holds nothing of the user's scene
// collection. Interface thread; the encoders and the view stay until closePipeline.
void releasePreviewAndSources(EntryPipeline& pipeline);

// The preview draw routine registered on a display with the pipeline as parameter.
void drawPipelinePreview(void* pipeline, uint32_t displayWidth, uint32_t displayHeight);

// Changes what a running pipeline sends without touching outputs or encoders.
bool switchSource(EntryPipeline& pipeline, const QString& name, QString* out = nullptr);

} // namespace relaycast
