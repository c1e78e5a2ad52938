#include "engine/source_capture.h"

#include "engine/entry_audio_track.h"

#include <utility>

namespace relaycast {

SourceCapture::SourceCapture(OBSSourceAutoRelease source_, const EntryAudioTrack& track_)
    : source(std::move(source_)), track(track_), ring(track_.delaySamples()) {}

void SourceCapture::attach() {
    if (source)
        obs_source_add_audio_capture_callback(source, &SourceCapture::onAudio, this);
}

void SourceCapture::detach() {
    // The host runs capture routines under the source's own callback lock, so once this
    // returns none of them is still inside this capture.
    if (source)
        obs_source_remove_audio_capture_callback(source, &SourceCapture::onAudio, this);
}

void SourceCapture::onAudio(void* param, obs_source_t* source, const audio_data* data, bool muted) {
    if (!data || data->frames == 0 || muted)
        return;
    static_cast<SourceCapture*>(param)->capture(data, muted, obs_source_get_volume(source));
}

void SourceCapture::capture(const audio_data* data, bool muted, float volume) {
    if (!data || data->frames == 0 || muted || !data->data[0])
        return;
    const auto* left = reinterpret_cast<const float*>(data->data[0]);
    const auto* right = data->data[1] ? reinterpret_cast<const float*>(data->data[1]) : left;
    std::lock_guard guard(lock);
    ring.push(left, right, data->frames, volume, track.delaySamples());
}

void SourceCapture::pullInto(float* left, float* right) {
    std::lock_guard guard(lock);
    ring.pull(left, right, track.delaySamples());
}

void mixCaptures(const QList<SourceCapture*>& captures, float* left, float* right) {
    for (SourceCapture* capture : captures)
        capture->pullInto(left, right);
}

} // namespace relaycast
