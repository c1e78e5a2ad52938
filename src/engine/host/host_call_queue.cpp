#include "engine/host/host_call_queue.h"

#include "module/module_log.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <list>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

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

// What was left to the host: kept reachable (not reported as a leak) and never destroyed, nor is
// its lock, which a thread still inside a given-up call takes when that call returns.
struct LeftToHost {
    std::mutex lock;
    std::vector<std::shared_ptr<void>> objects;
};
LeftToHost& leftToHost() {
    static LeftToHost& left = *new LeftToHost;
    return left;
}

// Calls that were given up at unload: never run, and never destroyed either, since destroying
// them would release host objects the host may already have freed.
void leak(std::function<void()> call) {
    leaveToHost(std::make_shared<std::function<void()>>(std::move(call)));
}

class BackgroundHostCalls final : public HostCallQueue {
public:
    void post(const void* strand, std::function<void()> call) override {
        std::lock_guard guard(lock_);
        if (abandoned_) {
            leak(std::move(call));
            return;
        }
        reapFinishedWorkers();
        ++unfinished_;
        Strand& line = strands_[strand];
        line.calls.push_back(std::move(call));
        if (line.running)
            return;
        line.running = true;
        auto* worker = new Worker;
        workers_.push_back(worker);
        worker->thread = std::thread([this, strand, worker] { run(strand, *worker); });
    }

    long long drain() {
        const auto begin = std::chrono::steady_clock::now();
        std::unique_lock guard(lock_);
        idle_.wait(guard, [this] { return unfinished_ == 0; });
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - begin)
            .count();
    }

    bool drainWithin(std::chrono::milliseconds limit) {
        std::unique_lock guard(lock_);
        const auto done = [this] { return unfinished_ == 0; };
        if (limit == std::chrono::milliseconds::max()) {
            idle_.wait(guard, done);
            return true;
        }
        return idle_.wait_for(guard, limit, done);
    }

    int unfinished() {
        std::lock_guard guard(lock_);
        return unfinished_;
    }

    bool stop(std::chrono::milliseconds limit) {
        const bool drained = drainWithin(limit);
        std::list<Worker*> workers;
        {
            std::lock_guard guard(lock_);
            if (!drained) {
                abandoned_ = true;
                for (auto& [strand, line] : strands_) {
                    unfinished_ -= static_cast<int>(line.calls.size());
                    for (auto& call : line.calls)
                        leak(std::move(call));
                    line.calls.clear();
                }
            }
            workers.swap(workers_);
        }
        for (Worker* worker : workers) {
            bool finished = false;
            {
                std::lock_guard guard(lock_);
                finished = worker->finished;
            }
            if (finished || drained) {
                worker->thread.join();
                delete worker;
            } else {
                // Still inside a stuck call: it finishes on its own and its record stays.
                worker->thread.detach();
                leaveToHost(std::shared_ptr<Worker>(worker));
            }
        }
        std::lock_guard guard(lock_);
        if (drained)
            abandoned_ = false;
        return drained;
    }

    bool abandoned() {
        std::lock_guard guard(lock_);
        return abandoned_;
    }

private:
    struct Strand {
        std::deque<std::function<void()>> calls;
        bool running = false;
    };
    struct Worker {
        std::thread thread;
        bool finished = false;
    };

    void run(const void* strand, Worker& worker) {
        std::unique_lock guard(lock_);
        for (;;) {
            Strand& line = strands_[strand];
            if (line.calls.empty() || abandoned_) {
                strands_.erase(strand);
                worker.finished = true;
                return;
            }
            std::function<void()> call = std::move(line.calls.front());
            line.calls.pop_front();
            guard.unlock();
            runGuarded(call);
            guard.lock();
            // Given up meanwhile: what it owns is the host's to free now.
            if (abandoned_)
                leak(std::move(call));
            guard.unlock();
            // Whatever the call owned is released here, off the caller's thread.
            call = nullptr;
            guard.lock();
            if (--unfinished_ == 0)
                idle_.notify_all();
        }
    }

    // Joins the threads of strands that ran dry. Called under the lock; their threads only
    // need the lock to start, never to end, once `finished` is set.
    void reapFinishedWorkers() {
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (!(*it)->finished) {
                ++it;
                continue;
            }
            (*it)->thread.join();
            delete *it;
            it = workers_.erase(it);
        }
    }

    std::mutex lock_;
    std::condition_variable idle_;
    std::unordered_map<const void*, Strand> strands_;
    std::list<Worker*> workers_;
    int unfinished_ = 0;
    bool abandoned_ = false;
};

BackgroundHostCalls& queue() {
    static BackgroundHostCalls& instance = *new BackgroundHostCalls;
    return instance;
}

} // namespace

HostCallQueue& backgroundHostCalls() {
    return queue();
}

long long drainBackgroundHostCalls() {
    return queue().drain();
}

bool drainBackgroundHostCallsWithin(std::chrono::milliseconds limit) {
    return queue().drainWithin(limit);
}

int unfinishedBackgroundHostCalls() {
    return queue().unfinished();
}

bool stopBackgroundHostCalls(std::chrono::milliseconds limit) {
    return queue().stop(limit);
}

bool backgroundHostCallsAbandoned() {
    return queue().abandoned();
}

void leaveToHost(std::shared_ptr<void> object) {
    LeftToHost& left = leftToHost();
    std::lock_guard guard(left.lock);
    left.objects.push_back(std::move(object));
}

} // namespace relaycast
