#pragma once

#include <QString>

namespace relaycast {

inline constexpr const char* kSettingsFileName = "salidas.json";
inline constexpr const char* kCurrentFolderSegment = "/relaycast/";
inline constexpr const char* kLegacyFolderSegment = "/flujomix/";

// The settings file's full path from the host, or empty (logged) when the host has none.
// Brings a settings file over from the legacy folder once.
QString resolveSettingsPath();

// The legacy-copy rule on a known path: when nothing exists at `settingsPath` and a file
// exists at its legacy twin, copies it over. Returns `settingsPath`.
QString adoptLegacySettings(const QString& settingsPath);

} // namespace relaycast
