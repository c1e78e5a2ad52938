#pragma once

// Shared by the fuzz targets: a property check that stops the run (libFuzzer then keeps the
// input that broke it) and a private per-user data folder, so sealing secrets never reads or
// creates the real user's key.

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QString>

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace relaycast::fuzz {

// A fresh folder for this run: inside $RELAYCAST_FUZZ_DIR when set (scripts/fuzz removes it
// afterwards, as libFuzzer ends with _exit), else on the memory file system when there is one
// (targets that write files run millions of times).
inline QString privateFolder() {
    QString base = qEnvironmentVariable("RELAYCAST_FUZZ_DIR");
    if (base.isEmpty())
        base = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
                                                                  : QDir::tempPath();
    QByteArray pattern = QFile::encodeName(base + QStringLiteral("/relaycast-fuzz-XXXXXX"));
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    return QFile::decodeName(pattern);
}

// Points the per-user data folder (where the sealing key lives) at `folder`.
inline void usePrivateDataFolder(const QString& folder) {
    qputenv("XDG_DATA_HOME", QFile::encodeName(folder + QStringLiteral("/data")));
}

} // namespace relaycast::fuzz
