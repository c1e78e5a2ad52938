// CPU cost of sharing one entry's render and video encode among its destinations: process CPU
// time over 20 s of streaming a moving 1280x720 picture at 30 fps with x264 to RTMP servers on
// 127.0.0.1, for one entry with 1 destination, the same entry with 4, and 4 entries of 1
// destination each (every one with an encoder of its own). Run under xvfb-run.

#include "engine/entry_pipeline.h"
#include "support/headless_host.h"
#include "support/local_servers.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

constexpr auto kWarmUp = 3s;
constexpr auto kMeasured = 20s;

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Figure {
    double cpuSeconds = 0;
    double wallSeconds = 0;
    int droppedFrames = 0;
};

bool allLive(const std::vector<EntryRuntime*>& runtimes) {
    for (EntryRuntime* runtime : runtimes)
        for (const auto& [id, d] : runtime->outputs)
            if (d->state != DestinationState::Live)
                return false;
    return true;
}

// Waits for every destination to be live, lets the encoders settle, then measures.
bool measure(std::initializer_list<EntryRuntime*> runtimes, Figure* figure) {
    const std::vector<EntryRuntime*> list(runtimes);
    if (!tickUntil(
            runtimes, [&] { return allLive(list); }, 30s))
        return false;
    tickFor(runtimes, kWarmUp);
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = processCpuSeconds();
    bool stayedLive = true;
    tickFor(runtimes, kMeasured, [&] { stayedLive &= allLive(list); });
    figure->cpuSeconds = processCpuSeconds() - cpuStart;
    figure->wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    for (EntryRuntime* runtime : list)
        for (const auto& [id, d] : runtime->outputs)
            figure->droppedFrames += d->port->droppedFrames();
    return stayedLive;
}

void print(const char* label, const Figure& f, double reference) {
    std::printf("%-40s cpu %7.2f s over %5.1f s = %5.2f cores  x%.2f of one  dropped %d\n", label,
                f.cpuSeconds, f.wallSeconds, f.cpuSeconds / f.wallSeconds,
                reference > 0 ? (f.cpuSeconds / f.wallSeconds) / reference : 1.0, f.droppedFrames);
}

int run() {
    QTemporaryDir folder;
    const QString clip = folder.filePath("movimiento.mp4");
    const CommandResult made = runCommand(
        {"ffmpeg",    "-nostdin", "-loglevel", "error",
         "-f",        "lavfi",    "-i",        "testsrc2=size=320x180:rate=30:duration=6",
         "-f",        "lavfi",    "-i",        "sine=frequency=440:sample_rate=48000:duration=6",
         "-c:v",      "libx264",  "-preset",   "ultrafast",
         "-g",        "30",       "-c:a",      "aac",
         "-shortest", "-y",       clip},
        120000);
    if (made.exitCode != 0) {
        std::fprintf(stderr, "could not make the clip: %s\n", made.err.constData());
        return 1;
    }

    OBSDataAutoRelease settings = obs_data_create();
    obs_data_set_string(settings, "local_file", clip.toUtf8().constData());
    obs_data_set_bool(settings, "is_local_file", true);
    obs_data_set_bool(settings, "looping", true);
    obs_data_set_bool(settings, "restart_on_activate", false);
    OBSSourceAutoRelease media =
        obs_source_create("ffmpeg_source", "bench-movimiento", settings, nullptr);
    // A small clip stretched over the canvas: the picture moves everywhere (real encoding work)
    // while decoding it stays cheap, so the figures are about the entry's own costs.
    OBSSceneAutoRelease scene = createScene("bench-escena");
    obs_sceneitem_t* item = addToScene(scene, media);
    obs_sceneitem_set_bounds_type(item, OBS_BOUNDS_STRETCH);
    vec2 bounds{};
    vec2_set(&bounds, static_cast<float>(kCanvasWidth), static_cast<float>(kCanvasHeight));
    obs_sceneitem_set_bounds(item, &bounds);

    RtmpServer rtmp;
    QString error;
    if (!rtmp.start(&error)) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 1;
    }
    QList<DestConfig> dests;
    for (int i = 0; i < 4; ++i)
        dests << destination(QStringLiteral("d%1").arg(i), rtmp.url(),
                             QStringLiteral("bench-%1").arg(i));

    std::printf("sharing: 1280x720 at 30 fps, x264 4000 kbit/s, RTMP on 127.0.0.1, %lld s "
                "measured each\n",
                static_cast<long long>(kMeasured.count()));
    Figure one, sharedFour, separateFour;
    {
        EntryConfig entry = entrySending("bench-escena", 1280, 720, dests);
        entry.videoKbps = 4000;
        EntryRuntime runtime;
        if (!startDestination(runtime, entry, dests[0], &error) || !measure({&runtime}, &one)) {
            std::fprintf(stderr, "one destination did not stream: %s\n", error.toUtf8().data());
            return 1;
        }
        for (int i = 1; i < 4; ++i)
            startDestination(runtime, entry, dests[i], &error);
        if (!measure({&runtime}, &sharedFour)) {
            std::fprintf(stderr, "four shared destinations did not stream\n");
            return 1;
        }
        stopAllAndAwaitRelease(runtime);
    }
    {
        std::vector<std::unique_ptr<EntryRuntime>> runtimes;
        for (int i = 0; i < 4; ++i) {
            EntryConfig entry = entrySending("bench-escena", 1280, 720, {dests[i]});
            entry.videoKbps = 4000;
            runtimes.push_back(std::make_unique<EntryRuntime>());
            if (!startDestination(*runtimes.back(), entry, dests[i], &error)) {
                std::fprintf(stderr, "separate entry did not start: %s\n", error.toUtf8().data());
                return 1;
            }
        }
        if (!measure({runtimes[0].get(), runtimes[1].get(), runtimes[2].get(), runtimes[3].get()},
                     &separateFour))
            std::fprintf(stderr, "note: a separate entry left Live during the measurement\n");
        for (auto& runtime : runtimes)
            stopAllAndAwaitRelease(*runtime);
    }

    const double reference = one.cpuSeconds / one.wallSeconds;
    print("1 entry, 1 destination", one, reference);
    print("1 entry, 4 destinations (shared)", sharedFour, reference);
    print("4 entries, 1 destination each", separateFour, reference);
    const double ratio = (sharedFour.cpuSeconds / sharedFour.wallSeconds) / reference;
    std::printf("aim: 4 shared <= 1.10 x one: %.2f -> %s\n", ratio,
                ratio <= 1.10 ? "met" : "NOT met");
    return 0;
}

} // namespace

int main() {
    return runOnHeadlessHost(run);
}
