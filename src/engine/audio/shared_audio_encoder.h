#pragma once

#include "engine/encoding/shared_encoders.h"

#include <obs.h>

#include <QString>

#include <map>
#include <memory>

namespace relaycast {

// A host audio encoder ("relaycast-audio") on an entry's audio output, held by every destination
// that sends its packets. Host outputs take no reference on their encoders, so each destination
// holds this until its own output is released; the last one to let go (on the host call queue,
// after its output) releases the host encoder.
using SharedAudioEncoder = SharedEncoder;

// The audio encoders of one running entry. Destinations share an encoder exactly when its type,
// its whole settings, as each destination's service adjusted them, and the audio it encodes
// (the entry's own track, or one of OBS's tracks) are equal: the packets then depend on nothing
// else.
// Anything that differs (codec, bitrate, a service's framing) gets an encoder of its own, and a
// destination started after the entry's audio settings changed opens or joins the encoder of
// the new settings while its running siblings keep theirs. Interface thread; the encoders
// themselves may be let go of on any thread.
class SharedAudioEncoders {
public:
    // The running encoder of this type and settings when a destination still holds one;
    // otherwise a new one on mixer `mixer` of `audio`. Null when the host refuses to create it.
    SharedAudioEncoder acquire(const QString& encoderId, obs_data_t* settings, audio_t* audio,
                               size_t mixer = 0);

private:
    SharedEncoders opened_;
};

} // namespace relaycast
