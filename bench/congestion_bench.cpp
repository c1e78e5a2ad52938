// One entry streams about 1.1 Mbit/s to three RTMP servers on 127.0.0.1, each behind a relay
// that counts what the server really receives; one relay takes only 300 kbit/s of it, then
// none at all. Prints, second by second while it is slow, what the host reports for the slow
// destination (bytes handed to its socket, its congestion figure, dropped frames) next to what
// its server received and what the destination's status says; then what the two siblings
// received and their widest gap between pictures; then, minute by minute while the slow path
// is stalled, the resident size and the heap. Between the two, an SRT sibling's receiver stops
// reading for 20 s, to show what the host reports for SRT.
// Run under xvfb-run: congestion_bench [SLOW_SECONDS [STALLED_MINUTES]]   (defaults 60 and 10)

#include "support/headless_host.h"
#include "support/local_servers.h"
#include "support/media_probe.h"
#include "support/process_memory.h"
#include "support/stream_harness.h"
#include "support/tcp_gate.h"
#include "support/test_host.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

int slowSeconds = 60;
int stalledMinutes = 10;
constexpr int64_t kSlowPathBps = 300000;

double widestGap(const QString& file) {
    QList<double> times = packetTimes(file, QStringLiteral("video"), 600000);
    std::sort(times.begin(), times.end());
    double widest = 0;
    for (qsizetype i = 1; i < times.size(); ++i)
        widest = std::max(widest, times[i] - times[i - 1]);
    return widest;
}

double kbps(uint64_t bytes, double seconds) {
    return seconds > 0 ? static_cast<double>(bytes) * 8.0 / 1000.0 / seconds : 0;
}

// Ticks the runtime like the panel until `end`, calling `each` once a second.
void tickSeconds(EntryRuntime& runtime, Clock::time_point end, const std::function<void()>& each) {
    Clock::time_point nextTick = Clock::now();
    Clock::time_point nextReport = nextTick + 1s;
    while (Clock::now() < end) {
        nextTick += 500ms;
        std::this_thread::sleep_until(nextTick);
        tick(runtime);
        if (Clock::now() >= nextReport) {
            nextReport += 1s;
            each();
        }
    }
}

