#include "plugin/plugin_controls.h"

#include "engine/entry_controller.h"
#include "module/dock.h"
#include "plugin/entry_hotkeys.h"

#include <memory>

namespace relaycast {
namespace {

std::unique_ptr<EntryHotkeys> g_hotkeys;
bool g_stopped = false;

EntryController* currentController() {
    return moduleController();
}

// The listener stays with its controller; it acts only while the hotkeys exist.
void attach(EntryController& controller) {
    // Entries come and go through the dock: the hotkeys follow on the next heartbeat.
    controller.addHeartbeatListener([] {
        if (g_hotkeys)
            g_hotkeys->sync();
    });
}

} // namespace

void startControls() {
    if (g_stopped || g_hotkeys)
        return;
    setControllerCreatedHandler(attach);
    g_hotkeys = std::make_unique<EntryHotkeys>(currentController);
}

void routeControlEvent(enum obs_frontend_event event) {
    switch (event) {
    case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED:
    case OBS_FRONTEND_EVENT_FINISHED_LOADING:
        if (g_hotkeys)
            g_hotkeys->sync();
        break;
    case OBS_FRONTEND_EVENT_PROFILE_CHANGING:
        if (g_hotkeys)
            g_hotkeys->profileChanging();
        break;
    case OBS_FRONTEND_EVENT_PROFILE_CHANGED:
        if (g_hotkeys)
            g_hotkeys->profileChanged();
        break;
    case OBS_FRONTEND_EVENT_EXIT:
        stopControls();
        break;
    default:
        break;
    }
}

void stopControls() {
    if (g_stopped)
        return;
    g_stopped = true;
    setControllerCreatedHandler(nullptr);
    g_hotkeys.reset();
}

} // namespace relaycast
