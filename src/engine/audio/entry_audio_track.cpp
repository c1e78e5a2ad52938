#include "engine/audio/entry_audio_track.h"

#include "engine/audio/audio_capture_ring.h"
#include "engine/audio/audio_source_tree.h"
#include "engine/audio/source_capture.h"

#include <obs.hpp>

#include <utility>
#include <vector>

namespace relaycast {
namespace {

using SourceList = std::vector<OBSSourceAutoRelease>;

bool contains(const SourceList& list, obs_source_t* source) {
    for (const auto& item : list)
        if (item == source)
            return true;
    return false;
}

} // namespace

EntryAudioTrack::EntryAudioTrack() = default;

EntryAudioTrack::~EntryAudioTrack() {
    close();
}

bool EntryAudioTrack::open() {
    if (audioOutput_)
        return true;

    obs_audio_info hostAudio{};
    sampleRate_ = obs_get_audio_info(&hostAudio) ? hostAudio.samples_per_sec : 48000;

    audio_output_info info{};
    info.name = "relaycast";
    info.samples_per_sec = sampleRate_;
    info.format = AUDIO_FORMAT_FLOAT_PLANAR;
    info.speakers = SPEAKERS_STEREO;
    info.input_callback = &EntryAudioTrack::mix;
    info.input_param = this;

    audio_t* output = nullptr;
    if (audio_output_open(&output, &info) != AUDIO_OUTPUT_SUCCESS) {
        audioOutput_ = nullptr;
        return false;
    }
    audioOutput_ = output;
    return true;
}

void EntryAudioTrack::close() {
    // Joins the mixing thread, so no block is being mixed past this point.
    if (audioOutput_) {
        audio_output_close(audioOutput_);
        audioOutput_ = nullptr;
    }

    QList<SourceCapture*> removed;
    {
        std::lock_guard guard(lock_);
        for (SourceCapture* capture : captures_)
            capture->detach();
        removed.swap(captures_);
    }
    // Detached and unreachable from the mix: the sources are released outside the lock.
    qDeleteAll(removed);

    if (rootSource_) {
        obs_source_release(rootSource_);
        rootSource_ = nullptr;
    }
}

void EntryAudioTrack::setDelay(int32_t delayMs) {
    delaySamples_.store(delayFramesFor(delayMs, sampleRate_));
}

void EntryAudioTrack::setRoot(obs_source_t* source) {
    // New reference first: the previous root may be the same source.
    obs_source_t* previous = rootSource_;
    rootSource_ = source ? obs_source_get_ref(source) : nullptr;
    if (previous)
        obs_source_release(previous);
    refreshCaptures();
}

void EntryAudioTrack::refreshCaptures() {
    // Without a root nothing is wanted, so captures of a former root do not linger.
    SourceList wanted = audibleSourcesUnder(rootSource_);

    QList<SourceCapture*> removed;
    {
        std::lock_guard guard(lock_);
        for (auto it = captures_.begin(); it != captures_.end();) {
            if (contains(wanted, (*it)->source)) {
                ++it;
                continue;
            }
            (*it)->detach();
            removed.append(*it);
            it = captures_.erase(it);
        }
        for (auto& source : wanted) {
            bool present = false;
            for (const SourceCapture* capture : captures_)
                present = present || capture->source == source;
            if (present)
                continue;
            auto* capture = new SourceCapture(std::move(source), *this);
            capture->attach();
            captures_.append(capture);
        }
    }
    qDeleteAll(removed);
}

int EntryAudioTrack::captureCount() const {
    std::lock_guard guard(lock_);
    return int(captures_.size());
}

bool EntryAudioTrack::mix(void* param, uint64_t startTs, uint64_t, uint64_t* outTs, uint32_t,
                          audio_output_data* mixes) {
    auto* track = static_cast<EntryAudioTrack*>(param);
    *outTs = startTs;
    float* left = mixes[0].data[0];
    float* right = mixes[0].data[1];
    if (!left || !right)
        return true;
    std::lock_guard guard(track->lock_);
    mixCaptures(track->captures_, left, right);
    return true;
}

} // namespace relaycast
