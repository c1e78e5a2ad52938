// The background host calls: one strand's calls run in order, a stuck strand holds up no
// other, a drain waits for a call still running, a bounded drain and unload give up in time,
// and the process ends at once after that.

#include "engine/host/host_call_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace relaycast;
using namespace std::chrono_literals;

namespace {

// A call that blocks until the test opens it.
struct Latch {
    std::promise<void> opened;
    std::shared_future<void> open = opened.get_future().share();
    std::atomic<bool> entered{false};
    std::function<void()> call() {
        return [this] {
            entered = true;
            open.wait();
        };
    }
    bool waitEntered() {
        for (int i = 0; i < 500 && !entered; ++i)
            std::this_thread::sleep_for(2ms);
        return entered;
    }
};

const int kStuckStrand = 1;
const int kOtherStrand = 2;

TEST(HostCallQueue, StrandsRunInOrderAndAStuckOneHoldsUpNoOther) {
    HostCallQueue& queue = backgroundHostCalls();
    Latch stuck;
    std::mutex lock;
    std::vector<int> order;
    const auto record = [&](int step) {
        return [&, step] {
            std::lock_guard guard(lock);
            order.push_back(step);
        };
    };
    queue.post(&kStuckStrand, stuck.call());
    for (int step = 1; step <= 3; ++step)
        queue.post(&kOtherStrand, record(step));
    ASSERT_TRUE(stuck.waitEntered());

    // The other strand ran through while the stuck one still waits.
    EXPECT_TRUE(drainBackgroundHostCallsWithin(0ms) == false);
    for (int i = 0; i < 500; ++i) {
        {
            std::lock_guard guard(lock);
            if (order.size() == 3)
                break;
        }
        std::this_thread::sleep_for(2ms);
    }
    {
        std::lock_guard guard(lock);
        EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    }
    EXPECT_EQ(unfinishedBackgroundHostCalls(), 1);

    // Nothing is queued any more, but a call still runs: a drain waits for it.
    auto drained = std::async(std::launch::async, [] { return drainBackgroundHostCalls(); });
    EXPECT_EQ(drained.wait_for(100ms), std::future_status::timeout);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(drainBackgroundHostCallsWithin(200ms));
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 200ms);
    stuck.opened.set_value();
    ASSERT_EQ(drained.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(unfinishedBackgroundHostCalls(), 0);
}

TEST(HostCallQueue, ACallThatThrowsIsLoggedAndItsStrandGoesOn) {
    HostCallQueue& queue = backgroundHostCalls();
    std::atomic<int> ran{0};
    queue.post(&kOtherStrand, [] { throw std::runtime_error("host call failed"); });
    queue.post(&kOtherStrand, [&] { ++ran; });
    drainBackgroundHostCalls();
    EXPECT_EQ(ran, 1);
}

TEST(HostCallQueue, UnloadGivesUpOnStuckCallsInTimeAndNeverRunsWhatWaitedBehindThem) {
    HostCallQueue& queue = backgroundHostCalls();
    Latch stuck;
    std::atomic<bool> behindRan{false};
    queue.post(&kStuckStrand, stuck.call());
    queue.post(&kStuckStrand, [&] { behindRan = true; });
    ASSERT_TRUE(stuck.waitEntered());

    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(stopBackgroundHostCalls(300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 2s);
    EXPECT_TRUE(backgroundHostCallsAbandoned());
    std::atomic<bool> lateRan{false};
    queue.post(&kOtherStrand, [&] { lateRan = true; });

    // The stuck call ends on its own; nothing given up runs, and a later load starts afresh.
    stuck.opened.set_value();
    EXPECT_TRUE(stopBackgroundHostCalls());
    EXPECT_FALSE(backgroundHostCallsAbandoned());
    EXPECT_FALSE(behindRan);
    EXPECT_FALSE(lateRan);
    std::atomic<bool> ranAgain{false};
    queue.post(&kOtherStrand, [&] { ranAgain = true; });
    drainBackgroundHostCalls();
    EXPECT_TRUE(ranAgain);
}

TEST(HostCallQueue, AProcessEndsAtOnceOnceUnloadGaveUpOnAStuckCall) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EXIT(
        {
            Latch stuck;
            backgroundHostCalls().post(&kStuckStrand, stuck.call());
            stuck.waitEntered();
            stopBackgroundHostCalls(100ms);
            std::exit(0); // static destructors run; the stuck call still waits
        },
        testing::ExitedWithCode(0), "");
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 3s) << "something waited at exit";
}

} // namespace
