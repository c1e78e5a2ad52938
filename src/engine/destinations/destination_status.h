#pragma once

#include <QString>

#include <cstdint>

namespace relaycast {

enum class DestinationState : int32_t {
    Idle = 0,
    Starting = 1,
    Live = 2,
    Reconnecting = 3,
    Failed = 4
};

// The longest queue a destination's figures tell in full: an hour.
inline constexpr int32_t kLongestQueuedMs = 3600 * 1000;

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
    // Figures of this run of the destination (since its start, across outages).
    int64_t uptimeSecs = 0;  // since it first went Live; 0 when it never did
    uint64_t sentBytes = 0;  // every byte its outputs sent
    int32_t totalFrames = 0; // frames its current output handled (dropped ones included)
    // Whether its path takes less than the stream (see CongestionMeter), with the figures.
    bool congested = false;
    int32_t congestionEpisodes = 0;
    int32_t receivedKbps = -1; // what reached the server lately; -1 unknown
    // How long its connection's queue takes to leave; -1 unknown; above kLongestQueuedMs (by
    // one) when it takes longer, a figure that means nothing at such a rate.
    int32_t queuedMs = -1;
    int32_t congestionPercent = -1; // the host's send queue against its drop point; -1 none
    // A recording's file (its whole path); empty for a stream.
    QString file;
    // A recording whose folder has not answered for a while (see kFolderAnswerBound).
    bool folderSilent = false;
    // A destination the entry's relay carries, its state read from the relay's page: no
    // figures of its own (the relay counts per stream, not per push).
    bool throughRelay = false;

    // The share of dropped frames of the current output, in percent; 0 when none.
    double droppedPercent() const {
        return totalFrames > 0 && droppedFrames > 0 ? 100.0 * droppedFrames / totalFrames : 0.0;
    }
};

} // namespace relaycast
