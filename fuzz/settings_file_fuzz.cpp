// The settings file reader on arbitrary bytes. It never crashes; a damaged file is copied aside
// byte for byte; whatever it reads is written back and read again unchanged (secrets as far as
// UTF-8 can hold them).

#include "config/config_store.h"

#include "fuzz_support.h"

#include <QFile>

#include <cstddef>
#include <cstdint>

using namespace relaycast;

namespace {

QString settingsPath;

// A secret is stored as UTF-8. A text that is not valid Unicode (a lone surrogate, which is
// what Qt's JSON reader makes of some invalid UTF-8) has no UTF-8 form and comes back with "?"
// in its place; everything else must come back exactly.
QString throughUtf8(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return QString::fromUtf8(utf8.constData(), utf8.size());
}

QMap<QString, CollectionConfig> asStored(QMap<QString, CollectionConfig> collections) {
    for (CollectionConfig& entries : collections)
        for (EntryConfig& entry : entries)
            for (DestConfig& dest : entry.destinos) {
                dest.clave = throughUtf8(dest.clave);
                dest.contrasena = throughUtf8(dest.contrasena);
                if (dest.url.contains(QLatin1Char('?')))
                    dest.url = throughUtf8(dest.url);
            }
    return collections;
}

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
    QString secondMessage;
    FUZZ_CHECK(second.load(&secondMessage));
    // A secret this computer cannot open is kept as stored and reported again; one that opened
    // opens again (the collections compare equal below).
    FUZZ_CHECK(secondMessage == message);
    FUZZ_CHECK(readAll(settingsPath) == written); // and none was left in the clear
    FUZZ_CHECK(second.collections() == asStored(first.collections()));
    FUZZ_CHECK(second.profiles() == first.profiles());
    return 0;
}
