// The cost of one heartbeat (the entry controller's engine ticks, audio capture refresh and
// state detection, then the dock's status repaint) over a show of 20 entries with 5
// destinations each, 10 of them live, in a shown dock; and the same with the dock painted at
// once afterwards. The live entries have real pipelines (view, video
// encoder, audio track) on the host; their destinations sit on scripted output ports that
// report a steady 6 Mbit/s, so no encoding runs. Run under xvfb-run.

#include "config/config_store.h"
#include "engine/entry/entry_controller.h"
#include "engine/picture/entry_pipeline.h"
#include "panel/salidas_panel.h"
#include "support/fake_frontend.h"
#include "support/fake_runtime.h"
#include "support/headless_host.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

using namespace relaycast;
using namespace relaycast::test;

namespace {

constexpr int kEntries = 20;
constexpr int kLiveEntries = 10;
constexpr int kDestinationsPerEntry = 5;

struct Show {
    QTemporaryDir dir;
    ConfigStore store{dir.filePath(QStringLiteral("salidas.json"))};
    FakeFrontend frontend;
    OBSSceneAutoRelease scene = createScene("bench-panel");
    OBSSourceAutoRelease colour = createColorSource("bench-panel-color", kOpaqueRed, 640, 360);
    EntryController controller{store};
    std::unique_ptr<SalidasPanel> panel;
    std::vector<std::shared_ptr<FakeOutputScript>> scripts;

    bool build() {
        addToScene(scene, colour);
        frontend.setCurrentSceneCollection(QStringLiteral("Escenas"));
        CollectionConfig& entries = store.entriesOf(QStringLiteral("Escenas"));
        for (int i = 0; i < kEntries; ++i) {
            QList<DestConfig> destinations;
            for (int j = 0; j < kDestinationsPerEntry; ++j)
                destinations << destination(QStringLiteral("d%1-%2").arg(i).arg(j),
                                            QStringLiteral("rtmp://127.0.0.1:1935/live"),
                                            QStringLiteral("clave"));
            EntryConfig entry = entrySending(QStringLiteral("bench-panel"), 640, 360, destinations);
            entry.id = QStringLiteral("e%1").arg(i);
            entries << entry;
        }
        panel = std::make_unique<SalidasPanel>(controller, QString());
        panel->resize(360, 900);
        panel->show();
        QApplication::processEvents();

        for (int i = 0; i < kLiveEntries; ++i) {
            const EntryConfig& entry = entries[i];
            EntryRuntime& runtime = controller.runtimeFor(entry.id);
            runtime.pipeline = std::make_unique<EntryPipeline>();
            QString error;
            if (!openPipeline(*runtime.pipeline, entry, &error)) {
                std::fprintf(stderr, "pipeline: %s\n", error.toUtf8().constData());
                return false;
            }
            for (const DestConfig& dest : entry.destinos) {
                scripts.push_back(addFakeDestination(runtime, dest.id));
                runtime.outputs.at(dest.id)->onStart();
            }
        }
        return true;
    }

    // What the destinations sent in the last half second.
    void sendHalfASecond() {
        for (auto& script : scripts)
            script->totalBytes += 375000;
    }

    ~Show() {
        panel.reset();
        controller.shutdown();
    }
};

Show* g_show = nullptr;

void settle() {
    // Two heartbeats so every destination has its reference sample and the cards their look.
    for (int i = 0; i < 2; ++i) {
        g_show->sendHalfASecond();
        g_show->controller.heartbeat();
        QApplication::processEvents();
    }
}

void BM_PanelHeartbeat(benchmark::State& state) {
    settle();
    for (auto _ : state) {
        state.PauseTiming();
        g_show->sendHalfASecond();
        state.ResumeTiming();
        g_show->controller.heartbeat();
    }
    state.counters["entries"] = kEntries;
    state.counters["live destinations"] = kLiveEntries * kDestinationsPerEntry;
}
BENCHMARK(BM_PanelHeartbeat)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

void BM_PanelHeartbeatAndPaint(benchmark::State& state) {
    settle();
    for (auto _ : state) {
        state.PauseTiming();
        g_show->sendHalfASecond();
        state.ResumeTiming();
        g_show->controller.heartbeat();
        g_show->panel->repaint();
    }
}
BENCHMARK(BM_PanelHeartbeatAndPaint)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    HeadlessHost host;
    std::string error;
    if (!host.start(&error)) {
        std::fprintf(stderr, "could not start the host: %s\n", error.c_str());
        return 1;
    }
    int result = 0;
    {
        Show show;
        if (!show.build())
            return 1;
        g_show = &show;
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        g_show = nullptr;
    }
    host.shutdown();
    std::fflush(nullptr);
    // The host's two SRT libraries crash in their static destructors once SRT was used.
    std::_Exit(result);
}
