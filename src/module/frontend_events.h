#pragma once

namespace relaycast {

// The one front-end event handler: registered first thing at load, removed first at unload.
void registerFrontendEvents();
void unregisterFrontendEvents();

} // namespace relaycast
