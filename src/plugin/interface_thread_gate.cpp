#include "plugin/interface_thread_gate.h"

#include <QMetaObject>

#include <condition_variable>
#include <mutex>

namespace relaycast {

// State that outlives the gate while callers still hold it.
struct InterfaceThreadGate::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool closed = false;
};

namespace {

struct PendingCall {
    bool done = false;
    bool abandoned = false;
    QJsonObject result;
};

} // namespace

InterfaceThreadGate::InterfaceThreadGate()
    : shared_(std::make_shared<Shared>()), interfaceThread_(QThread::currentThread()),
      context_(std::make_unique<QObject>()) {}

InterfaceThreadGate::~InterfaceThreadGate() {
    close();
}

std::optional<QJsonObject> InterfaceThreadGate::call(std::function<QJsonObject()> work,
                                                     std::chrono::milliseconds timeout) {
    if (QThread::currentThread() == interfaceThread_)
        return isClosed() ? std::nullopt : std::optional<QJsonObject>(work());

    auto pending = std::make_shared<PendingCall>();
    std::shared_ptr<Shared> shared = shared_;
    std::unique_lock lock(shared->mutex);
    if (shared->closed)
        return std::nullopt;
    // Posted under the lock: close() cannot destroy the context in between.
    QMetaObject::invokeMethod(
        context_.get(),
        [shared, pending, work = std::move(work)] {
            {
                std::lock_guard guard(shared->mutex);
                if (shared->closed || pending->abandoned)
                    return;
            }
            QJsonObject result = work();
            {
                std::lock_guard guard(shared->mutex);
                pending->result = std::move(result);
                pending->done = true;
            }
            shared->changed.notify_all();
        },
        Qt::QueuedConnection);
    shared->changed.wait_for(lock, timeout, [&] { return pending->done || shared->closed; });
    if (pending->done)
        return std::move(pending->result);
    pending->abandoned = true;
    return std::nullopt;
}

void InterfaceThreadGate::close() {
    {
        std::lock_guard guard(shared_->mutex);
        if (shared_->closed)
            return;
        shared_->closed = true;
    }
    shared_->changed.notify_all();
    // Work still queued is dropped with its receiver.
    context_.reset();
}

bool InterfaceThreadGate::isClosed() const {
    std::lock_guard guard(shared_->mutex);
    return shared_->closed;
}

} // namespace relaycast
