#pragma once

#include <functional>

namespace relaycast {

class ConfigStore;
class EntryController;
class SalidasPanel;

inline constexpr const char* kDockId = "relaycast-panel";
inline constexpr const char* kDockTitle = "Relaycast";

// Resolves the settings path, creates and loads the configuration store, the entry controller
// that runs its entries (heartbeat started), creates the dock panel and hands it to the host.
// Does nothing while the panel exists.
void createPanel();
// Shuts the panel and the controller down (once) at host exit or unload, when they exist.
void shutDownPanel();
// The module's store, or null before the first successful creation.
ConfigStore* moduleConfigStore();
// The module's entry controller (with the store), or null before it exists.
EntryController* moduleController();
// The dock panel, or null before it exists and once the host destroyed it.
SalidasPanel* modulePanel();
// Runs `attach` now on the module's controller when it exists, and on every controller created
// later (a panel the host destroyed is rebuilt on a new one). Null removes it.
void setControllerCreatedHandler(std::function<void(EntryController&)> attach);

} // namespace relaycast
