// What each extra destination of one entry costs: process CPU over 20 s of streaming a moving
// 1280x720 picture at 30 fps with x264 (4000 kbit/s) and AAC to an RTMP server on 127.0.0.1,
// with the destination counts given on the command line (default 1 4 16 50), all in one run:
// destinations are added to the same running entry step by step. Prints cores used, the ratio
// to the first count, frames dropped by the outputs or skipped by the encoder, the resident
// memory at each count and the memory per extra destination. Last, the same entry also records
// to an MKV file: a recording shares the encoders, so its cost must be the file's writing
// alone (a ratio close to 1). Run under xvfb-run; the figures
// mean something only on a quiet machine, so the load average is printed with them.
//
//   sharing_cpu_bench [COUNT...]

#include "engine/picture/entry_pipeline.h"
#include "engine/recording/recording_id.h"
#include "support/headless_host.h"
#include "support/local_servers.h"
#include "support/process_memory.h"
#include "support/stream_harness.h"
#include "support/test_host.h"
#include "support/tone_source.h"

#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

constexpr auto kWarmUp = 5s;
constexpr auto kMeasured = 20s;
constexpr int kVideoKbps = 4000;

// Resident set of this process in MiB, as the kernel counts it.
double residentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    }
    return 0;
}

struct Figure {
    int destinations = 0;
    double cores = 0;
    double residentMiB = 0;
    int droppedFrames = 0;      // by the outputs (congestion)
    uint32_t skippedFrames = 0; // by the entry's video (encoder too slow)
    uint32_t laggedFrames = 0;  // by the host's rendering (machine too busy)
    int audioEncoders = 0;
};

bool allLive(EntryRuntime& runtime) {
    return std::all_of(runtime.outputs.begin(), runtime.outputs.end(), [](const auto& item) {
        return item.second->status().state == DestinationState::Live;
    });
}

int droppedByOutputs(const EntryRuntime& runtime) {
    int dropped = 0;
    for (const auto& [id, d] : runtime.outputs)
        dropped += d->port->droppedFrames();
    return dropped;
}

// Lets the encoders and the memory settle, then measures while every destination stays live.
bool measure(EntryRuntime& runtime, Figure* figure) {
    if (!tickUntil(
            runtime, [&] { return allLive(runtime); }, 60s))
        return false;
    tickFor({&runtime}, kWarmUp);
    video_t* video = runtime.pipeline->video;
    const uint32_t skippedBefore = video_output_get_skipped_frames(video);
    const uint32_t laggedBefore = obs_get_lagged_frames();
    const int droppedBefore = droppedByOutputs(runtime);
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = processCpuSeconds();
    bool stayedLive = true;
    double residentSum = 0;
    int residentSamples = 0;
    tickFor({&runtime}, kMeasured, [&] {
        stayedLive &= allLive(runtime);
        residentSum += residentMiB();
        ++residentSamples;
    });
    const double cpu = processCpuSeconds() - cpuStart;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    figure->destinations = static_cast<int>(runtime.outputs.size());
    figure->cores = cpu / wall;
    figure->residentMiB = residentSamples > 0 ? residentSum / residentSamples : residentMiB();
    figure->droppedFrames = droppedByOutputs(runtime) - droppedBefore;
    figure->skippedFrames = video_output_get_skipped_frames(video) - skippedBefore;
    figure->laggedFrames = obs_get_lagged_frames() - laggedBefore;
    figure->audioEncoders = countHostEncoders("relaycast-audio");
    return stayedLive;
}

// One line per count; the memory step is per destination added since the previous count.
void print(const Figure& f, const Figure& first, const Figure& previous) {
    const double step =
        f.destinations > previous.destinations
            ? (f.residentMiB - previous.residentMiB) / (f.destinations - previous.destinations)
            : 0;
    std::printf("%3d destinations: %5.2f cores  x%.2f of %d  dropped %d  skipped %u  lagged %u  "
                "resident %7.1f MiB (%+.2f MiB each added)  audio encoders %d  load %s\n",
                f.destinations, f.cores, f.cores / first.cores, first.destinations, f.droppedFrames,
                f.skippedFrames, f.laggedFrames, f.residentMiB, step, f.audioEncoders,
                loadAverage().c_str());
}

