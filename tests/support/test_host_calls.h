#pragma once

#include "engine/host/host_call_queue.h"

#include <deque>
#include <functional>
#include <utility>

namespace relaycast::test {

// Runs every host call as soon as it is handed over, on the caller's thread: the engine's
// decisions play in order without a background thread.
class InlineHostCalls final : public HostCallQueue {
public:
    void post(const void*, std::function<void()> call) override {
        ++posted;
        call();
    }
    int posted = 0;
};

// Keeps the host calls until the test runs them, to show what the interface thread left to
// the queue and what it did itself.
class HeldHostCalls final : public HostCallQueue {
public:
    ~HeldHostCalls() override { runAll(); }
    void post(const void*, std::function<void()> call) override {
        calls_.push_back(std::move(call));
    }
    int pending() const { return static_cast<int>(calls_.size()); }
    void runAll() {
        while (!calls_.empty()) {
            std::function<void()> call = std::move(calls_.front());
            calls_.pop_front();
            call();
        }
    }

private:
    std::deque<std::function<void()>> calls_;
};

} // namespace relaycast::test
