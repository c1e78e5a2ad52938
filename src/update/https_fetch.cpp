// The fetch on libcurl. Its multi interface lets cancel() wake a wait in progress from another
// thread, so an abort never waits for a network time-out.

#include "update/https_fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>

namespace relaycast {
namespace {

using Clock = std::chrono::steady_clock;

// Longest single wait, so the limits are checked even when curl has nothing to report.
constexpr int kMaxPollMs = 1000;

void ensureCurlReady() {
    // Never cleaned up: the host may use libcurl too, and the library counts its inits.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;
using Slist = std::unique_ptr<curl_slist, SlistCleanup>;

template <typename F> class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ~ScopeExit() { f_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F f_;
};

struct Transfer {
    CURL* easy = nullptr;
    QByteArray body;
    Clock::time_point lastByte{};
};

size_t onHeader(char*, size_t size, size_t count, void* user) {
    static_cast<Transfer*>(user)->lastByte = Clock::now();
    return size * count;
}

// Takes the body in reads of at most kFetchReadSize bytes and aborts the transfer once the limit
// is reached. Bodies of answers other than 200 are not read at all.
size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    transfer->lastByte = Clock::now();
    long status = 0;
    curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200)
        return 0;
    const size_t total = size * count;
    size_t taken = 0;
    while (taken < total && transfer->body.size() < kFetchBodyLimit) {
        const size_t chunk = std::min(total - taken, static_cast<size_t>(kFetchReadSize));
        transfer->body.append(data + taken, static_cast<int>(chunk));
        taken += chunk;
    }
    return transfer->body.size() >= kFetchBodyLimit ? 0 : total;
}

class CurlHttpsFetch final : public HttpsFetch {
public:
    QByteArray get(const HttpsRequest& request) override;
    void cancel() override;

private:
    bool configure(CURL* easy, const HttpsRequest& request, Transfer* transfer,
                   curl_slist* resolve);
    void run(CURLM* multi, Transfer* transfer);

    std::atomic<bool> cancelled_{false};
    std::mutex lock_;
    CURLM* multi_ = nullptr; // the wait a cancel() must wake; guarded by lock_
};

void CurlHttpsFetch::cancel() {
    cancelled_ = true;
    std::lock_guard guard(lock_);
    if (multi_)
        curl_multi_wakeup(multi_);
}

bool CurlHttpsFetch::configure(CURL* easy, const HttpsRequest& request, Transfer* transfer,
                               curl_slist* resolve) {
    const QByteArray url = QStringLiteral("https://%1:%2%3")
                               .arg(request.host, QString::number(request.port), request.path)
                               .toUtf8();
    const QByteArray agent = request.userAgent.toUtf8();
    const QByteArray caFile = request.caFile.toUtf8();
    bool ok = curl_easy_setopt(easy, CURLOPT_URL, url.constData()) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_USERAGENT, agent.constData()) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                                static_cast<long>(kFetchConnectTimeoutMs)) == CURLE_OK;
    ok = ok &&
         curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, static_cast<long>(kFetchReadSize)) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &onHeader) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_HEADERDATA, transfer) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &onBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer) == CURLE_OK;
#if LIBCURL_VERSION_NUM >= 0x075700
    // Otherwise ending a transfer waits for a name look-up still running on curl's resolver
    // thread, which can take as long as the system's DNS time-outs.
    ok = ok && curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L) == CURLE_OK;
#endif
    // libcurl copies string options, so the local byte arrays may go.
    if (ok && !caFile.isEmpty())
        ok = curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.constData()) == CURLE_OK;
    if (ok && resolve)
        ok = curl_easy_setopt(easy, CURLOPT_RESOLVE, resolve) == CURLE_OK;
    return ok;
}

// Drives the transfer until it ends, stalls past a limit or is cancelled.
void CurlHttpsFetch::run(CURLM* multi, Transfer* transfer) {
    std::optional<Clock::time_point> connectedAt;
    std::optional<Clock::time_point> sentAt;
    while (!cancelled_) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK || running == 0)
            return;
        const Clock::time_point now = Clock::now();
        if (!connectedAt) {
            curl_off_t handshakeDone = 0;
            if (curl_easy_getinfo(transfer->easy, CURLINFO_APPCONNECT_TIME_T, &handshakeDone) ==
                    CURLE_OK &&
                handshakeDone > 0)
                connectedAt = now;
        }
        if (connectedAt && !sentAt) {
            long requestBytes = 0;
            if (curl_easy_getinfo(transfer->easy, CURLINFO_REQUEST_SIZE, &requestBytes) ==
                    CURLE_OK &&
                requestBytes > 0)
                sentAt = now;
        }
        // Before the handshake is done, CURLOPT_CONNECTTIMEOUT_MS is the limit.
        std::optional<Clock::time_point> deadline;
        if (sentAt)
            deadline = std::max(*sentAt, transfer->lastByte) +
                       std::chrono::milliseconds(kFetchReceiveTimeoutMs);
        else if (connectedAt)
            deadline = *connectedAt + std::chrono::milliseconds(kFetchSendTimeoutMs);
        int waitMs = kMaxPollMs;
        if (deadline) {
            if (now >= *deadline)
                return;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - now).count();
            waitMs = static_cast<int>(std::clamp<long long>(left, 1, kMaxPollMs));
        }
        if (curl_multi_poll(multi, nullptr, 0, waitMs, nullptr) != CURLM_OK)
            return;
    }
}

QByteArray CurlHttpsFetch::get(const HttpsRequest& request) {
    if (cancelled_)
        return {};
    ensureCurlReady();
    const EasyHandle easy(curl_easy_init());
    const MultiHandle multi(curl_multi_init());
    if (!easy || !multi)
        return {};
    {
        std::lock_guard guard(lock_);
        if (cancelled_)
            return {};
        multi_ = multi.get();
    }
    // Runs before the multi handle is closed, so cancel() never wakes a closed handle.
    const ScopeExit forget([this] {
        std::lock_guard guard(lock_);
        multi_ = nullptr;
    });

    Transfer transfer;
    transfer.easy = easy.get();
    Slist resolve;
    if (!request.connectAddress.isEmpty()) {
        const QByteArray entry =
            QStringLiteral("%1:%2:%3")
                .arg(request.host, QString::number(request.port), request.connectAddress)
                .toUtf8();
        resolve.reset(curl_slist_append(nullptr, entry.constData()));
        if (!resolve)
            return {};
    }
    if (!configure(easy.get(), request, &transfer, resolve.get()))
        return {};
    if (curl_multi_add_handle(multi.get(), easy.get()) != CURLM_OK)
        return {};
    run(multi.get(), &transfer);
    curl_multi_remove_handle(multi.get(), easy.get());

    if (cancelled_)
        return {};
    long status = 0;
    if (curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200)
        return {};
    return transfer.body;
}

} // namespace

std::unique_ptr<HttpsFetch> createHttpsFetch() {
    return std::make_unique<CurlHttpsFetch>();
}

} // namespace relaycast
