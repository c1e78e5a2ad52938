// A long live show: one entry streams to an RTMP and an SRT server on 127.0.0.1 for a number of
// minutes (default 30) under the panel's 500 ms heartbeat. Prints, minute by minute, the
// resident size, the heap in use and the heartbeat's time, and at the end whether both
// destinations stayed live and whether what both servers received is continuous.
// Run under xvfb-run: soak_bench [MINUTES]   (scripts/soak runs it)

#include "support/headless_host.h"
#include "support/local_servers.h"
#include "support/media_probe.h"
#include "support/process_memory.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

int minutes = 30;

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * static_cast<double>(values.size() - 1))];
}

// Widest gap between consecutive pictures of a recording, and how many there are.
std::pair<double, qsizetype> widestGap(const QString& file) {
    QList<double> times = packetTimes(file, QStringLiteral("video"), 600000);
    std::sort(times.begin(), times.end());
    double widest = 0;
    for (qsizetype i = 1; i < times.size(); ++i)
        widest = std::max(widest, times[i] - times[i - 1]);
    return {widest, times.size()};
}

template <typename T> double mean(const std::vector<T>& values, size_t from, size_t count) {
    double sum = 0;
    for (size_t i = from; i < from + count; ++i)
        sum += static_cast<double>(values[i]);
    return sum / static_cast<double>(count);
}

int run() {
    OBSSceneAutoRelease scene = createScene("soak-escena");
    OBSSourceAutoRelease colour =
        createColorSource("soak-color", kOpaqueRed, kCanvasWidth, kCanvasHeight);
    addToScene(scene, colour);
    RtmpServer rtmp;
    SrtListener srt;
    QString error;
    if (!rtmp.start(&error) || !srt.start(&error)) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 1;
    }
    const DestConfig viaRtmp = destination("rtmp", rtmp.url(), "soak");
    const DestConfig viaSrt = destination("srt", srt.url());
    const EntryConfig entry = entrySending("soak-escena", 1280, 720, {viaRtmp, viaSrt});
    EntryRuntime runtime;
    error = startAllUntilLive(runtime, entry, {viaRtmp, viaSrt}, 30s);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 1;
    }
    // A viewer of the RTMP server, recording what it receives.
    StreamRecorder viewer;
    if (!viewer.start(rtmp.playUrl(QStringLiteral("soak")))) {
        std::fprintf(stderr, "the RTMP viewer did not start\n");
        return 1;
    }

    std::printf("minute  resident KiB  heap KiB  heartbeat median us  p99 us  rtmp kbit/s  "
                "srt kbit/s\n");
    std::vector<long> resident;
    std::vector<long> heap;
    std::vector<double> medians;
    int notLive = 0;
    const Clock::time_point begin = Clock::now();
    Clock::time_point nextTick = begin;
    for (int minute = 1; minute <= minutes; ++minute) {
        std::vector<double> heartbeats;
        const Clock::time_point minuteEnd = begin + std::chrono::minutes(minute);
        while (Clock::now() < minuteEnd) {
            nextTick += 500ms;
            std::this_thread::sleep_until(nextTick);
            // One heartbeat of the panel: the engine's tick, then every destination's status.
            const Clock::time_point t0 = Clock::now();
            tick(runtime);
            const DestinationStatus a = destinationStatus(runtime, "rtmp");
            const DestinationStatus b = destinationStatus(runtime, "srt");
            heartbeats.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            notLive += (a.state != DestinationState::Live) + (b.state != DestinationState::Live);
        }
        resident.push_back(residentKib());
        heap.push_back(heapInUseKib());
        medians.push_back(percentile(heartbeats, 0.5));
        std::printf("%6d  %12ld  %8ld  %19.1f  %6.1f  %11d  %10d\n", minute, resident.back(),
                    heap.back(), medians.back(), percentile(heartbeats, 0.99),
                    destinationStatus(runtime, "rtmp").bitrateKbps,
                    destinationStatus(runtime, "srt").bitrateKbps);
        std::fflush(stdout);
    }
    const DestinationStatus rtmpStatus = destinationStatus(runtime, "rtmp");
    const DestinationStatus srtStatus = destinationStatus(runtime, "srt");
    viewer.stop();
    stopAllAndAwaitRelease(runtime);
    srt.stop();

    const auto [rtmpGap, rtmpPictures] = widestGap(viewer.path());
    const auto [srtGap, srtPictures] = widestGap(srt.recordingPath());
    const size_t window = std::min<size_t>(5, resident.size() / 2);
    std::printf("\nheartbeats with a destination not live: %d; cuts rtmp %d, srt %d\n", notLive,
                rtmpStatus.cuts, srtStatus.cuts);
    std::printf("received pictures: rtmp %lld (widest gap %.3f s), srt %lld (widest gap %.3f s), "
                "%d expected\n",
                static_cast<long long>(rtmpPictures), rtmpGap, static_cast<long long>(srtPictures),
                srtGap, minutes * 60 * 30);
    if (window > 0) {
        std::printf("first %zu min -> last %zu min (means): resident %.0f -> %.0f KiB, heap %.0f "
                    "-> %.0f KiB, heartbeat median %.1f -> %.1f us\n",
                    window, window, mean(resident, 0, window),
                    mean(resident, resident.size() - window, window), mean(heap, 0, window),
                    mean(heap, heap.size() - window, window), mean(medians, 0, window),
                    mean(medians, medians.size() - window, window));
    }
    return notLive == 0 && rtmpGap < 0.5 && srtGap < 0.5 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1)
        minutes = std::max(1, std::atoi(argv[1]));
    const int code = runOnHeadlessHost(run);
    // The host's two SRT libraries crash in their static destructors once SRT was used.
    std::fflush(nullptr);
    std::_Exit(code);
}
