// The decoder of protected values on arbitrary stored texts and blobs. It never crashes; a
// plain text comes back unchanged; a value that does not open gives nothing; any text survives
// protection and opening.
//
// Blobs are opened with a fixed key and binding, so the seed corpus holds blobs that open on
// every machine and the fuzzer explores around real ones.

#include "config/secret_key_store.h"
#include "config/secret_protection.h"

#include "fuzz_support.h"

#include <QFile>

#include <cstddef>
#include <cstdint>

#include <sys/stat.h>

using namespace relaycast;
using namespace relaycast::secret_store;

namespace {

// The key the seed blobs were sealed with: bytes 1 to 32.
QByteArray fixedKey() {
    QByteArray key;
    for (char b = 1; b <= 32; ++b)
        key += b;
    return key;
}

const QByteArray kFixedBinding = QByteArrayLiteral("relaycast-fuzz");
SealingContext fixedContext;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const QString folder = fuzz::privateFolder();
    fuzz::usePrivateDataFolder(folder);
    const QString keyFile = defaultKeyFilePath();
    FUZZ_CHECK(QDir().mkpath(QFileInfo(keyFile).absolutePath()));
    ::chmod(QFile::encodeName(QFileInfo(keyFile).absolutePath()).constData(), 0700);
    QFile file(keyFile);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::NewOnly));
    FUZZ_CHECK(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    FUZZ_CHECK(file.write(fixedKey()) == 32);
    file.close();
    fixedContext = SealingContext{keyFile, kFixedBinding};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray raw(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const QString text = QString::fromUtf8(raw);
    const QLatin1String prefix(kProtectedPrefix);

    // As read from a settings file.
    bool ok = false;
    const QString plain = unprotectSecret(text, ok);
    if (!text.startsWith(prefix))
        FUZZ_CHECK(ok && plain == text);
    else if (!ok)
        FUZZ_CHECK(plain.isEmpty());

    // The blob inside, on the fixed key. Only a blob sealed with that key and binding opens, so
    // one that does must not open under another binding, and its content seals and opens again.
    const QByteArray blob =
        text.startsWith(prefix) ? QByteArray::fromBase64(text.mid(prefix.size()).toLatin1()) : raw;
    if (const auto opened = openSecret(blob, fixedContext)) {
        FUZZ_CHECK(!openSecret(blob, SealingContext{fixedContext.keyFilePath, "other"}));
        const auto resealed = sealSecret(*opened, fixedContext);
        FUZZ_CHECK(resealed && resealed != blob);
        FUZZ_CHECK(openSecret(*resealed, fixedContext) == opened);
    }

    // Any text survives protection and opening.
    const QString stored = protectSecret(text);
    if (text.isEmpty()) {
        FUZZ_CHECK(stored.isEmpty());
    } else {
        FUZZ_CHECK(stored.startsWith(prefix));
        FUZZ_CHECK(unprotectSecret(stored, ok) == text && ok);
    }
    return 0;
}
