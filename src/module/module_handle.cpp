#include "module/module_handle.h"

#include "module/ui_text.h"

#include <util/text-lookup.h>

#include <string>

namespace relaycast {
namespace {

// The host calls every entry point on its interface thread.
obs_module_t* g_module = nullptr;
lookup_t* g_localeLookup = nullptr;
bool g_localeSet = false;
std::string g_locale;

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
    g_locale = locale ? locale : "";
    g_localeSet = true;
    const QByteArray language = interfaceLanguageOf(locale).toUtf8();
    g_localeLookup = obs_module_load_locale(g_module, "en-US", language.constData());
}

const char* moduleLocale() {
    return g_localeSet ? g_locale.c_str() : nullptr;
}

void freeLocale() {
    text_lookup_destroy(g_localeLookup);
    g_localeLookup = nullptr;
}

bool getLocaleString(const char* key, const char** out) {
    return text_lookup_getstr(g_localeLookup, key, out);
}

} // namespace relaycast
