#pragma once

#include <obs.h>

#include <QList>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace relaycast {

struct SourceCapture;

// An entry's own audio: a host audio output whose only input is a mix, made here, of every
// input source active under the entry's scene or source, each at its fader volume, delayed by
// the entry's audio delay. Open/close/root/refresh on the interface thread; captures on the
// sources' audio threads; the mix on the output's thread (track lock before a capture lock).
class EntryAudioTrack {
public:
    EntryAudioTrack();
    ~EntryAudioTrack();
    EntryAudioTrack(const EntryAudioTrack&) = delete;
    EntryAudioTrack& operator=(const EntryAudioTrack&) = delete;

    // Opens the host audio output ("relaycast") when not open yet; false when the host refuses.
    bool open();
    // Closes the output, removes every capture, releases the root.
    void close();

    // Delay in milliseconds, clamped to 0..1000, stored as frames at the track's sample rate.
    void setDelay(int32_t delayMs);
    int32_t delaySamples() const { return delaySamples_.load(); }

    // Releases the previous root, takes a reference on `source` and rebuilds the captures.
    void setRoot(obs_source_t* source);
    // Follows sources shown, hidden, added or removed under the root.
    void refreshCaptures();

    audio_t* audioOutput() const { return audioOutput_; }
    uint32_t sampleRate() const { return sampleRate_; }
    int captureCount() const;

private:
    static bool mix(void* param, uint64_t startTs, uint64_t endTs, uint64_t* outTs, uint32_t mixers,
                    struct audio_output_data* mixes);

    std::atomic<int32_t> delaySamples_{0};
    uint32_t sampleRate_ = 48000;
    audio_t* audioOutput_ = nullptr;
    obs_source_t* rootSource_ = nullptr;
    mutable std::mutex lock_;
    QList<SourceCapture*> captures_;
};

} // namespace relaycast
