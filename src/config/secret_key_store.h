#pragma once

#ifndef _WIN32

#include <QByteArray>
#include <QString>

#include <optional>

namespace relaycast::secret_store {

// Sealed secrets on systems without a per-user protection service of their own.
//
// Each user has one random 32-byte key in a file only that user can read, kept in the user's
// data folder (never beside the settings file, so a copied settings file is useless alone).
// A blob is [format version][nonce][ciphertext and tag] of XChaCha20-Poly1305; the
// associated data binds it to the computer and the user id, so the same key file on another
// computer or under another user id does not open it either.

inline constexpr unsigned char kBlobVersion = 1;

// Where the key of a sealing lives and what the blob is bound to.
struct SealingContext {
    QString keyFilePath;
    QByteArray binding;
};

// $XDG_DATA_HOME/relaycast/secret.key when that is an absolute path, else
// <home>/.local/share/relaycast/secret.key with the home from $HOME or the user's account; empty
// when there is no home at all.
QString defaultKeyFilePath();

// The binding of a blob to one computer and one user.
QByteArray bindingFor(const QByteArray& machineId, unsigned int userId);

// This computer (/etc/machine-id, empty when unreadable) and the current user id.
QByteArray currentBinding();

// The context of protectSecret / unprotectSecret.
SealingContext defaultContext();

// Seals `plain`, creating the key file (and its folder) on first use. Empty on failure.
std::optional<QByteArray> sealSecret(const QByteArray& plain, const SealingContext& context);

// Opens a sealed blob. Never creates a key: a missing key file is a failure. Empty on any
// failure (damaged or short blob, unknown version, other key, other computer or user).
std::optional<QByteArray> openSecret(const QByteArray& blob, const SealingContext& context);

} // namespace relaycast::secret_store

#endif
