#include "module/module_handle.h"

#include <util/text-lookup.h>

namespace relaycast {
namespace {

// The host calls every entry point on its interface thread.
obs_module_t* g_module = nullptr;
lookup_t* g_localeLookup = nullptr;

} // namespace

void setModulePointer(obs_module_t* module) {
    g_module = module;
}

obs_module_t* modulePointer() {
    return g_module;
}

void setLocale(const char* locale) {
    if (g_localeLookup)
        text_lookup_destroy(g_localeLookup);
    g_localeLookup = obs_module_load_locale(g_module, "en-US", locale);
}

void freeLocale() {
    text_lookup_destroy(g_localeLookup);
    g_localeLookup = nullptr;
}

bool getLocaleString(const char* key, const char** out) {
    return text_lookup_getstr(g_localeLookup, key, out);
}

} // namespace relaycast
