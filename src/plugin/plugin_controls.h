#pragma once

#include <obs-frontend-api.h>

namespace relaycast {

// The plug-in's controls beside the dock, working on the module's entry controller. Interface
// thread only.

// At post-load, once the dock's controller exists: registers the hotkeys with their saved
// bindings. Does nothing after stopControls().
void startControls();
// The front-end events the controls follow: collection and profile changes, exit.
void routeControlEvent(enum obs_frontend_event event);
// At exit or unload, whichever comes first: every hotkey unregistered. Runs once.
void stopControls();

} // namespace relaycast
