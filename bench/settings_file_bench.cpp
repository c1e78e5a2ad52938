// Loading and saving a large settings file: 1,000 entries of 3 destinations each, every stream
// key, passphrase and query address protected. The panel saves after every change, so a save
// must stay well under a tenth of a second.

#include "config/config_store.h"

#include <benchmark/benchmark.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

namespace relaycast {
namespace {

constexpr int kEntries = 1000;

// Keeps the sealing key and the settings file out of the real user's folders.
struct BenchFolders {
    BenchFolders() {
        qputenv("HOME", dir.filePath(QStringLiteral("home")).toUtf8());
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
    }
    QString settingsPath() const { return dir.filePath(QStringLiteral("config/salidas.json")); }

    QTemporaryDir dir;
};

const BenchFolders& folders() {
    static const BenchFolders instance;
    return instance;
}

void fillLargeConfiguration(ConfigStore& store) {
    CollectionConfig& entries = store.entriesOf(QStringLiteral("Escenas"));
    for (int i = 0; i < kEntries; ++i) {
        EntryConfig entry;
        entry.id = newConfigId();
        entry.fuente = QStringLiteral("Escena %1").arg(i);
        entry.nombre = QStringLiteral("Salida %1").arg(i);
        entry.ajustesCodificador =
            QStringLiteral("{\"bf\": 2, \"keyint_sec\": 2, \"rate_control\": \"CBR\"}");
        entry.ancho = 1080;
        entry.alto = 1920;
        entry.equivalencias.insert(QStringLiteral("Directo"), QStringLiteral("Directo %1").arg(i));
        entry.destinos = {
            DestConfig{newConfigId(), QStringLiteral("rtmp://127.0.0.1/live"),
                       QStringLiteral("live_%1_a1b2c3d4e5f6g7h8").arg(i), QString()},
            DestConfig{newConfigId(), QStringLiteral("rtmps://127.0.0.1:443/app?token=%1").arg(i),
                       QStringLiteral("clave-%1").arg(i), QString()},
            DestConfig{newConfigId(),
                       QStringLiteral("srt://127.0.0.1:9000?mode=caller&latency=200"),
                       QStringLiteral("#!::r=live/%1,m=publish").arg(i),
                       QStringLiteral("frase de paso %1").arg(i)},
        };
        entries.append(entry);
    }
}

void BM_SaveSettingsFile(benchmark::State& state) {
    ConfigStore store(folders().settingsPath());
    fillLargeConfiguration(store);
    for (auto _ : state) {
        if (!store.save())
            state.SkipWithError("save failed");
    }
    state.counters["bytes"] = static_cast<double>(QFileInfo(store.path()).size());
}
BENCHMARK(BM_SaveSettingsFile)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_LoadSettingsFile(benchmark::State& state) {
    {
        ConfigStore writer(folders().settingsPath());
        fillLargeConfiguration(writer);
        if (!writer.save()) {
            state.SkipWithError("could not write the file to load");
            return;
        }
    }
    ConfigStore store(folders().settingsPath());
    for (auto _ : state) {
        QString message;
        if (!store.load(&message) || !message.isEmpty())
            state.SkipWithError("load failed");
    }
    state.counters["entries"] =
        static_cast<double>(store.entriesOf(QStringLiteral("Escenas")).size());
}
BENCHMARK(BM_LoadSettingsFile)->Unit(benchmark::kMillisecond)->MinTime(3.0);

} // namespace
} // namespace relaycast

BENCHMARK_MAIN();
