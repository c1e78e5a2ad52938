#include "address/host_services.h"

#include <obs.h>
#include <util/bmem.h>

#include <QDateTime>
#include <QFileInfo>
#include <QMutex>

#include <memory>

namespace relaycast {
namespace {

struct FilesRead {
    QString userPath;
    QString installedPath;
    QDateTime userChanged;
    QDateTime installedChanged;
    ServiceCatalog catalog;
};

QString takeHostPath(char* path) {
    const std::unique_ptr<char, decltype(&bfree)> owned(path, &bfree);
    return path ? QString::fromUtf8(path) : QString();
}

QDateTime changedAt(const QString& path) {
    return path.isEmpty() ? QDateTime() : QFileInfo(path).lastModified();
}

} // namespace

ServiceCatalog hostServices() {
    // Never destroyed: a start checked on another thread may still read them at process exit.
    static QMutex& mutex = *new QMutex;
    static FilesRead& last = *new FilesRead;
    QString userPath;
    QString installedPath;
    if (obs_module_t* module = obs_get_module("rtmp-services")) {
        userPath = takeHostPath(obs_module_get_config_path(module, "services.json"));
        installedPath = takeHostPath(obs_find_module_file(module, "services.json"));
    }
    const QDateTime userChanged = changedAt(userPath);
    const QDateTime installedChanged = changedAt(installedPath);
    QMutexLocker lock(&mutex);
    if (last.catalog.services.isEmpty() || userPath != last.userPath ||
        installedPath != last.installedPath || userChanged != last.userChanged ||
        installedChanged != last.installedChanged)
        last = {userPath, installedPath, userChanged, installedChanged,
                loadServiceCatalog(userPath, installedPath)};
    return last.catalog;
}

} // namespace relaycast
