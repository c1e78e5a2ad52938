#pragma once

#include "engine/audio/audio_capture_ring.h"

#include <obs.hpp>

#include <media-io/audio-resampler.h>

#include <QList>

#include <memory>
#include <mutex>

namespace relaycast {

class EntryAudioTrack;

// One source feeding an entry's audio track: its reference, its delayed ring and the lock
// that the source's audio thread and the track's mixing thread share.
struct SourceCapture {
    // Takes over the reference on `source` (null for a capture fed by hand).
    SourceCapture(OBSSourceAutoRelease source, const EntryAudioTrack& track);
    SourceCapture(const SourceCapture&) = delete;
    SourceCapture& operator=(const SourceCapture&) = delete;

    // Registration of the capture routine on the source; the track calls them under its lock.
    void attach();
    void detach();

    // One audio packet of the source, in the host's channel layout: muted or empty packets are
    // dropped, a packet without a second plane is used for both channels, and a layout of more
    // than two channels is mixed down to stereo by the host's own resampler.
    void capture(const audio_data* data, bool muted, float volume);
    // Adds this capture's next block to the outputs.
    void pullInto(float* left, float* right);

    const OBSSourceAutoRelease source;
    const EntryAudioTrack& track;
    std::mutex lock;
    AudioCaptureRing ring;

private:
    struct ResamplerDeleter {
        void operator()(audio_resampler_t* resampler) const { audio_resampler_destroy(resampler); }
    };

    static void onAudio(void* param, obs_source_t* source, const audio_data* data, bool muted);

    // Only when the host mixes more than two channels; used under `lock`.
    std::unique_ptr<audio_resampler_t, ResamplerDeleter> downmix_;
};

// One mixing block: every capture adds its next block to `left` and `right`. The caller holds
// the lock guarding `captures`.
void mixCaptures(const QList<SourceCapture*>& captures, float* left, float* right);

} // namespace relaycast
