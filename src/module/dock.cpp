#include "module/dock.h"

#include "config/config_store.h"
#include "module/module_log.h"
#include "module/settings_path.h"

#include <memory>

namespace relaycast {
namespace {

// Outlives the panel: destroyed only when the library leaves the process.
std::unique_ptr<ConfigStore> g_configStore;

} // namespace

void createPanel()
{
    const QString path = resolveSettingsPath();
    if (path.isEmpty())
        return;
    g_configStore = std::make_unique<ConfigStore>(path);
    QString error;
    if (!g_configStore->load(&error))
        moduleLog(LOG_WARNING, "%s", error.toUtf8().constData());
}

void shutDownPanel() {}

ConfigStore* moduleConfigStore()
{
    return g_configStore.get();
}

} // namespace relaycast
