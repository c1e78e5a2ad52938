#pragma once

namespace relaycast {

// Start-up: event handler first, then the version line (SRT references are taken by the first
// SRT stream).
bool moduleLoad();
// Settings path, store and (once it exists) the dock panel, then hotkeys and remote control;
// never lets an exception out.
void modulePostLoad();
// Shut-down: event handler removed, controls and panel shut down, then the SRT references
// released.
void moduleUnload();

} // namespace relaycast
