#include "plugin/dock.h"

#include "config/config_store.h"
#include "engine/entry/entry_controller.h"
#include "module/host_frontend.h"
#include "module/module_log.h"
#include "module/settings_path.h"
#include "panel/salidas_panel.h"

#include <QPointer>

#include <memory>

namespace relaycast {
namespace {

// Outlive the panel: destroyed only when the library leaves the process (the controller first).
std::unique_ptr<ConfigStore> g_configStore;
std::unique_ptr<EntryController> g_controller;
// The host owns the panel once it accepted the dock; this reads null once it is destroyed.
QPointer<SalidasPanel> g_panel;
std::function<void(EntryController&)> g_controllerCreated;

} // namespace

void createPanel() {
    if (g_panel)
        return;
    const QString path = resolveSettingsPath();
    if (path.isEmpty())
        return;
    // The controller goes with its store: a panel the host destroyed is built again on fresh
    // ones (the old streams stop in the background).
    g_controller.reset();
    g_configStore = std::make_unique<ConfigStore>(path);
    QString message;
    if (!g_configStore->load(&message))
        moduleLog(LOG_WARNING, "%s", message.toUtf8().constData());
    g_controller = std::make_unique<EntryController>(*g_configStore);
    g_controller->startHeartbeat();
    if (g_controllerCreated)
        g_controllerCreated(*g_controller);

    auto* panel = new SalidasPanel(*g_controller, message, nullptr);
    if (hostFrontend().addDock(panel, kDockId, kDockTitle)) {
        g_panel = panel;
        return;
    }
    moduleLog(LOG_ERROR, "OBS did not allow adding the \"Relaycast\" panel");
    delete panel;
}

void shutDownPanel() {
    // The panel first: its previews draw the pipelines the controller releases.
    if (g_panel)
        g_panel->onHostExit();
    if (g_controller)
        g_controller->shutdown();
}

EntryController* moduleController() {
    return g_controller.get();
}

ConfigStore* moduleConfigStore() {
    return g_configStore.get();
}

SalidasPanel* modulePanel() {
    return g_panel.data();
}

void setControllerCreatedHandler(std::function<void(EntryController&)> attach) {
    g_controllerCreated = std::move(attach);
    if (g_controllerCreated && g_controller)
        g_controllerCreated(*g_controller);
}

} // namespace relaycast
