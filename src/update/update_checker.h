#pragma once

#include "update/update_endpoint.h"

#include <QPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class QObject;

namespace relaycast {

class HttpsFetch;

// Asks the maker's web host once, on a worker thread, whether a newer version is published.
// When the manifest offers a newer version with an accepted download address, the callback runs
// on the target's thread with (new version, download address); every failure is silent.
class UpdateChecker {
public:
    using Callback = std::function<void(const QString& version, const QString& url)>;

    // Nothing starts yet. The target must not be destroyed while the worker runs: its owner
    // calls cancelAndJoin first (the destructor does too).
    UpdateChecker(QObject* target, Callback callback, UpdateEndpoint endpoint);
    // The same against panelUpdateEndpoint().
    UpdateChecker(QObject* target, Callback callback);
    ~UpdateChecker();
    UpdateChecker(const UpdateChecker&) = delete;
    UpdateChecker& operator=(const UpdateChecker&) = delete;

    // Starts the worker the first time; later calls do nothing. Interface thread.
    void start();
    // Aborts a request in progress and waits for the worker. No callback runs afterwards, not
    // even one already queued. Interface thread.
    void cancelAndJoin();
    // True once the worker has returned.
    bool hasFinished() const { return finished_; }

private:
    void work() noexcept;
    void check();

    QPointer<QObject> target_;
    Callback callback_;
    UpdateEndpoint endpoint_;
    // Shared with queued deliveries, which may outlive the checker.
    std::shared_ptr<std::atomic<bool>> cancelled_;
    std::unique_ptr<HttpsFetch> fetch_;
    std::thread worker_;
    bool started_ = false;
    std::atomic<bool> finished_{false};
};

} // namespace relaycast
