// How fast a destination is live: from startDestination to Live on 127.0.0.1, and from the
// return of a dropped RTMP server to Live again after outages of 3 s, 10 s, 60 s and 300 s
// (however long the outage, the engine tries again every 5 s). Run under xvfb-run; about
// seven minutes.

#include "support/headless_host.h"
#include "support/local_servers.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

constexpr int kStartRuns = 5;
constexpr std::chrono::seconds kOutages[] = {3s, 10s, 60s, 300s};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

bool isLive(EntryRuntime& runtime) {
    return stateOf(runtime, "r") == DestinationState::Live;
}

int run() {
    OBSSceneAutoRelease scene = createScene("bench-recuperacion");
    OBSSourceAutoRelease colour =
        createColorSource("bench-recuperacion-color", kOpaqueRed, kCanvasWidth, kCanvasHeight);
    addToScene(scene, colour);
    RtmpServer rtmp;
    QString error;
    if (!rtmp.start(&error)) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 1;
    }
    const DestConfig dest = destination("r", rtmp.url(), "recuperacion");
    const EntryConfig entry = entrySending("bench-recuperacion", 640, 360, {dest});

    std::vector<double> starts;
    for (int i = 0; i < kStartRuns; ++i) {
        EntryRuntime runtime;
        const auto begin = std::chrono::steady_clock::now();
        if (!startDestination(runtime, entry, dest, &error) ||
            !tickUntil(
                runtime, [&] { return isLive(runtime); }, 30s)) {
            std::fprintf(stderr, "start %d did not reach Live\n", i);
            return 1;
        }
        starts.push_back(secondsSince(begin));
        stopAllAndAwaitRelease(runtime);
    }

    std::vector<double> returns;
    std::vector<int> recoveries;
    {
        EntryRuntime runtime;
        if (!startDestination(runtime, entry, dest, &error) ||
            !tickUntil(
                runtime, [&] { return isLive(runtime); }, 30s))
            return 1;
        for (const std::chrono::seconds away : kOutages) {
            tickFor({&runtime}, 2s);
            rtmp.stop();
            if (!tickUntil(
                    runtime, [&] { return !isLive(runtime); }, 15s)) {
                std::fprintf(stderr, "the drop was not noticed\n");
                return 1;
            }
            tickFor({&runtime}, away);
            if (!rtmp.start(&error))
                return 1;
            const auto back = std::chrono::steady_clock::now();
            if (!tickUntil(
                    runtime, [&] { return isLive(runtime); }, 60s)) {
                std::fprintf(stderr, "the %lld s outage did not recover\n",
                             static_cast<long long>(away.count()));
                return 1;
            }
            returns.push_back(secondsSince(back));
            recoveries.push_back(destinationStatus(runtime, "r").recoveryAfterSecs);
        }
        stopAllAndAwaitRelease(runtime);
    }

    std::printf("startDestination -> Live (RTMP, 127.0.0.1), %d runs:", kStartRuns);
    for (double s : starts)
        std::printf(" %.2f", s);
    std::printf(" s; median %.2f s\n", median(starts));
    for (size_t i = 0; i < returns.size(); ++i)
        std::printf("outage %lld s: server back -> Live %.2f s (outage reported %d s)\n",
                    static_cast<long long>(kOutages[i].count()), returns[i], recoveries[i]);
    return 0;
}

} // namespace

int main() {
    return runOnHeadlessHost(run);
}
