#pragma once

// One change to one entry, whoever makes it (the dock's editor, a remote request): what its
// caller changed from the entry as it saw it. Laid over the entry as it is now, it keeps what
// others changed meanwhile: the editor's dialog runs a nested event loop in which remote
// requests and host events are handled, so the copy it opened with may be stale by its OK.
// Also decided here: which changes a streaming entry cannot take without a stop. Plain code,
// no host calls; EntryController::editEntry applies an edit.

#include "config/config_model.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace relaycast {

struct EntryEdit {
    EntryConfig base;   // the entry as the caller saw it (the editor: when its dialog opened)
    EntryConfig wanted; // the same entry as the caller wants it; only what differs is the change
};

// `edit` laid over `now`: every field the caller changed takes its wanted value, every other
// keeps what `now` holds. Size (width with height) and encoder (with its advanced settings)
// go as one; advanced settings written for an encoder someone else replaced meanwhile are
// dropped. Destinations go by id: those the caller removed go, those it added come at the end,
// those it changed are replaced whole, the rest (added or changed by others) stay as they are
// now, in the caller's order. A destination the caller changed that someone else removed stays
// removed and its id goes to `lost`.
EntryConfig layEditOver(const EntryConfig& now, const EntryEdit& edit, QStringList* lost = nullptr);

// What a streaming entry cannot change without stopping: a following entry's source (its
// fallback; another entry's source switches live), following, matches, size, framing, video
// encoder, audio bitrate and codec, and the address or secrets of a destination that runs.
enum class StopField {
    Source,
    FollowsObs,
    Matches,
    Width,
    Height,
    Fill,
    Encoder,
    AudioKbps,
    AudioCodec,
    RunningDestination,
    Relay, // the address or secret of the relay OBS is sending to
};

// The fields `after` changes of `before` that need the entry stopped, in StopField order;
// `running` tells whether a destination has an output now.
QList<StopField> fieldsNeedingStop(const EntryConfig& before, const EntryConfig& after,
                                   const std::function<bool(const QString&)>& running);

// The running destinations (of a picture that size) whose encode, audio or delay `after`
// changes, their address staying: each restarts alone, its siblings keep streaming. A change
// of the entry's bitrate moves those whose cap it crosses between the entry's own encoder and
// one of their own.
QStringList destinationsToRestart(const EntryConfig& before, const EntryConfig& after,
                                  uint32_t pictureWidth, uint32_t pictureHeight,
                                  const std::function<bool(const QString&)>& running);

// Whether the running encoder and audio track must take `after`: bitrate, advanced settings,
// audio delay, or whether some destination is sent as MPEG-TS.
bool changesLiveEncoding(const EntryConfig& before, const EntryConfig& after);

// Advanced encoder settings (JSON) with their "bitrate" set to `kbps`, as the editor writes
// them; empty or unreadable settings, and those that hold that bitrate, stay as they are.
QString advancedWithBitrate(const QString& json, int32_t kbps);

// The audio codec as compared and listed: trimmed, lower case, "aac" when empty.
QString audioCodecName(const QString& stored);

} // namespace relaycast
