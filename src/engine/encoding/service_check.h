#pragma once

// What a destination of an entry is sent, in the terms of a streaming service's limits, and
// whether its service takes it: the editor and the remote requests show the fit, a start
// refuses what no rendition can mend.

#include "address/service_limits.h"
#include "config/config_model.h"

#include <cstdint>

namespace relaycast {

struct EntryPipeline;

// The encoders a destination of an entry gets before its own choices: the entry's own, or
// OBS's stream encoders lent to it.
struct SendingEncoders {
    QString encoderType;    // the host's video encoder type
    QString videoCodec;     // "h264", "hevc", "av1"
    int32_t videoKbps = 0;  // before a destination's cap
    int32_t keyintSecs = 0; // 0: the encoder's own choice; -1: OBS's, run as OBS's settings say
    QString profile;        // empty: the encoder's own
    QString audioCodec;     // "aac", "opus"
    int32_t audioKbps = 0;
};

// What `choice` of `entry` sends, with a picture of `pictureWidth` by `pictureHeight` at `fps`
// from `encoders`. Plain code.
SentStream sentStreamOf(const EntryConfig& entry, const SendChoice& choice, uint32_t pictureWidth,
                        uint32_t pictureHeight, int32_t fps, const SendingEncoders& encoders);

// The encoders `entry` sends with: those of its running pipeline when it has one, else those a
// start would give it now (OBS's when it would borrow them). Interface thread.
SendingEncoders hostSendingEncoders(const EntryConfig& entry,
                                    const EntryPipeline* running = nullptr);

// The same with the host's facts: the entry's picture size, the host's frame rate and the
// encoders above. Interface thread.
SentStream hostSentStreamOf(const EntryConfig& entry, const SendChoice& choice,
                            const EntryPipeline* running = nullptr);

// How `dest` fits its service in the host's list; nullopt when it names none the list has.
std::optional<ServiceFit> hostServiceFit(const EntryConfig& entry, const DestConfig& dest,
                                         const EntryPipeline* running = nullptr);

// Why a start of `dest` is refused: the texts of what no rendition can mend, one per line;
// empty when it may start.
QString serviceRefusal(const EntryConfig& entry, const DestConfig& dest,
                       const EntryPipeline* running = nullptr);

} // namespace relaycast
