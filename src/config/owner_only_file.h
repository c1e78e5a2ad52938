#pragma once

#include <QByteArray>
#include <QString>

namespace relaycast {

// The settings file and its copy aside hold protected keys and addresses, so they are readable
// and writable by their owner only.

// What a save's temporary copy of `path` is called: the file's name, this infix and six random
// letters or digits. A name no user gives a file, so a copy left by a killed save can be told
// from the user's own files.
inline constexpr const char* kSaveCopyInfix = ".relaycast-save-";

// Replaces `path` atomically with an owner-only file holding `bytes`: written in full to a
// temporary copy beside it (owner-only from its creation), flushed to disk, then renamed over
// `path`. False (with `error` filled) when the new content is not in place; the copy is removed
// then, and only a killed process leaves it behind.
bool replaceOwnerOnly(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// Replaces whatever is at `path` with a new owner-only file holding `bytes`. False (with
// `error` filled) when the old file cannot be removed or the new one cannot be fully written;
// a partial file is removed.
bool writeOwnerOnlyCopy(const QString& path, const QByteArray& bytes, QString* error = nullptr);

} // namespace relaycast
