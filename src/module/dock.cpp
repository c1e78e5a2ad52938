#include "module/dock.h"

#include "config/config_store.h"
#include "module/host_frontend.h"
#include "module/module_log.h"
#include "module/settings_path.h"
#include "panel/salidas_panel.h"

#include <QPointer>

#include <memory>

namespace relaycast {
namespace {

// Outlives the panel: destroyed only when the library leaves the process.
std::unique_ptr<ConfigStore> g_configStore;
// The host owns the panel once it accepted the dock; this reads null once it is destroyed.
QPointer<SalidasPanel> g_panel;

} // namespace

void createPanel() {
    if (g_panel)
        return;
    const QString path = resolveSettingsPath();
    if (path.isEmpty())
        return;
    g_configStore = std::make_unique<ConfigStore>(path);
    QString message;
    if (!g_configStore->load(&message))
        moduleLog(LOG_WARNING, "%s", message.toUtf8().constData());

    auto* panel = new SalidasPanel(g_configStore.get(), message, nullptr);
    if (hostFrontend().addDock(panel, kDockId, kDockTitle)) {
        g_panel = panel;
        return;
    }
    moduleLog(LOG_ERROR, "OBS did not allow adding the \"Relaycast\" panel");
    delete panel;
}

void shutDownPanel() {
    if (g_panel)
        g_panel->onHostExit();
}

ConfigStore* moduleConfigStore() {
    return g_configStore.get();
}

SalidasPanel* modulePanel() {
    return g_panel.data();
}

} // namespace relaycast
