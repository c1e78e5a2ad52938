#pragma once

#include <QString>

namespace relaycast {

// A recording runs among its entry's outputs under an id no destination can have (theirs are
// UUIDs), so the heartbeat, stops, release and change listeners treat it like a destination.
QString recordingIdOf(const QString& entryId);
bool isRecordingId(const QString& outputId);

} // namespace relaycast
