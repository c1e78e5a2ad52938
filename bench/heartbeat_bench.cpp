// One heartbeat of the panel over a large show: 100 entries with 5 live destinations each,
// every entry ticked and every destination's status read, as the panel does every 500 ms.

#include "engine/entry/entry_runtime.h"
#include "support/fake_runtime.h"

#include <benchmark/benchmark.h>

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace relaycast {
namespace {

constexpr int kRuntimes = 100;
constexpr int kDestinationsPerRuntime = 5;

void BM_HeartbeatTickAndStatus(benchmark::State& state) {
    test::ManualClock clock;
    std::vector<std::unique_ptr<EntryRuntime>> runtimes;
    std::vector<std::shared_ptr<test::FakeOutputScript>> scripts;
    QStringList ids;
    for (int j = 0; j < kDestinationsPerRuntime; ++j)
        ids << QStringLiteral("5f0c2a4e-1b7d-4c39-9e61-7a2d3c4b5e6%1").arg(j);
    for (int i = 0; i < kRuntimes; ++i) {
        auto runtime = std::make_unique<EntryRuntime>(clock);
        for (const QString& id : ids) {
            scripts.push_back(test::addFakeDestination(*runtime, id));
            runtime->outputs.at(id)->onStart();
        }
        runtimes.push_back(std::move(runtime));
    }

    const auto sendHalfASecond = [&] {
        clock.advanceMs(500);
        for (auto& script : scripts)
            script->totalBytes += 375000; // 6000 kbit/s
    };
    // The reference sample, so every measured heartbeat computes rates.
    for (auto& runtime : runtimes)
        tick(*runtime);

    int64_t sum = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sendHalfASecond();
        state.ResumeTiming();

        for (auto& runtime : runtimes)
            tick(*runtime);
        for (auto& runtime : runtimes) {
            for (const QString& id : ids)
                sum += destinationStatus(*runtime, id).bitrateKbps;
        }
    }
    benchmark::DoNotOptimize(sum);
    if (destinationStatus(*runtimes.front(), ids.front()).bitrateKbps != 6000)
        state.SkipWithError("the destinations did not measure their rate");
    state.counters["destinations"] = kRuntimes * kDestinationsPerRuntime;
}
BENCHMARK(BM_HeartbeatTickAndStatus)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace relaycast

BENCHMARK_MAIN();
