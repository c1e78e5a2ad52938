#ifdef _WIN32

#include "config/secret_protection.h"

#include <QByteArray>

#include <windows.h>

#include <wincrypt.h>

#ifdef _MSC_VER
#pragma comment(lib, "crypt32.lib")
#endif

namespace relaycast {

QString protectSecret(const QString& text) {
    // Written in the clear when it fails; the next load notices and tries again.
    return protectSecretChecked(text).value_or(text);
}

std::optional<QString> protectSecretChecked(const QString& text) {
    if (text.isEmpty())
        return QString();
    QByteArray plain = text.toUtf8();
    DATA_BLOB input{static_cast<DWORD>(plain.size()), reinterpret_cast<BYTE*>(plain.data())};
    DATA_BLOB output{};
    const BOOL protectedOk = CryptProtectData(&input, L"Relaycast", nullptr, nullptr, nullptr,
                                              CRYPTPROTECT_UI_FORBIDDEN, &output);
    SecureZeroMemory(plain.data(), static_cast<SIZE_T>(plain.size()));
    if (!protectedOk)
        return std::nullopt;
    const QByteArray blob(reinterpret_cast<const char*>(output.pbData),
                          static_cast<qsizetype>(output.cbData));
    LocalFree(output.pbData);
    return QLatin1String(kProtectedPrefix) + QString::fromLatin1(blob.toBase64());
}

QString unprotectSecret(const QString& text, bool& ok) {
    ok = true;
    const QLatin1String prefix(kProtectedPrefix);
    if (!text.startsWith(prefix))
        return text;
    // Lenient decoding: characters outside the alphabet are skipped.
    QByteArray blob = QByteArray::fromBase64(text.mid(prefix.size()).toLatin1());
    DATA_BLOB input{static_cast<DWORD>(blob.size()), reinterpret_cast<BYTE*>(blob.data())};
    DATA_BLOB output{};
    if (!CryptUnprotectData(&input, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            &output)) {
        ok = false;
        return QString();
    }
    const QString plain = QString::fromUtf8(reinterpret_cast<const char*>(output.pbData),
                                            static_cast<qsizetype>(output.cbData));
    SecureZeroMemory(output.pbData, output.cbData);
    LocalFree(output.pbData);
    return plain;
}

} // namespace relaycast

#endif
