#pragma once

#include "engine/recording/folder_call.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace relaycast {

// Looks at a recording's file off the interface thread (see FolderCall), one look at a time:
// the file's size tells whether the host's writer still gets its data to the disk, the free
// space of its disk why not. Interface thread.
class RecordingFileWatch {
public:
    struct Look {
        int64_t fileBytes = -1; // -1 when the file cannot be seen
        int64_t freeBytes = -1; // on its disk; -1 when not known
    };

    // Each heartbeat: the look that came back since the last call, if one did; a new one is
    // asked whenever none is under way. `handedBytes`: what the host's writer took so far.
    std::optional<Look> poll(const QString& path, uint64_t handedBytes);
    // The look under way has gone unanswered for kFolderAnswerBound, or the folder was already
    // known not to answer when the look was due.
    bool folderSilent() const { return refused_ || look_.overdue(); }
    // The folder is silent and the writer has taken nothing for kFolderAnswerBound either: the
    // host's writer waits for the folder, and so do the encoders it shares with the streams.
    bool writerStuck() const;
    // Forgets the look under way (its thread finishes on its own).
    void reset() { *this = RecordingFileWatch{}; }

private:
    FolderCall<Look> look_;
    bool refused_ = false;
    std::optional<uint64_t> handed_;
    std::chrono::steady_clock::time_point handedChangedAt_;
};

} // namespace relaycast
