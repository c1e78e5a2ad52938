#include "plugin/plugin_controls.h"

#include "engine/entry/entry_controller.h"
#include "panel/salidas_panel.h"
#include "plugin/collection_watch.h"
#include "plugin/dock.h"
#include "plugin/entry_hotkeys.h"
#include "plugin/remote_control.h"
#include "plugin/websocket_vendor.h"

#include <memory>

namespace relaycast {
namespace {

// obs-websocket may hand a request over until the vendor is closed: the vendor lives as long
// as the plug-in's code.
WebSocketVendor g_vendor;
std::unique_ptr<RemoteControl> g_remote;
std::unique_ptr<EntryHotkeys> g_hotkeys;
std::unique_ptr<CollectionWatch> g_collections;
bool g_stopped = false;

EntryController* currentController() {
    return moduleController();
}

// The listeners stay with their controller; they act only while the controls run.
void attach(EntryController& controller) {
    controller.addChangeListener([](const DestinationChange& change) {
        if (g_remote)
            g_remote->tell(change);
    });
    // Every change to the entries is told, whoever made it: the hotkeys follow at once.
    controller.addEntryListListener([](const EntryListChange& change) {
        if (g_hotkeys)
            g_hotkeys->sync();
        if (g_remote)
            g_remote->tellEntryList(change);
    });
    controller.addHeartbeatListener([&controller] {
        if (g_remote)
            g_remote->refreshSnapshot(controller);
    });
}

// The followed collection changed, or entries were set aside: the dock shows it now (a rename
// brings no collection-changed event).
void collectionFollowed(const CollectionFollower::Outcome&) {
    if (SalidasPanel* panel = modulePanel())
        panel->onCollectionChanged();
}

} // namespace

void startControls() {
    if (g_stopped || g_hotkeys)
        return;
    setControllerCreatedHandler(attach);
    g_hotkeys = std::make_unique<EntryHotkeys>(currentController);
    g_collections =
        std::make_unique<CollectionWatch>(moduleConfigStore, g_hotkeys.get(), collectionFollowed);
    g_remote = std::make_unique<RemoteControl>(g_vendor, currentController);
    g_remote->open();
}

void routeControlEvent(enum obs_frontend_event event) {
    if (g_collections)
        g_collections->onEvent(event);
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
    case OBS_FRONTEND_EVENT_PROFILE_RENAMED:
        if (g_hotkeys)
            g_hotkeys->profileRenamed();
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
    g_remote.reset();
    g_collections.reset();
    g_hotkeys.reset();
}

} // namespace relaycast
