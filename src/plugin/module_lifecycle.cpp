#include "plugin/module_lifecycle.h"

#include "engine/host_call_queue.h"
#include "module/module_handle.h"
#include "module/module_log.h"
#include "module/srt_guard.h"
#include "plugin/dock.h"
#include "plugin/frontend_events.h"
#include "plugin/plugin_controls.h"

#include <chrono>
#include <exception>

namespace relaycast {
namespace {

// The exit already waited for the streams to close (see EntryController::shutdown).
constexpr std::chrono::milliseconds kUnloadWait{500};

} // namespace

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
