// The host's output threads fire signal handlers while the interface thread runs the heartbeat
// and reads statuses. Every destination must end with exactly the effects of its signals.

#include "engine/destinations/destination_output.h"
#include "engine/entry/entry_runtime.h"
#include "support/fake_runtime.h"

#include <gtest/gtest.h>

#include <util/base.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <thread>
#include <vector>

namespace relaycast {
namespace {

constexpr int kDestinations = 4;
constexpr int kRounds = 200;

void silentLog(int, const char*, va_list, void*) {}

class QuietLog {
public:
    QuietLog() {
        base_get_log_handler(&previous_, &param_);
        base_set_log_handler(silentLog, nullptr);
    }
    ~QuietLog() { base_set_log_handler(previous_, param_); }

private:
    log_handler_t previous_ = nullptr;
    void* param_ = nullptr;
};

// A restart that never comes fails the test instead of holding it up until its time-out.
bool awaitRestart(const test::FakeOutputScript& script, int startsBefore) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (script.starts == startsBefore) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::yield();
    }
    return true;
}

TEST(DestinationConcurrency, HandlersOnHostThreadsWhileTheInterfaceThreadTicks) {
    QuietLog quiet;
    test::FakeRuntime f;
    std::vector<std::shared_ptr<test::FakeOutputScript>> scripts;
    std::vector<DestinationOutput*> outputs;
    for (int i = 0; i < kDestinations; ++i) {
        const QString id = QStringLiteral("d%1").arg(i);
        scripts.push_back(f.addLive(id));
        outputs.push_back(&f.at(id));
    }

    // Each host thread plays what its output would: a host reconnection that succeeds, then a
    // drop that the heartbeat restarts, then, once the restarted output is up, "start".
    std::atomic<int> running{kDestinations};
    std::atomic<int> dropping{0};
    std::vector<std::thread> hostThreads;
    for (int i = 0; i < kDestinations; ++i) {
        hostThreads.emplace_back([d = outputs[i], script = scripts[i], &running, &dropping] {
            for (int round = 0; round < kRounds; ++round) {
                d->onReconnect();
                d->onReconnect();
                d->onReconnectSuccess();
                const int starts = script->starts;
                dropping += 1;
                script->active = false;
                d->onStop(-5, QStringLiteral("reset by peer"));
                dropping -= 1;
                if (!awaitRestart(*script, starts)) {
                    // Its destination was dropped instead of restarted: it may be gone.
                    ADD_FAILURE() << "no restart in round " << round;
                    running -= 1;
                    return;
                }
                d->onStart();
            }
            d->onStop(-3, QStringLiteral("denied"));
            running -= 1;
        });
    }

    // The interface thread: heartbeats and status reads until every host thread is done.
    // Time stands still while a restarted output waits for its thread's "start", so a slow
    // thread never meets the start time-out, and while a thread is between its output going
    // inactive and its "stop" (an instant on a real host), so a thread descheduled there never
    // meets the grace after which an inactive output counts as ended.
    int reads = 0;
    while (running > 0) {
        for (auto& script : scripts)
            script->totalBytes += 10000;
        bool starting = false;
        for (int i = 0; i < kDestinations; ++i) {
            const DestinationStatus s = f.status(QStringLiteral("d%1").arg(i));
            EXPECT_LE(s.cuts, 2 * kRounds);
            starting = starting || s.state == DestinationState::Starting;
            ++reads;
        }
        f.tickAfter(starting || dropping > 0 ? 0 : 500);
    }
    for (auto& thread : hostThreads)
        thread.join();
    EXPECT_GT(reads, 0);

    for (int i = 0; i < kDestinations; ++i) {
        const DestinationStatus s = f.status(QStringLiteral("d%1").arg(i));
        EXPECT_EQ(s.state, DestinationState::Failed) << i;
        EXPECT_EQ(s.message, "La clave o la dirección no son válidas. denied") << i;
        EXPECT_EQ(s.cuts, 2 * kRounds) << i;
        EXPECT_FALSE(outputs[i]->recovering()) << i;
        EXPECT_EQ(outputs[i]->nextRestartMs, 0) << i;
        EXPECT_EQ(scripts[i]->starts, 1 + kRounds) << i;
    }

    for (auto& script : scripts)
        script->active = false;
    f.tickAfter(500);
    EXPECT_TRUE(f.runtime.outputs.empty());
}

} // namespace
} // namespace relaycast
