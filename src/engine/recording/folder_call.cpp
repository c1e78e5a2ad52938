#include "engine/recording/folder_call.h"

#include <QDir>
#include <QFile>

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

std::filesystem::path nativePath(const QString& path) {
#ifdef _WIN32
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

bool runDetached(std::function<void()> work) {
    try {
        std::thread([work = std::move(work)]() mutable {
            try {
                work();
            } catch (...) {
                // Nothing to tell: the caller reads what the work left.
            }
            work = nullptr; // what it held goes here, on this thread
        }).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
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
    // A call that throws gives no answer: its caller takes the folder for one not answering.
    const bool started = runDetached([call, work = std::move(work)]() mutable {
        struct Done {
            std::multimap<QString, Clock::time_point>::iterator call;
            ~Done() {
                CallsUnderWay& calls = underWay();
                std::lock_guard guard(calls.lock);
                calls.calls.erase(call);
            }
        } done{call};
        work();
    });
    if (!started) {
        std::lock_guard guard(all.lock);
        all.calls.erase(call);
    }
    return started;
}

} // namespace relaycast
