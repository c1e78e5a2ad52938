#pragma once

#include <obs-frontend-api.h>

namespace relaycast {

// The plug-in's controls beside the dock: its hotkeys and remote control over obs-websocket,
// both working on the module's entry controller. Interface thread only.

// At post-load (obs-websocket has loaded by then, if it is there), once the dock's controller
// exists: registers the hotkeys with their saved bindings and the obs-websocket vendor. Does
// nothing after stopControls().
void startControls();
// The front-end events the controls follow: collection and profile changes, exit.
void routeControlEvent(enum obs_frontend_event event);
// At exit or unload, whichever comes first: requests still waiting are answered, the vendor's
// requests and every hotkey unregistered. Runs once.
void stopControls();

} // namespace relaycast
