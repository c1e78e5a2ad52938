#ifndef _WIN32

#include "config/secret_key_store.h"

#include "config/secret_key_file.h"

#include <QFile>

#include <sodium.h>

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace relaycast::secret_store {
namespace {

constexpr qsizetype kNonceSize = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr qsizetype kTagSize = crypto_aead_xchacha20poly1305_ietf_ABYTES;
constexpr qsizetype kHeaderSize = 1 + kNonceSize;

static_assert(kSecretKeySize == crypto_aead_xchacha20poly1305_ietf_KEYBYTES);

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// The format version is authenticated with the binding, so it cannot be swapped.
QByteArray associatedData(const QByteArray& binding) {
    return QByteArray(1, static_cast<char>(kBlobVersion)) + binding;
}

QString nonEmptyEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? QFile::decodeName(value) : QString();
}

// $HOME, else the home folder of the user's account.
QString homeFolder() {
    QString home = nonEmptyEnvironment("HOME");
    if (!home.isEmpty())
        return home;
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir)
        home = QFile::decodeName(found->pw_dir);
    return home;
}

const unsigned char* bytesOf(const QByteArray& array) {
    return reinterpret_cast<const unsigned char*>(array.constData());
}

} // namespace

QString defaultKeyFilePath() {
    QString dataHome = nonEmptyEnvironment("XDG_DATA_HOME");
    if (!dataHome.startsWith(QLatin1Char('/'))) { // a relative one is to be ignored
        const QString home = homeFolder();
        if (home.isEmpty())
            return QString();
        dataHome = home + QStringLiteral("/.local/share");
    }
    return dataHome + QStringLiteral("/relaycast/secret.key");
}

QByteArray bindingFor(const QByteArray& machineId, unsigned int userId) {
    return QByteArrayLiteral("relaycast-secret\nmachine=") + machineId +
           QByteArrayLiteral("\nuser=") + QByteArray::number(userId);
}

QByteArray currentBinding() {
    static const QByteArray machineId = [] {
        QFile file(QStringLiteral("/etc/machine-id"));
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
    }();
    return bindingFor(machineId, static_cast<unsigned int>(::getuid()));
}

SealingContext defaultContext() {
    return {defaultKeyFilePath(), currentBinding()};
}

std::optional<QByteArray> sealSecret(const QByteArray& plain, const SealingContext& context) {
    if (!sodiumReady())
        return std::nullopt;
    SecretKey key;
    if (!readOrCreateKeyFile(context.keyFilePath, key))
        return std::nullopt;

    QByteArray blob(kHeaderSize + plain.size() + kTagSize, Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(blob.data());
    out[0] = kBlobVersion;
    randombytes_buf(out + 1, kNonceSize);
    const QByteArray extra = associatedData(context.binding);
    unsigned long long sealedSize = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(
        out + kHeaderSize, &sealedSize, bytesOf(plain),
        static_cast<unsigned long long>(plain.size()), bytesOf(extra),
        static_cast<unsigned long long>(extra.size()), nullptr, out + 1, key.bytes.data());
    return blob;
}

std::optional<QByteArray> openSecret(const QByteArray& blob, const SealingContext& context) {
    if (blob.size() < kHeaderSize + kTagSize ||
        static_cast<unsigned char>(blob.at(0)) != kBlobVersion || !sodiumReady())
        return std::nullopt;
    SecretKey key;
    if (!readKeyFile(context.keyFilePath, key))
        return std::nullopt;

    const auto* in = bytesOf(blob);
    const QByteArray extra = associatedData(context.binding);
    QByteArray plain(blob.size() - kHeaderSize - kTagSize, '\0');
    unsigned long long plainSize = 0;
    const int opened = crypto_aead_xchacha20poly1305_ietf_decrypt(
        reinterpret_cast<unsigned char*>(plain.data()), &plainSize, nullptr, in + kHeaderSize,
        static_cast<unsigned long long>(blob.size() - kHeaderSize), bytesOf(extra),
        static_cast<unsigned long long>(extra.size()), in + 1, key.bytes.data());
    if (opened != 0) {
        sodium_memzero(plain.data(), static_cast<std::size_t>(plain.size()));
        return std::nullopt;
    }
    return plain;
}

} // namespace relaycast::secret_store

#endif