int run(std::vector<int> counts) {
    QTemporaryDir folder;
    // A small clip stretched over the canvas: the picture moves everywhere (real encoding work)
    // while decoding it stays cheap, so the figures are about the entry's own costs.
    const MovingScene moving = createMovingScene("bench-escena");
    if (!moving.scene)
        return 1;

    RtmpServer rtmp;
    QString error;
    if (!rtmp.start(&error)) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 1;
    }
    QList<DestConfig> dests;
    for (int i = 0; i < counts.back(); ++i)
        dests << destination(QStringLiteral("d%1").arg(i, 3, 10, QLatin1Char('0')), rtmp.url(),
                             QStringLiteral("bench-%1").arg(i));
    EntryConfig entry = entrySending("bench-escena", 1280, 720, dests);
    entry.videoKbps = kVideoKbps;

    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("sharing: one entry, 1280x720 at 30 fps, x264 %d kbit/s, AAC %d kbit/s, RTMP on "
                "127.0.0.1, %lld s measured per count; %u cores; load average %s\n",
                kVideoKbps, entry.audioKbps, static_cast<long long>(kMeasured.count()), cores,
                loadAverage().c_str());

    EntryRuntime runtime;
    std::vector<Figure> figures;
    int started = 0;
    for (int count : counts) {
        for (; started < count; ++started) {
            if (!startDestination(runtime, entry, dests[started], &error)) {
                std::fprintf(stderr, "destination %d did not start: %s\n", started + 1,
                             error.toUtf8().constData());
                return 1;
            }
        }
        Figure figure;
        if (!measure(runtime, &figure)) {
            std::fprintf(stderr, "%d destinations did not all stay live\n", count);
            return 1;
        }
        figures.push_back(figure);
        print(figure, figures.front(), figures.size() > 1 ? figures[figures.size() - 2] : figure);
        std::fflush(stdout);
    }

    // The same entry recording beside its streams.
    const RecordingSink file{recordingIdOf(entry.id), folder.filePath("grabacion.mkv"), {}};
    Figure recording;
    if (!startRecording(runtime, entry, file, nullptr, &error) || !measure(runtime, &recording)) {
        std::fprintf(stderr, "the recording did not start or stay on: %s\n",
                     error.toUtf8().constData());
        return 1;
    }
    const Figure& streaming = figures.back();
    std::printf("recording beside %d destinations: %5.2f cores  x%.2f of streaming only  "
                "dropped %d  skipped %u  lagged %u  audio encoders %d -> %d\n",
                streaming.destinations, recording.cores, recording.cores / streaming.cores,
                recording.droppedFrames, recording.skippedFrames, recording.laggedFrames,
                streaming.audioEncoders, recording.audioEncoders);
    stopAllAndAwaitRelease(runtime);

    const Figure& first = figures.front();
    const Figure& last = figures.back();
    const double ratio = last.cores / first.cores;
    const double perExtra =
        last.destinations > first.destinations
            ? (last.residentMiB - first.residentMiB) / (last.destinations - first.destinations)
            : 0;
    const bool saturated = last.cores >= 0.9 * cores;
    std::printf("load average after: %s%s\n", loadAverage().c_str(),
                saturated ? "; the process used over 90% of every core (saturated)" : "");
    const bool noneLost =
        last.droppedFrames == 0 && last.skippedFrames == 0 && last.laggedFrames == 0;
    std::printf("aim: %d destinations <= 1.25 x %d in CPU, no frame lost: x%.2f, %d dropped, %u "
                "skipped, %u lagged -> %s\n",
                last.destinations, first.destinations, ratio, last.droppedFrames,
                last.skippedFrames, last.laggedFrames,
                ratio <= 1.25 && noneLost ? "met" : "NOT met");
    std::printf("aim: <= 5 MiB resident per extra destination: %.2f MiB -> %s\n", perExtra,
                perExtra <= 5.0 ? "met" : "NOT met");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) {
        const int count = std::atoi(argv[i]);
        if (count < 1) {
            std::fprintf(stderr, "usage: %s [COUNT...]  (destination counts, default 1 4 16 50)\n",
                         argv[0]);
            return 2;
        }
        counts.push_back(count);
    }
    if (counts.empty())
        counts = {1, 4, 16, 50};
    std::sort(counts.begin(), counts.end());
    counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
    return runOnHeadlessHost([&] { return run(counts); });
}
