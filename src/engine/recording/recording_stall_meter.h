#pragma once

#include <cstdint>

namespace relaycast {

// Tells when a recording's file stopped growing while the host still hands its writer data: a
// full disk, a folder that went away, a size limit. The host's writer logs such a failure and
// may go on reading what it is handed, so the file's own growth is what tells. The window is
// longer than the longest stretch a muxer holds data back (a Matroska cluster: 5 s).
class RecordingStallMeter {
public:
    static constexpr int64_t kWindowMs = 10000;
    static constexpr uint64_t kMinHandedBytes = 128 * 1024;

    // True once the file has kept its size for the window while the writer was handed at least
    // kMinHandedBytes. `fileBytes` is negative when the file cannot be seen.
    bool sample(int64_t nowMs, uint64_t handedBytes, int64_t fileBytes);
    void reset() { *this = RecordingStallMeter{}; }

private:
    bool started_ = false;
    int64_t lastGrowthMs_ = 0;
    uint64_t handedAtGrowth_ = 0;
    int64_t fileBytes_ = -1;
};

} // namespace relaycast
