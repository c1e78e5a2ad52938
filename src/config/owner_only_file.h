#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

namespace relaycast {

// The settings file and its copy aside hold protected keys and addresses, so they are readable
// and writable by their owner only.

// Opens `file` for writing and narrows its temporary file to the owner before any byte is
// written (QSaveFile otherwise copies the permissions of the file it replaces). On failure
// `error` tells why and nothing must be written; destroying `file` discards its temporary file.
bool openOwnerOnly(QSaveFile& file, QString* error = nullptr);

// Replaces whatever is at `path` with a new owner-only file holding `bytes`. False (with
// `error` filled) when the old file cannot be removed or the new one cannot be fully written;
// a partial file is removed.
bool writeOwnerOnlyCopy(const QString& path, const QByteArray& bytes, QString* error = nullptr);

} // namespace relaycast
