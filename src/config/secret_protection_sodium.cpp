#ifndef _WIN32

#include "config/secret_protection.h"

#include "config/secret_key_store.h"

#include <sodium.h>

namespace relaycast {
namespace {

void wipe(QByteArray& bytes) {
    if (!bytes.isEmpty())
        sodium_memzero(bytes.data(), static_cast<std::size_t>(bytes.size()));
}

} // namespace

std::optional<QString> protectSecretChecked(const QString& text) {
    if (text.isEmpty())
        return QString();
    QByteArray plain = text.toUtf8();
    const std::optional<QByteArray> blob =
        secret_store::sealSecret(plain, secret_store::defaultContext());
    wipe(plain);
    if (!blob)
        return std::nullopt;
    return QLatin1String(kProtectedPrefix) + QString::fromLatin1(blob->toBase64());
}

QString protectSecret(const QString& text) {
    // Written in the clear when it fails; the next load notices and tries again.
    return protectSecretChecked(text).value_or(text);
}

QString unprotectSecret(const QString& text, bool& ok) {
    ok = true;
    const QLatin1String prefix(kProtectedPrefix);
    if (!text.startsWith(prefix))
        return text;
    // Lenient decoding: characters outside the alphabet are skipped.
    const QByteArray blob = QByteArray::fromBase64(text.mid(prefix.size()).toLatin1());
    std::optional<QByteArray> plain =
        secret_store::openSecret(blob, secret_store::defaultContext());
    if (!plain) {
        ok = false;
        return QString();
    }
    // With its size: Qt 5 would stop the text at an embedded NUL character.
    const QString result = QString::fromUtf8(plain->constData(), plain->size());
    wipe(*plain);
    return result;
}

} // namespace relaycast

#endif
