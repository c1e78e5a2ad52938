#pragma once

#include "config/config_model.h"

#include <QString>

#include <functional>

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

// The file a new recording of `entryName` writes: the entry's folder (OBS's when it has none),
// a name from OBS's format (the time now) with the entry's name after it, the format's
// extension, and
// " (2)", " (3)"... before it while a file of that name exists, so no file is ever
// overwritten. Empty with the user message in `error` when the folder does not exist or cannot
// be written. `exists` answers for a path (tests pass their own).
QString newRecordingPath(const RecordingConfig& recording, const HostRecordingPlace& host,
                         const QString& entryName, QString* error,
                         const std::function<bool(const QString&)>& exists = {});

} // namespace relaycast
