#include "module/frontend_events.h"

#include "module/dock.h"
#include "module/host_frontend.h"
#include "module/module_log.h"
#include "panel/salidas_panel.h"

namespace relaycast {

// The numbers the routing relies on, as OBS 29 sends them.
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
        SalidasPanel* panel = modulePanel();
        if (!panel)
            return;
        switch (event) {
        case OBS_FRONTEND_EVENT_SCENE_CHANGED:
        case OBS_FRONTEND_EVENT_TRANSITION_STOPPED:
            panel->followLiveScene();
            break;
        case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED:
            panel->onCollectionChanged();
            break;
        case OBS_FRONTEND_EVENT_FINISHED_LOADING:
            panel->onCollectionChanged();
            hostFrontend().revealNewDock(kDockId);
            break;
        case OBS_FRONTEND_EVENT_EXIT:
            panel->onHostExit();
            break;
        case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING:
            // Not closing: the panel rebuilds for the next collection.
            panel->stopAllRuntimes();
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