int run() {
    OBSSceneAutoRelease scene = createScene("lento-escena");
    OBSSourceAutoRelease colour =
        createColorSource("lento-color", kOpaqueRed, kCanvasWidth, kCanvasHeight);
    addToScene(scene, colour);
    RtmpServer servers[3];
    std::unique_ptr<TcpGate> gates[3];
    QString error;
    for (int i = 0; i < 3; ++i) {
        if (!servers[i].start(&error)) {
            std::fprintf(stderr, "%s\n", error.toUtf8().constData());
            return 1;
        }
        gates[i] = std::make_unique<TcpGate>(servers[i].port());
        if (!gates[i]->start()) {
            std::fprintf(stderr, "no relay port\n");
            return 1;
        }
    }
    const auto via = [](const TcpGate& gate) {
        return QStringLiteral("rtmp://127.0.0.1:%1/live").arg(gate.port());
    };
    SrtListener srt;
    if (!srt.start(&error)) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 1;
    }
    const QList<DestConfig> dests{
        destination("a", via(*gates[0]), "a"), destination("b", via(*gates[1]), "b"),
        destination("lento", via(*gates[2]), "lento"), destination("srt", srt.url())};
    EntryConfig entry = entrySending("lento-escena", 640, 360, dests);
    entry.videoKbps = 960; // with 128 kbit/s of sound, about 1.1 Mbit/s in all
    EntryRuntime runtime;
    error = startAllUntilLive(runtime, entry, dests, 30s);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 1;
    }
    StreamRecorder viewers[2];
    for (int i = 0; i < 2; ++i) {
        if (!viewers[i].start(servers[i].playUrl(QString(QChar('a' + i))))) {
            std::fprintf(stderr, "a viewer did not start\n");
            return 1;
        }
    }
    std::this_thread::sleep_for(3s);

    // --- Slow: the path takes 300 kbit/s of the stream.
    std::printf("slow path: %lld kbit/s for %d s\n", static_cast<long long>(kSlowPathBps / 1000),
                slowSeconds);
    std::printf("   s  state         handed kbit/s  server kbit/s  host congestion %%  host dropped"
                "  | shown: congested  received kbit/s  queue ms\n");
    uint64_t siblingsBefore[2] = {gates[0]->forwardedBytes(), gates[1]->forwardedBytes()};
    gates[2]->setUpstreamLimit(kSlowPathBps);
    const Clock::time_point slowBegin = Clock::now();
    uint64_t lastHanded = 0;
    uint64_t lastServer = gates[2]->forwardedBytes();
    int second = 0;
    double shownCongestedAfter = -1;
    tickSeconds(runtime, slowBegin + std::chrono::seconds(slowSeconds), [&] {
        ++second;
        const auto found = runtime.outputs.find(QStringLiteral("lento"));
        obs_output_t* output =
            found != runtime.outputs.end() ? hostOutputOf(*found->second) : nullptr;
        const uint64_t handed = output ? obs_output_get_total_bytes(output) : 0;
        const uint64_t server = gates[2]->forwardedBytes();
        const DestinationStatus status = destinationStatus(runtime, "lento");
        if (status.congested && shownCongestedAfter < 0)
            shownCongestedAfter = std::chrono::duration<double>(Clock::now() - slowBegin).count();
        std::printf(
            "%4d  %-12s  %13.0f  %13.0f  %17.0f  %12d  | %16s  %15d  %8d\n", second,
            stateName(status.state), kbps(handed >= lastHanded ? handed - lastHanded : handed, 1),
            kbps(server - lastServer, 1), output ? 100.0 * obs_output_get_congestion(output) : 0.0,
            output ? obs_output_get_frames_dropped(output) : 0, status.congested ? "yes" : "no",
            status.receivedKbps, status.queuedMs);
        std::fflush(stdout);
        lastHanded = handed;
        lastServer = server;
    });
    const double slowElapsed = std::chrono::duration<double>(Clock::now() - slowBegin).count();
    std::printf("slow destination: %d cuts; shown as congested %.1f s after its path slowed\n",
                destinationStatus(runtime, "lento").cuts, shownCongestedAfter);
    for (int i = 0; i < 2; ++i)
        std::printf("sibling %c received %.0f kbit/s while the other was slow\n", 'a' + i,
                    kbps(gates[i]->forwardedBytes() - siblingsBefore[i], slowElapsed));

    // --- SRT: its receiver stops reading.
    std::printf(
        "\nSRT receiver frozen for 20 s\n   s  state         handed kbit/s  host congestion %%"
        "  host dropped  | shown: congested  received kbit/s\n");
    srt.pause(true);
    uint64_t lastSrtHanded = 0;
    second = 0;
    tickSeconds(runtime, Clock::now() + 20s, [&] {
        ++second;
        const auto found = runtime.outputs.find(QStringLiteral("srt"));
        obs_output_t* output =
            found != runtime.outputs.end() ? hostOutputOf(*found->second) : nullptr;
        const uint64_t handed = output ? obs_output_get_total_bytes(output) : 0;
        const DestinationStatus status = destinationStatus(runtime, "srt");
        std::printf("%4d  %-12s  %13.0f  %17.0f  %12d  | %16s  %15d\n", second,
                    stateName(status.state),
                    kbps(handed >= lastSrtHanded ? handed - lastSrtHanded : handed, 1),
                    output ? 100.0 * obs_output_get_congestion(output) : 0.0,
                    output ? obs_output_get_frames_dropped(output) : 0,
                    status.congested ? "yes" : "no", status.receivedKbps);
        std::fflush(stdout);
        lastSrtHanded = handed;
    });
    srt.pause(false);
    std::printf("SRT destination: %d cuts\n", destinationStatus(runtime, "srt").cuts);

    // --- Stalled: the path takes nothing at all.
    gates[2]->setUpstreamLimit(0);
    std::printf("\nstalled path\nminute  resident KiB  heap KiB  state         cuts  dropped  "
                "congested\n");
    std::printf("%6d  %12ld  %8ld\n", 0, residentKib(), heapInUseKib());
    const Clock::time_point stallBegin = Clock::now();
    for (int minute = 1; minute <= stalledMinutes; ++minute) {
        tickSeconds(runtime, stallBegin + std::chrono::minutes(minute), [] {});
        const DestinationStatus status = destinationStatus(runtime, "lento");
        std::printf("%6d  %12ld  %8ld  %-12s  %4d  %7d  %9s\n", minute, residentKib(),
                    heapInUseKib(), stateName(status.state), status.cuts, status.droppedFrames,
                    status.congested ? "yes" : "no");
        std::fflush(stdout);
    }
    for (StreamRecorder& viewer : viewers)
        viewer.stop();
    stopAllAndAwaitRelease(runtime);
    srt.stop();
    for (int i = 0; i < 2; ++i)
        std::printf("sibling %c: widest gap between pictures %.3f s, %d cuts\n", 'a' + i,
                    widestGap(viewers[i].path()),
                    destinationStatus(runtime, QString(QChar('a' + i))).cuts);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1)
        slowSeconds = std::max(1, std::atoi(argv[1]));
    if (argc > 2)
        stalledMinutes = std::max(0, std::atoi(argv[2]));
    const int code = runOnHeadlessHost(run);
    std::fflush(nullptr);
    std::_Exit(code);
}
