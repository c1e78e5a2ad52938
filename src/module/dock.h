#pragma once

namespace relaycast {

class ConfigStore;

// Resolves the settings path, creates and loads the one configuration store.
void createPanel();
// Stops the panel (once) at host exit or unload.
void shutDownPanel();
// The module's store, or null before the first successful creation.
ConfigStore* moduleConfigStore();

} // namespace relaycast
