#include "engine/host_call_queue.h"

#include "module/module_log.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

namespace relaycast {
namespace {

void runGuarded(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& e) {
        moduleLog(LOG_WARNING, "unexpected error in a background host call: %s", e.what());
    } catch (...) {
        moduleLog(LOG_WARNING, "unexpected error in a background host call");
    }
}

class BackgroundHostCalls final : public HostCallQueue {
public:
    ~BackgroundHostCalls() override { stop(); }

    void post(std::function<void()> call) override {
        std::lock_guard guard(lock_);
        calls_.push_back(std::move(call));
        if (!worker_.joinable()) {
            stopping_ = false;
            worker_ = std::thread([this] { run(); });
        }
        wake_.notify_all();
    }

    long long drain() {
        const auto begin = std::chrono::steady_clock::now();
        std::unique_lock guard(lock_);
        idle_.wait(guard, [this] { return calls_.empty() && !running_; });
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - begin)
            .count();
    }

    void stop() {
        std::thread worker;
        {
            std::unique_lock guard(lock_);
            idle_.wait(guard, [this] { return calls_.empty() && !running_; });
            stopping_ = true;
            wake_.notify_all();
            worker = std::move(worker_);
        }
        if (worker.joinable())
            worker.join();
    }

private:
    void run() {
        std::unique_lock guard(lock_);
        for (;;) {
            wake_.wait(guard, [this] { return stopping_ || !calls_.empty(); });
            if (calls_.empty())
                return; // stopping, with nothing left
            std::function<void()> call = std::move(calls_.front());
            calls_.pop_front();
            running_ = true;
            guard.unlock();
            runGuarded(call);
            call = nullptr; // whatever it owned is released here, off the caller's thread
            guard.lock();
            running_ = false;
            if (calls_.empty())
                idle_.notify_all();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> calls_;
    bool running_ = false;
    bool stopping_ = false;
    std::thread worker_;
};

BackgroundHostCalls& queue() {
    static BackgroundHostCalls instance;
    return instance;
}

} // namespace

HostCallQueue& backgroundHostCalls() {
    return queue();
}

long long drainBackgroundHostCalls() {
    return queue().drain();
}

void stopBackgroundHostCalls() {
    queue().stop();
}

} // namespace relaycast
