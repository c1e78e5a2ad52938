// The update banner near the top of the dock.

#include "editor/themed_icon.h"
#include "module/module_handle.h"
#include "module/module_log.h"
#include "module/ui_text.h"
#include "panel/salidas_panel.h"
#include "update/version_rules.h"

#include <QDesktopServices>
#include <QLabel>
#include <QUrl>

namespace relaycast {

void SalidasPanel::showUpdateBanner(const QString& version, const QString& url) {
    downloadUrl = url;
    setIconLabelText(bannerLabel, uiText("⬆ Hay una versión nueva: %1 (tienes la %2).")
                                      .arg(version, QString::fromUtf8(kModuleVersion)));
    bannerWidget->show();
    moduleLog(LOG_INFO, "a newer version of the plugin is available: %s",
              version.toUtf8().constData());
}

void SalidasPanel::openDownloadUrl() {
    if (isAcceptedDownloadUrl(downloadUrl))
        QDesktopServices::openUrl(QUrl(downloadUrl));
}

} // namespace relaycast
