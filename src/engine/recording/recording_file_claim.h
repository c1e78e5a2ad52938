#pragma once

#include "engine/recording/recording_file.h"

#include <QString>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace relaycast {

// The files a new recording may take, in the order they are tried: its folder and the names
// file.fileName(1), (2), ... Made on the calling thread (see nativePath).
struct RecordingFileCandidates {
    QString folder;
    std::filesystem::path nativeFolder;
    std::vector<std::pair<QString, std::filesystem::path>> paths;
};
RecordingFileCandidates recordingFileCandidates(const RecordingFileName& file);

struct RecordingFileChoice;

// Checks that the folder exists and claims the first candidate that no recording of this
// process holds and that no file on the disk has. Touches the disk: never on the interface
// thread (see FolderCall).
RecordingFileChoice claimRecordingFile(const RecordingFileCandidates& candidates);

// A recording's file name, held from the moment it is chosen until the recording's output is
// released, so that two recordings never write one file:
// - no other recording of this process gets it (a process-wide set of names in use): the host's
//   file output removes the file it is handed when it starts and creates it again only when its
//   first packet arrives, so the disk alone cannot tell that the name is taken;
// - an empty file of that name, created exclusively, keeps other programs (a second OBS) from
//   taking it meanwhile; the host's writer writes over it;
// - a hidden marker beside it (see kClaimMarkerSuffix), created exclusively and kept for the
//   whole recording, holds the name also while the host's output has removed the file as it
//   starts: a claim through another spelling of the folder (a link, a second OBS) finds it and
//   takes the next name. In this process names are compared by their folder's canonical path.
// When the claim goes, its empty file is removed if it is still the one the claim made and
// still empty (the recording never wrote to it), then its marker, then the name is let go of:
// on a thread of their own, whatever thread lets the claim go.
class RecordingFileClaim {
public:
    ~RecordingFileClaim();
    RecordingFileClaim(const RecordingFileClaim&) = delete;
    RecordingFileClaim& operator=(const RecordingFileClaim&) = delete;

    const QString& path() const { return path_; }

    // Once the host's output started (and removed the file): creates the empty file again
    // unless the writer already did. Returns at once: the disk is touched on a thread of its
    // own (see FolderCall), so a folder that stops answering holds up no strand.
    void holdAgain();

    // The empty file the claim made, as the disk knows it.
    struct Placeholder {
        bool made = false;
        uint64_t device = 0;
        uint64_t inode = 0;
    };

private:
    friend RecordingFileChoice claimRecordingFile(const RecordingFileCandidates& candidates);
    RecordingFileClaim(QString path, std::filesystem::path native, std::filesystem::path marker,
                       std::string key);

    // What the claim's own threads share: a making again and the removal at its end may run at
    // once, the removal always last.
    struct Held {
        std::mutex lock;
        std::filesystem::path native;
        std::filesystem::path marker;
        Placeholder placeholder;
        bool gone = false;
    };
    QString path_;
    QString folder_;
    std::string key_; // in the process's names in use
    std::shared_ptr<Held> held_;
};

struct RecordingFileChoice {
    std::unique_ptr<RecordingFileClaim> claim; // null when the folder cannot take the file
    bool folderMissing = false;                // then: it does not exist (or is no folder)
};

} // namespace relaycast
