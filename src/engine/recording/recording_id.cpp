#include "engine/recording/recording_id.h"

namespace relaycast {
namespace {
const QLatin1String kRecordingPrefix("grabacion:");
}

QString recordingIdOf(const QString& entryId) {
    return kRecordingPrefix + entryId;
}

bool isRecordingId(const QString& outputId) {
    return outputId.startsWith(kRecordingPrefix);
}

} // namespace relaycast
