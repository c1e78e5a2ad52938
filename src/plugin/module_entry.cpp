// The host's module interface: exactly these entry points are exported (exports.map).
#include "module/module_handle.h"
#include "plugin/module_lifecycle.h"

#include <obs-module.h>

extern "C" {

MODULE_EXPORT void obs_module_set_pointer(obs_module_t* module) {
    relaycast::setModulePointer(module);
}

MODULE_EXPORT uint32_t obs_module_ver(void) {
    return relaycast::kModuleApiVersion;
}

MODULE_EXPORT void obs_module_set_locale(const char* locale) {
    relaycast::setLocale(locale);
}

MODULE_EXPORT void obs_module_free_locale(void) {
    relaycast::freeLocale();
}

MODULE_EXPORT bool obs_module_get_string(const char* key, const char** out) {
    return relaycast::getLocaleString(key, out);
}

MODULE_EXPORT bool obs_module_load(void) {
    return relaycast::moduleLoad();
}

MODULE_EXPORT void obs_module_post_load(void) {
    relaycast::modulePostLoad();
}

MODULE_EXPORT void obs_module_unload(void) {
    relaycast::moduleUnload();
}

} // extern "C"
