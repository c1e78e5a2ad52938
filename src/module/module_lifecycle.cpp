#include "module/module_lifecycle.h"

#include "engine/host_call_queue.h"
#include "module/dock.h"
#include "module/frontend_events.h"
#include "module/module_log.h"
#include "module/srt_guard.h"
#include "plugin/plugin_controls.h"

#include <util/text-lookup.h>

#include <chrono>
#include <exception>

namespace relaycast {
namespace {

// Module-level state; the host calls every entry point on its interface thread.
obs_module_t* g_module = nullptr;
lookup_t* g_localeLookup = nullptr;

// The exit already waited for the streams to close (see EntryController::shutdown).
constexpr std::chrono::milliseconds kUnloadWait{500};

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

bool moduleLoad() {
    registerFrontendEvents();
    // SRT references are taken by the first SRT stream (see holdSrtReferences).
    moduleLog(LOG_INFO, "Relaycast loaded (version %s)", kModuleVersion);
    return true;
}

void modulePostLoad() {
    try {
        createPanel();
    } catch (...) {
        moduleLog(LOG_ERROR, "unexpected error while creating the panel");
    }
    try {
        // obs-websocket has loaded by now, if it is there at all.
        startControls();
    } catch (...) {
        moduleLog(LOG_ERROR, "unexpected error while setting up hotkeys and remote control");
    }
}

void moduleUnload() {
    unregisterFrontendEvents();
    stopControls();
    shutDownPanel();
    // Nothing of the plug-in may still run once its code is unloaded; calls that the bounded
    // wait at exit left stuck are given up rather than waited for.
    if (!stopBackgroundHostCalls(kUnloadWait))
        moduleLog(LOG_WARNING, "host calls still stuck at unload were given up");
    releaseSrtReferences();
    moduleLog(LOG_INFO, "Relaycast unloaded");
}

} // namespace relaycast
