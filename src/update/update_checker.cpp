#include "update/update_checker.h"

#include "module/module_handle.h"
#include "update/https_fetch.h"
#include "update/update_manifest.h"

#include <QMetaObject>
#include <QObject>

namespace relaycast {

UpdateChecker::UpdateChecker(QObject* target, Callback callback, UpdateEndpoint endpoint)
    : target_(target), callback_(std::move(callback)), endpoint_(std::move(endpoint)),
      cancelled_(std::make_shared<std::atomic<bool>>(false)), fetch_(createHttpsFetch()) {}

UpdateChecker::UpdateChecker(QObject* target, Callback callback)
    : UpdateChecker(target, std::move(callback), panelUpdateEndpoint()) {}

UpdateChecker::~UpdateChecker() {
    cancelAndJoin();
}

void UpdateChecker::start() {
    if (started_)
        return;
    started_ = true;
    try {
        worker_ = std::thread([this] { work(); });
    } catch (...) {
        // No thread, no check: the user is simply not told about an update.
    }
}

void UpdateChecker::cancelAndJoin() {
    *cancelled_ = true;
    fetch_->cancel();
    if (worker_.joinable())
        worker_.join();
}

void UpdateChecker::work() noexcept {
    try {
        check();
    } catch (...) {
        // A failed check must never reach the host.
    }
    finished_ = true;
}

void UpdateChecker::check() {
    const HttpsRequest request{endpoint_.host,
                               endpoint_.port,
                               QString::fromLatin1(kUpdatePath),
                               QString::fromLatin1(kUpdateUserAgent),
                               endpoint_.caFile,
                               endpoint_.connectAddress};
    const QByteArray body = fetch_->get(request);
    if (*cancelled_ || body.isEmpty())
        return;
    const auto offer = readUpdateOffer(body, QString::fromLatin1(kModuleVersion), endpoint_.host);
    if (!offer)
        return;
    // The target is alive here: its owner joins this thread before destroying it. Bound to the
    // target, the call is dropped if the target goes before it runs.
    QObject* target = target_.data();
    if (!target || *cancelled_)
        return;
    QMetaObject::invokeMethod(
        target,
        [callback = callback_, cancelled = cancelled_, version = offer->version, url = offer->url] {
            if (!*cancelled && callback)
                callback(version, url);
        },
        Qt::QueuedConnection);
}

} // namespace relaycast
