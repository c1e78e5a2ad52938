#include "module/frontend_events.h"

#include "module/module_log.h"

#include <obs-frontend-api.h>

namespace relaycast {
namespace {

void onFrontendEvent(enum obs_frontend_event event, void*)
{
    try {
        // The dock panel receives scene, collection and exit events once it exists.
        (void)event;
    } catch (...) {
        moduleLog(LOG_ERROR, "unexpected error while handling an OBS event");
    }
}

} // namespace

void registerFrontendEvents()
{
    obs_frontend_add_event_callback(onFrontendEvent, nullptr);
}

void unregisterFrontendEvents()
{
    obs_frontend_remove_event_callback(onFrontendEvent, nullptr);
}

} // namespace relaycast
