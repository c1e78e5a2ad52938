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

// The module's locale texts for the host's language, over the English base. Catalan, Galician
// and Basque hosts read the Spanish texts.
void setLocale(const char* locale);
// The locale the host handed over, or null before it did (code running without the module).
const char* moduleLocale();
void freeLocale();
bool getLocaleString(const char* key, const char** out);

} // namespace relaycast
