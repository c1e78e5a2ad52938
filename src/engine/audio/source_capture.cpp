#include "engine/audio/source_capture.h"

#include "engine/audio/entry_audio_track.h"

#include <optional>
#include <utility>

namespace relaycast {

namespace {

// The host's mixing layout when it has more than two channels (5.1, 7.1 ...), else nothing.
std::optional<resample_info> surroundHostLayout() {
    obs_audio_info host{};
    if (!obs_initialized() || !obs_get_audio_info(&host) || get_audio_channels(host.speakers) <= 2)
        return std::nullopt;
    return resample_info{host.samples_per_sec, AUDIO_FORMAT_FLOAT_PLANAR, host.speakers};
}

} // namespace

SourceCapture::SourceCapture(OBSSourceAutoRelease source_, const EntryAudioTrack& track_)
    : source(std::move(source_)), track(track_), ring(track_.delaySamples()) {
    if (const std::optional<resample_info> from = surroundHostLayout()) {
        const resample_info to{from->samples_per_sec, AUDIO_FORMAT_FLOAT_PLANAR, SPEAKERS_STEREO};
        downmix_.reset(audio_resampler_create(&to, &*from));
    }
}

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
    // The host hands its capture routines every source's sound, also what the user keeps for
    // their own ears: a monitor-only source never reaches an output of OBS, nor ours.
    if (obs_source_get_monitoring_type(source) == OBS_MONITORING_TYPE_MONITOR_ONLY)
        return;
    static_cast<SourceCapture*>(param)->capture(data, muted, obs_source_get_volume(source));
}

void SourceCapture::capture(const audio_data* data, bool muted, float volume) {
    if (!data || data->frames == 0 || muted || !data->data[0])
        return;
    std::lock_guard guard(lock);
    const uint8_t* const* planes = data->data;
    uint32_t frames = data->frames;
    uint8_t* stereo[MAX_AV_PLANES] = {};
    if (downmix_) {
        uint64_t offset = 0;
        if (!audio_resampler_resample(downmix_.get(), stereo, &frames, &offset, data->data,
                                      data->frames) ||
            !stereo[0] || frames == 0)
            return;
        planes = stereo;
    }
    const auto* left = reinterpret_cast<const float*>(planes[0]);
    const auto* right = planes[1] ? reinterpret_cast<const float*>(planes[1]) : left;
    ring.push(left, right, frames, volume, track.delaySamples());
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
