#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace relaycast {

// A call to the file system of a user's folder (a recording's), run on a thread of its own: a
// folder that stops answering (a hard NFS mount, an SMB share whose server went away) holds up
// that thread and nothing else, never the interface thread. Such a thread cannot be ended; it
// owns everything it uses, returns whenever the folder answers again, and is never waited for
// (it is killed with the process at exit). So it may still run while the process ends: it calls
// the system and the standard library only, never Qt (whose statics are gone by then, and whose
// Qt 5 locale codec two threads setting it up at once deadlock); paths reach it as nativePath.
//
// A folder whose oldest call under way has gone unanswered for kFolderAnswerBound counts as not
// answering: new calls to it are refused at once rather than adding stuck threads.

// How long a user's folder may take to answer before it counts as not answering: a start there
// fails, and a recording's card says so.
inline constexpr std::chrono::milliseconds kFolderAnswerBound{3000};

// A path as the file system takes it, for such a thread; made on the calling thread.
std::filesystem::path nativePath(const QString& path);

// Any thread. Whether every call to `folder` under way began less than kFolderAnswerBound ago.
bool folderAnswering(const QString& folder);

// Any thread. Runs `work` on a thread of its own, never waited for; false (and nothing run) when
// no thread can be started. What `work` holds is released on that thread.
bool runDetached(std::function<void()> work);

// The same, counted against `folder` while it runs; false (and nothing run) when the folder does
// not answer.
bool runOnFolderThread(const QString& folder, std::function<void()> work);

// The answer of one such call, read by whoever asked it. Dropping it before the answer came
// leaves the answer to the call's thread, which destroys it there.
template <typename Answer> class FolderCall {
public:
    FolderCall() = default;

    // Starts `work` for `folder`; an empty call when the folder does not answer.
    static FolderCall start(const QString& folder, std::function<Answer()> work) {
        FolderCall call;
        auto shared = std::make_shared<Shared>();
        shared->startedAt = std::chrono::steady_clock::now();
        if (runOnFolderThread(folder, [shared, work = std::move(work)] {
                Answer answer = work();
                std::lock_guard guard(shared->lock);
                shared->answer = std::move(answer);
                shared->answered.notify_all();
            }))
            call.shared_ = std::move(shared);
        return call;
    }

    // False for an empty call (never started, or its answer taken).
    bool started() const { return shared_ != nullptr; }

    // Waits at most `limit` for the answer; true once it is there.
    bool waitFor(std::chrono::milliseconds limit) const {
        if (!shared_)
            return false;
        std::unique_lock guard(shared_->lock);
        return shared_->answered.wait_for(guard, limit,
                                          [this] { return shared_->answer.has_value(); });
    }
    bool answered() const { return waitFor(std::chrono::milliseconds(0)); }
    // Started and still unanswered after kFolderAnswerBound.
    bool overdue() const {
        return shared_ && !answered() &&
               std::chrono::steady_clock::now() - shared_->startedAt >= kFolderAnswerBound;
    }

    // The answer, once answered(); the call is empty afterwards.
    Answer take() {
        std::optional<Answer> answer;
        {
            std::lock_guard guard(shared_->lock);
            answer.swap(shared_->answer);
        }
        shared_.reset();
        return std::move(*answer);
    }

private:
    struct Shared {
        std::mutex lock;
        std::condition_variable answered;
        std::optional<Answer> answer;
        std::chrono::steady_clock::time_point startedAt;
    };
    std::shared_ptr<Shared> shared_;
};

} // namespace relaycast
