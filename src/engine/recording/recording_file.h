#pragma once

#include "config/config_model.h"

#include <QString>

namespace relaycast {

// Where OBS's own recordings of the current profile go and how their files are named.
struct HostRecordingPlace {
    QString folder;
    QString nameFormat; // OBS's "%CCYY-%MM-%DD %hh-%mm-%ss" style
    bool spaces = true; // false: spaces in names become underscores
};

// Read from the profile's output settings (simple or advanced mode); the user's video folder
// and OBS's default format for what the profile leaves unset.
HostRecordingPlace hostRecordingPlace();

// The largest file name, in UTF-8 bytes, that the file systems OBS records to take.
inline constexpr qsizetype kMaxFileNameBytes = 255;

// The marker that holds a recording's name beside its file (see RecordingFileClaim) is the name
// with a dot before it (hidden, as a file browser shows the folder) and this suffix after it; a
// recording's name leaves room for both.
inline constexpr char kClaimMarkerSuffix[] = ".relaycast-claim";
inline constexpr qsizetype kMaxRecordingFileNameBytes =
    kMaxFileNameBytes - 1 - static_cast<qsizetype>(sizeof kClaimMarkerSuffix - 1);

// The file a new recording is to write, decided without touching the disk (see
// claimRecordingFile for the name it gets).
struct RecordingFileName {
    QString folder;
    QString stem;      // OBS's name for the time now, the entry's name after it
    QString extension; // with its dot

    // The name with " (number)" before the extension from 2 on, the stem shortened on a
    // character boundary so that the whole name fits kMaxRecordingFileNameBytes.
    QString fileName(int number) const;
};

// Whether `folder` holds none of the characters a shell reads inside double quotes ("$", "`",
// "\", '"'): OBS 29 starts its file writer with the file's path through "sh -c", which would run
// what such a folder name says. A recording to another folder is refused rather than started.
bool folderSafeForShell(const QString& folder);

// The entry's folder (OBS's when it has none), a name from OBS's format (the time now) with the
// entry's name after it, made safe for any file system, and the format's extension.
RecordingFileName recordingFileName(const RecordingConfig& recording,
                                    const HostRecordingPlace& host, const QString& entryName);

} // namespace relaycast
