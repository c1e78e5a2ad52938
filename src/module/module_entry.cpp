// The host's module interface: exactly these entry points are exported (exports.map).
#include "module/module_lifecycle.h"

#include <obs-module.h>

extern "C" {

void obs_module_set_pointer(obs_module_t* module)
{
    relaycast::setModulePointer(module);
}

uint32_t obs_module_ver(void)
{
    return relaycast::kModuleApiVersion;
}

void obs_module_set_locale(const char* locale)
{
    relaycast::setLocale(locale);
}

void obs_module_free_locale(void)
{
    relaycast::freeLocale();
}

bool obs_module_get_string(const char* key, const char** out)
{
    return relaycast::getLocaleString(key, out);
}

bool obs_module_load(void)
{
    return relaycast::moduleLoad();
}

void obs_module_post_load(void)
{
    relaycast::modulePostLoad();
}

void obs_module_unload(void)
{
    relaycast::moduleUnload();
}

} // extern "C"
