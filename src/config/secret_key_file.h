#pragma once

#ifndef _WIN32

#include <QString>

#include <array>
#include <cstddef>

namespace relaycast::secret_store {

inline constexpr std::size_t kSecretKeySize = 32;

// A sealing key; wiped when it goes out of scope.
struct SecretKey {
    std::array<unsigned char, kSecretKeySize> bytes{};

    SecretKey() = default;
    SecretKey(const SecretKey&) = delete;
    SecretKey& operator=(const SecretKey&) = delete;
    ~SecretKey();
};

// Reads the key file at `path`. False when it is missing, or is not a regular file of exactly
// the key size owned by the user with mode 0600; never creates anything.
bool readKeyFile(const QString& path, SecretKey& key);

// Reads the key file, first creating it with a fresh random key (file 0600, folder 0700) when
// there is none. Safe against other processes doing the same at once: all end up with the key
// that was linked into place first. A relative path is refused.
bool readOrCreateKeyFile(const QString& path, SecretKey& key);

} // namespace relaycast::secret_store

#endif
