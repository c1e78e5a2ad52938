#pragma once

#include <obs-frontend-api.h>

namespace relaycast {

// The one front-end event handler: registered first thing at load, removed first at unload.
void registerFrontendEvents();
void unregisterFrontendEvents();

// Routes one host front-end event to the panel (or to panel creation); never throws.
void onFrontendEvent(enum obs_frontend_event event, void* data);

} // namespace relaycast
