#pragma once

// What a destination of an entry is sent, in the terms of a streaming service's limits, and
// whether its service takes it: the editor and the remote requests show the fit, a start
// refuses what no rendition can mend.

#include "address/service_limits.h"
#include "config/config_model.h"

#include <cstdint>

namespace relaycast {

// What `choice` of `entry` sends, with a picture of `pictureWidth` by `pictureHeight` at `fps`
// encoded as `videoCodec`. Plain code.
SentStream sentStreamOf(const EntryConfig& entry, const SendChoice& choice, uint32_t pictureWidth,
                        uint32_t pictureHeight, int32_t fps, const QString& videoCodec);

// The same with the host's facts: the entry's picture size, the host's frame rate and the codec
// of the entry's encoder type. Interface thread or any thread once the host runs.
SentStream hostSentStreamOf(const EntryConfig& entry, const SendChoice& choice);

// How `dest` fits its service in the host's list; nullopt when it names none the list has.
std::optional<ServiceFit> hostServiceFit(const EntryConfig& entry, const DestConfig& dest);

// Why a start of `dest` is refused: the texts of what no rendition can mend, one per line;
// empty when it may start.
QString serviceRefusal(const EntryConfig& entry, const DestConfig& dest);

} // namespace relaycast
