// The settings file reader on arbitrary bytes. It never crashes; a damaged file is copied aside
// byte for byte; whatever it reads is written back and read again unchanged.

#include "config/config_store.h"

#include "fuzz_support.h"

#include <QFile>

#include <cstddef>
#include <cstdint>

using namespace relaycast;

namespace {

QString settingsPath;

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const QString folder = fuzz::privateFolder();
    fuzz::usePrivateDataFolder(folder);
    settingsPath = folder + QStringLiteral("/salidas.json");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    QFile::remove(settingsPath + QStringLiteral(".danado"));
    {
        QFile file(settingsPath);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(bytes) == bytes.size());
    }

    ConfigStore first(settingsPath);
    QString message;
    if (!first.load(&message)) {
        FUZZ_CHECK(readAll(settingsPath + QStringLiteral(".danado")) == bytes);
        FUZZ_CHECK(!first.saveBlocked());
        FUZZ_CHECK(first.collections().isEmpty() && first.profiles().isEmpty());
        return 0;
    }

    FUZZ_CHECK(first.save());
    const QByteArray written = readAll(settingsPath);
    ConfigStore second(settingsPath);
    message.clear();
    FUZZ_CHECK(second.load(&message));
    FUZZ_CHECK(message.isEmpty());                // every secret it wrote opens again
    FUZZ_CHECK(readAll(settingsPath) == written); // and none was left in the clear
    FUZZ_CHECK(second.collections() == first.collections());
    FUZZ_CHECK(second.profiles() == first.profiles());
    return 0;
}
