#include "engine/folder_call.h"

#include <QDir>

#include <map>
#include <system_error>
#include <thread>

namespace relaycast {
namespace {

using Clock = std::chrono::steady_clock;

// The calls under way, by folder, with the moment each began. Never destroyed: a stuck call's
// thread may still end after the process began running its static destructors.
struct CallsUnderWay {
    std::mutex lock;
    std::multimap<QString, Clock::time_point> calls;
};
CallsUnderWay& underWay() {
    static auto* calls = new CallsUnderWay;
    return *calls;
}

bool answeringLocked(CallsUnderWay& all, const QString& folder, Clock::time_point now) {
    const auto [first, last] = all.calls.equal_range(QDir::cleanPath(folder));
    for (auto it = first; it != last; ++it) {
        if (now - it->second >= kFolderAnswerBound)
            return false;
    }
    return true;
}

} // namespace

bool folderAnswering(const QString& folder) {
    CallsUnderWay& all = underWay();
    std::lock_guard guard(all.lock);
    return answeringLocked(all, folder, Clock::now());
}

bool runOnFolderThread(const QString& folder, std::function<void()> work) {
    CallsUnderWay& all = underWay();
    std::multimap<QString, Clock::time_point>::iterator call;
    {
        std::lock_guard guard(all.lock);
        const Clock::time_point now = Clock::now();
        if (!answeringLocked(all, folder, now))
            return false;
        call = all.calls.emplace(QDir::cleanPath(folder), now);
    }
    try {
        std::thread([call, work = std::move(work)]() mutable {
            try {
                work();
            } catch (...) {
                // A call that throws gives no answer: its folder reads as not answering.
            }
            {
                CallsUnderWay& calls = underWay();
                std::lock_guard guard(calls.lock);
                calls.calls.erase(call);
            }
            work = nullptr; // what it held goes here, on this thread
        }).detach();
        return true;
    } catch (const std::system_error&) {
        std::lock_guard guard(all.lock);
        all.calls.erase(call);
        return false;
    }
}

} // namespace relaycast
