#pragma once

#include <obs-module.h>

#include <cstdint>

namespace relaycast {

// The host's semantic version 31.1.1 packed as major.minor.patch (8.8.16 bits).
inline constexpr uint32_t kModuleApiVersion = 0x1F010001;
// The project version, set in one place by the build.
inline constexpr const char* kModuleVersion = RELAYCAST_VERSION;

// The host's handle of this module, as the host hands it over at load.
void setModulePointer(obs_module_t* module);
obs_module_t* modulePointer();

// The module's locale texts for the host's language, over the English base.
void setLocale(const char* locale);
void freeLocale();
bool getLocaleString(const char* key, const char** out);

} // namespace relaycast
