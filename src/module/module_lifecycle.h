#pragma once

#include <obs-module.h>

#include <cstdint>

namespace relaycast {

// The host's semantic version 31.1.1 packed as major.minor.patch (8.8.16 bits).
inline constexpr uint32_t kModuleApiVersion = 0x1F010001;
// The project version, set in one place by the build.
inline constexpr const char* kModuleVersion = RELAYCAST_VERSION;

void setModulePointer(obs_module_t* module);
obs_module_t* modulePointer();

void setLocale(const char* locale);
void freeLocale();
bool getLocaleString(const char* key, const char** out);

// Start-up: event handler first, then the SRT references, then the version line.
bool moduleLoad();
// Settings path, store and (once it exists) the dock panel; never lets an exception out.
void modulePostLoad();
// Shut-down: event handler removed and panel shut down, then the SRT references released.
void moduleUnload();

} // namespace relaycast
