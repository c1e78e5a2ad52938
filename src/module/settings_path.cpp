#include "module/settings_path.h"

#include "module/module_handle.h"
#include "module/module_log.h"

#include <obs-module.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace relaycast {

QString adoptLegacySettings(const QString& settingsPath) {
    if (QFileInfo::exists(settingsPath))
        return settingsPath;
    QString legacyPath = settingsPath;
    legacyPath.replace(QLatin1String(kCurrentFolderSegment), QLatin1String(kLegacyFolderSegment),
                       Qt::CaseSensitive);
    if (legacyPath == settingsPath || !QFileInfo(legacyPath).isFile())
        return settingsPath;
    QDir().mkpath(QFileInfo(settingsPath).absolutePath());
    if (QFile::copy(legacyPath, settingsPath)) {
        // The file holds protected keys and addresses: owner access only, whatever the
        // legacy copy had.
        QFile::setPermissions(settingsPath, QFile::ReadOwner | QFile::WriteOwner);
        moduleLog(LOG_INFO, "previous configuration copied to the new location");
    } else {
        moduleLog(LOG_WARNING, "could not copy the previous configuration");
    }
    return settingsPath;
}

QString resolveSettingsPath() {
    char* hostPath = obs_module_get_config_path(modulePointer(), kSettingsFileName);
    const QString path = hostPath ? QString::fromUtf8(hostPath) : QString();
    bfree(hostPath);
    if (path.isEmpty()) {
        moduleLog(LOG_ERROR,
                  "could not determine the configuration folder; the panel will not be created");
        return {};
    }
    return adoptLegacySettings(path);
}

} // namespace relaycast
