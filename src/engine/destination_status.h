#pragma once

#include <QString>

#include <cstdint>

namespace relaycast {

enum class DestinationState : int32_t { Idle = 0, Starting = 1, Live = 2, Reconnecting = 3, Failed = 4 };

// What the panel reads about one destination.
struct DestinationStatus {
    DestinationState state = DestinationState::Idle;
    QString message;
    int32_t attempts = 0;
    int32_t outageSecs = 0;
    int32_t recoveryAfterSecs = -1;
    int32_t cuts = 0;
    int32_t bitrateKbps = -1;
    int32_t droppedFrames = 0;
};

} // namespace relaycast
