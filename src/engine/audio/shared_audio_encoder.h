#pragma once

#include <obs.h>

#include <QString>

#include <map>
#include <memory>

namespace relaycast {

// A host audio encoder ("relaycast-audio") on an entry's audio output, held by every destination
// that sends its packets. Host outputs take no reference on their encoders, so each destination
// holds this until its own output is released; the last one to let go (on the host call queue,
// after its output) releases the host encoder.
using SharedAudioEncoder = std::shared_ptr<obs_encoder_t>;

// The audio encoders of one running entry. Destinations share an encoder exactly when its type
// and its whole settings, as each destination's service adjusted them, are equal: the packets
// then depend on nothing else (the mixer and the audio output are the entry's one track).
// Anything that differs (codec, bitrate, a service's framing) gets an encoder of its own, and a
// destination started after the entry's audio settings changed opens or joins the encoder of
// the new settings while its running siblings keep theirs. Interface thread; the encoders
// themselves may be let go of on any thread.
class SharedAudioEncoders {
public:
    // The running encoder of this type and settings when a destination still holds one;
    // otherwise a new one on `audio` (mixer 0). Null when the host refuses to create it.
    SharedAudioEncoder acquire(const QString& encoderId, obs_data_t* settings, audio_t* audio);

private:
    // Keyed by type and settings. The destinations own the encoders: one nobody holds any more
    // has expired and the next acquire opens a new one. Locked only to hand the encoder to a
    // new holder: a copy taken just to look would release the host encoder on this thread if
    // its last destination let go meanwhile.
    std::map<QString, std::weak_ptr<obs_encoder_t>> opened_;
};

} // namespace relaycast
