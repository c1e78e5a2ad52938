#include "config/owner_only_file.h"

#include <QFile>

namespace relaycast {
namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace

bool openOwnerOnly(QSaveFile& file, QString* error) {
    if (file.open(QIODevice::WriteOnly) && file.setPermissions(kOwnerOnly))
        return true;
    if (error)
        *error = file.errorString();
    if (file.isOpen())
        file.cancelWriting();
    return false;
}

bool writeOwnerOnlyCopy(const QString& path, const QByteArray& bytes, QString* error) {
    QFile::remove(path);
    QFile copy(path);
    // Narrowed right after creation, before any byte is written.
    bool written = copy.open(QIODevice::WriteOnly | QIODevice::NewOnly) &&
                   copy.setPermissions(kOwnerOnly) && copy.write(bytes) == bytes.size() &&
                   copy.flush();
    if (written) {
        copy.close();
        written = copy.error() == QFileDevice::NoError;
    }
    if (!written) {
        if (error)
            *error = copy.errorString();
        if (copy.isOpen())
            copy.remove(); // closes, then removes the partial copy
        return false;
    }
    return true;
}

} // namespace relaycast
