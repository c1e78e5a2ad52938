#include "plugin/frontend_events.h"

#include "engine/entry/entry_controller.h"
#include "module/host_frontend.h"
#include "module/module_log.h"
#include "panel/salidas_panel.h"
#include "plugin/dock.h"
#include "plugin/plugin_controls.h"

namespace relaycast {

// The numbers the routing relies on, as OBS 29 sends them.
static_assert(OBS_FRONTEND_EVENT_STREAMING_STARTED == 1);
static_assert(OBS_FRONTEND_EVENT_STREAMING_STOPPED == 3);
static_assert(OBS_FRONTEND_EVENT_SCENE_CHANGED == 8);
static_assert(OBS_FRONTEND_EVENT_TRANSITION_STOPPED == 11);
static_assert(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED == 13);
static_assert(OBS_FRONTEND_EVENT_EXIT == 17);
static_assert(OBS_FRONTEND_EVENT_FINISHED_LOADING == 26);
static_assert(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING == 34);

void onFrontendEvent(enum obs_frontend_event event, void*) {
    try {
        if (event == OBS_FRONTEND_EVENT_FINISHED_LOADING)
            createPanel();
        // Streams end at exit while tools that drive the plug-in can still hear it.
        if (event == OBS_FRONTEND_EVENT_EXIT && moduleController())
            moduleController()->stopEverything();
        // Hotkeys and remote control first: at exit no request may reach a controller that
        // is shutting down.
        routeControlEvent(event);
        EntryController* controller = moduleController();
        SalidasPanel* panel = modulePanel();
        switch (event) {
        case OBS_FRONTEND_EVENT_SCENE_CHANGED:
        case OBS_FRONTEND_EVENT_TRANSITION_STOPPED:
            if (panel)
                panel->followLiveScene();
            else if (controller)
                controller->followLiveScene();
            break;
        case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED:
            if (panel)
                panel->onCollectionChanged();
            break;
        case OBS_FRONTEND_EVENT_FINISHED_LOADING:
            if (panel) {
                panel->onCollectionChanged();
                hostFrontend().revealNewDock(kDockId);
            }
            break;
        case OBS_FRONTEND_EVENT_EXIT:
            shutDownPanel();
            break;
        case OBS_FRONTEND_EVENT_STREAMING_STARTED:
            if (controller)
                controller->onHostStreamStarted();
            break;
        case OBS_FRONTEND_EVENT_STREAMING_STOPPED:
            if (controller)
                controller->onHostStreamStopped();
            break;
        case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING:
        case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CLEANUP:
            // Not closing: the controller goes on with the next collection's entries. Newer
            // hosts clear and reload the scenes on a rename or duplicate without announcing a
            // change first: what the streams draw is being destroyed.
            if (controller)
                controller->stopEverything();
            break;
        default:
            break;
        }
    } catch (...) {
        moduleLog(LOG_ERROR, "unexpected error while handling an OBS event");
    }
}

void registerFrontendEvents() {
    obs_frontend_add_event_callback(onFrontendEvent, nullptr);
}

void unregisterFrontendEvents() {
    obs_frontend_remove_event_callback(onFrontendEvent, nullptr);
}

} // namespace relaycast
