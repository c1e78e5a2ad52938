#pragma once

#include <QString>

#include <optional>

namespace relaycast {

// Prefix of a protected value in the settings file, followed by standard Base64 of an opaque
// blob. Any text without it (case-sensitive) is a plain value.
inline constexpr const char* kProtectedPrefix = "dpapi:";

// The stored form of a secret: empty for an empty text; the text unchanged if protection fails.
QString protectSecret(const QString& text);

// The same, but says when protection failed (no usable per-user key): nullopt then, so the
// caller can decide what to store and tell the user.
std::optional<QString> protectSecretChecked(const QString& text);

// The plain text of a stored value. A protected value that cannot be opened (another user,
// another computer, damaged) gives the empty text with ok false; never throws.
QString unprotectSecret(const QString& text, bool& ok);

} // namespace relaycast
