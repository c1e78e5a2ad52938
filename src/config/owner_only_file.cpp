#include "config/owner_only_file.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace relaycast {
namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Renames `from` over `to`, replacing it in one step.
bool renameOver(const QString& from, const QString& to, QString* error) {
#ifdef _WIN32
    if (MoveFileExW(reinterpret_cast<const wchar_t*>(from.utf16()),
                    reinterpret_cast<const wchar_t*>(to.utf16()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (error)
        *error = QStringLiteral("error %1").arg(GetLastError());
    return false;
#else
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
#endif
}

} // namespace

bool replaceOwnerOnly(const QString& path, const QByteArray& bytes, QString* error) {
    QTemporaryFile copy(path + QLatin1String(kSaveCopyInfix) + QStringLiteral("XXXXXX"));
    // QTemporaryFile creates its file readable and writable by the owner only. Asking for its
    // name gives it one at once (it may start without, on Linux): a save killed at any point
    // leaves nothing but a file named as above.
    bool written = copy.open() && !copy.fileName().isEmpty() && copy.setPermissions(kOwnerOnly) &&
                   copy.write(bytes) == bytes.size() && copy.flush();
#ifndef _WIN32
    // On disk before it replaces the old content: a power cut cannot leave an empty file.
    written = written && ::fsync(copy.handle()) == 0;
#endif
    if (!written) {
        if (error)
            *error = copy.errorString();
        return false; // the copy is removed with `copy`
    }
    copy.close();
    if (!renameOver(copy.fileName(), path, error))
        return false;
    copy.setAutoRemove(false);
    return true;
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
