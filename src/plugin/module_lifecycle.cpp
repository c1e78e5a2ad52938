#include "plugin/module_lifecycle.h"

#include "engine/entry/entry_controller.h"
#include "engine/host/host_call_queue.h"
#include "module/module_handle.h"
#include "module/module_log.h"
#include "module/srt_guard.h"
#include "plugin/dock.h"
#include "plugin/frontend_events.h"
#include "plugin/plugin_controls.h"

#include <chrono>
#include <exception>

namespace relaycast {

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
    // Nothing of the plug-in may still run once its code is unloaded. The exit's one bound,
    // counted from its shutdown, is what is left to wait; calls still stuck then are given up.
    const auto now = std::chrono::steady_clock::now();
    const EntryController* controller = moduleController();
    const auto left = controller && controller->exitDeadline() > now
                          ? std::chrono::duration_cast<std::chrono::milliseconds>(
                                controller->exitDeadline() - now)
                          : std::chrono::milliseconds(0);
    if (!stopBackgroundHostCalls(left))
        moduleLog(LOG_WARNING, "host calls still stuck at unload were given up");
    releaseSrtReferences();
    moduleLog(LOG_INFO, "Relaycast unloaded");
}

} // namespace relaycast
