#pragma once

namespace relaycast {

class ConfigStore;
class SalidasPanel;

inline constexpr const char* kDockId = "relaycast-panel";
inline constexpr const char* kDockTitle = "Relaycast";

// Resolves the settings path, creates and loads the configuration store, creates the dock
// panel and hands it to the host. Does nothing while the panel exists.
void createPanel();
// Shuts the panel down (once) at host exit or unload, when it exists.
void shutDownPanel();
// The module's store, or null before the first successful creation.
ConfigStore* moduleConfigStore();
// The dock panel, or null before it exists and once the host destroyed it.
SalidasPanel* modulePanel();

} // namespace relaycast
