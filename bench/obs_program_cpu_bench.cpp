// What an input sending OBS's program costs next to OBS's own stream, in one run: process CPU
// over 12 s per round of a moving 1280x720 picture at 30 fps on OBS's canvas, OBS's stream with
// x264 at 1000 kbit/s and AAC to an RTMP server on 127.0.0.1, and an input sending two places:
//   same    the program at OBS's bitrate: OBS's own packets (no render, no encode)
//   other   the program at 2500 kbit/s: an encode of OBS's mix (no render)
//   view    the program's scene through the input's own view, at OBS's bitrate (a render and
//           an encode: what every input cost before it could take OBS's mix)
// Rounds alternate twice; each figure is what the input adds, as a share of what OBS's own
// stream costs over an idle host. Last, the memory a stream delay holds, per second of delay.
// Run under xvfb-run on a quiet machine; the load average is printed with the figures.
//
//   obs_program_cpu_bench

#include "engine/picture/entry_pipeline.h"
#include "support/fake_frontend.h"
#include "support/headless_host.h"
#include "support/local_servers.h"
#include "support/obs_own_stream.h"
#include "support/process_memory.h"
#include "support/stream_harness.h"
#include "support/test_host.h"
#include "support/tone_source.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <vector>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

constexpr auto kWarmUp = 3s;
constexpr auto kMeasured = 12s;
constexpr int32_t kObsKbps = 1000;

// Cores used over the measured window, after the warm-up, ticking like the dock.
double coresUsed(std::initializer_list<EntryRuntime*> runtimes) {
    tickFor(runtimes, kWarmUp);
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = processCpuSeconds();
    tickFor(runtimes, kMeasured);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    return (processCpuSeconds() - cpuStart) / wall;
}

struct Round {
    const char* name;
    EntryConfig entry;
};

int run() {
    RtmpServer rtmp;
    QString error;
    if (!rtmp.start(&error)) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 1;
    }
    const MovingScene program = createMovingScene("bench-programa");
    if (!program.scene)
        return 1;
    FakeFrontend frontend;
    frontend.setCurrentScene(obs_scene_get_source(program.scene));
    ObsOwnStream obs(rtmp.url(), kObsKbps);
    frontend.setStreamingOutput(obs.output);

    const double idle = coresUsed({});
    if (!obs_output_start(obs.output)) {
        std::fprintf(stderr, "OBS's own stream did not start\n");
        return 1;
    }
    std::printf("OBS's program: 1280x720 at 30 fps, x264 %d kbit/s and AAC to RTMP on "
                "127.0.0.1; %lld s per round; load average %s\n",
                kObsKbps, static_cast<long long>(kMeasured.count()), loadAverage().c_str());

    const QList<DestConfig> two{destination("a", rtmp.url(), "bench-a"),
                                destination("b", rtmp.url(), "bench-b")};
    EntryConfig following = entrySending("bench-programa", 0, 0, two);
    following.seguirObs = true;
    following.videoKbps = kObsKbps;
    EntryConfig other = following;
    other.videoKbps = 2500;
    EntryConfig view = following;
    view.seguirObs = false;
    const Round rounds[] = {{"same", following}, {"other", other}, {"view", view}};

    // Each round is compared with OBS's stream alone measured just before it, so a machine
    // whose load drifts between rounds skews the figures less.
    std::map<std::string, std::vector<double>> added;
    double obsCost = 0;
    int obsSamples = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (const Round& round : rounds) {
            const double obsAlone = coresUsed({});
            obsCost += obsAlone - idle;
            ++obsSamples;
            EntryRuntime runtime;
            const QString failed = startAllUntilLive(runtime, round.entry, two, 40s);
            if (!failed.isEmpty()) {
                std::fprintf(stderr, "%s: %s\n", round.name, failed.toUtf8().constData());
                return 1;
            }
            const bool borrowed = runtime.pipeline->borrowsObsEncoders;
            const bool mainMix = runtime.pipeline->mainMix;
            const double cores = coresUsed({&runtime});
            stopAllAndAwaitRelease(runtime);
            added[round.name].push_back(cores - obsAlone);
            std::printf("pass %d %-5s: %.3f cores, OBS's stream alone %.3f (main mix %s, OBS's "
                        "encoders %s)\n",
                        pass + 1, round.name, cores, obsAlone, mainMix ? "yes" : "no",
                        borrowed ? "yes" : "no");
            std::fflush(stdout);
        }
    }
    obsCost /= obsSamples;
    std::printf("idle host %.3f cores, OBS's own stream %.3f cores over it (mean)\n", idle,
                obsCost);
    for (const Round& round : rounds) {
        const std::vector<double>& samples = added[round.name];
        std::printf("%-5s adds %4.0f%% and %4.0f%% of OBS's own stream\n", round.name,
                    100 * samples[0] / obsCost, 100 * samples[1] / obsCost);
    }

    // A delay holds that many seconds of the stream: memory in use with 20 s against none
    // (the allocator's, not the resident size, which keeps what earlier rounds freed).
    const auto inUseWith = [&](int32_t delaySecs) {
        EntryConfig delayed = following;
        delayed.destinos = {destination("d", rtmp.url(), "bench-d")};
        delayed.destinos[0].envio.retrasoSegs = delaySecs;
        EntryRuntime runtime;
        QString failure;
        if (!startDestination(runtime, delayed, delayed.destinos[0], &failure))
            std::fprintf(stderr, "the delayed destination did not start: %s\n",
                         failure.toUtf8().constData());
        tickFor({&runtime}, std::chrono::seconds(delaySecs + 8));
        const double mib = double(heapInUseKib()) / 1024.0;
        std::printf("delay %d s: %s, %.1f MiB in use\n", delaySecs,
                    stateName(stateOf(runtime, "d")), mib);
        stopAllAndAwaitRelease(runtime);
        return mib;
    };
    const double none = inUseWith(0);
    const double twenty = inUseWith(20);
    std::printf("delay: %.2f MiB per second of delay (20 s: %+.1f MiB)\n", (twenty - none) / 20,
                twenty - none);
    obs_output_stop(obs.output);
    frontend.setStreamingOutput(nullptr);
    return 0;
}

} // namespace

int main() {
    return runOnHeadlessHost([] { return run(); });
}
