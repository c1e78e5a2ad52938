// The HTTPS fetch against real TLS servers on 127.0.0.1: what it returns, its limits, its
// certificate checks, the proxy it honours and how fast a cancel ends it.

#include "support/update_servers.h"
#include "update/https_fetch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kProxyVariables[] = {"https_proxy", "HTTPS_PROXY", "http_proxy", "HTTP_PROXY",
                                       "all_proxy",   "ALL_PROXY",   "no_proxy",   "NO_PROXY"};

HttpsRequest requestTo(const UpdateEndpoint& endpoint) {
    return {endpoint.host,
            endpoint.port,
            QString::fromLatin1(kUpdatePath),
            QString::fromLatin1(kUpdateUserAgent),
            endpoint.caFile,
            endpoint.connectAddress};
}

// The maker's host name on a port of 127.0.0.1 where nothing speaks TLS.
HttpsRequest requestToPlainPort(uint16_t port) {
    UpdateEndpoint endpoint;
    endpoint.port = port;
    endpoint.connectAddress = QStringLiteral("127.0.0.1");
    return requestTo(endpoint);
}

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Runs a fetch on a thread of its own, as the update check does.
class BackgroundFetch {
public:
    explicit BackgroundFetch(HttpsRequest request) : fetch_(createHttpsFetch()) {
        thread_ = std::thread([this, request] {
            body_ = fetch_->get(request);
            returnedAt_ = Clock::now();
            done_ = true;
        });
    }
    ~BackgroundFetch() { finish(); }

    // Cancels and returns the milliseconds from the cancel to the fetch's return.
    long long cancelAndMeasure() {
        const Clock::time_point cancelledAt = Clock::now();
        fetch_->cancel();
        finish();
        return std::chrono::duration_cast<std::chrono::milliseconds>(returnedAt_ - cancelledAt)
            .count();
    }
    bool done() const { return done_; }
    const QByteArray& body() const { return body_; }
    void finish() {
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::unique_ptr<HttpsFetch> fetch_;
    std::thread thread_;
    QByteArray body_;
    Clock::time_point returnedAt_{};
    std::atomic<bool> done_{false};
};

class HttpsFetchTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // The fetch honours the proxy variables; these tests talk to 127.0.0.1 directly.
        for (const char* name : kProxyVariables)
            unsetenv(name);
    }

    static QByteArray fetch(const HttpsRequest& request) {
        return createHttpsFetch()->get(request);
    }

    void startServer(UpdateServer& server) {
        QString error;
        ASSERT_TRUE(server.start(&error)) << error.toStdString();
    }
};

} // namespace

TEST_F(HttpsFetchTest, ReturnsTheBodyOfA200AnswerToTheUpdateRequest) {
    UpdateServer server;
    startServer(server);
    const QByteArray body = manifestBody(QStringLiteral("1.2"), QStringLiteral("https://x/"));
    server.setManifest(body);

    EXPECT_EQ(fetch(requestTo(server.endpoint())), body);

    // One GET of the manifest path over HTTP/1.1, with the check's user agent and the maker's
    // host name (not the address it was reached at).
    EXPECT_EQ(server.waitForRequests(1),
              QStringList{QStringLiteral("GET /relaycast/version.json HTTP/1.1|200|"
                                         "Relaycast-UpdateCheck|updates.relaycast.app:%1")
                              .arg(server.port())});
}

TEST_F(HttpsFetchTest, AnswersOtherThan200GiveNothing) {
    UpdateServer missing;
    startServer(missing);
    EXPECT_TRUE(fetch(requestTo(missing.endpoint())).isEmpty());
    ASSERT_EQ(missing.waitForRequests(1).size(), 1);
    EXPECT_TRUE(missing.requests().first().contains(QStringLiteral("|404|")));

    // Even a good manifest does not count under another status; redirects are not followed.
    const QByteArray body = manifestBody(QStringLiteral("2.0"), QStringLiteral("https://x/"));
    for (int status : {201, 203, 301, 500, 503}) {
        UpdateServer server(UpdateServerOptions{.fixedStatus = status, .fixedBody = body});
        startServer(server);
        EXPECT_TRUE(fetch(requestTo(server.endpoint())).isEmpty()) << status;
        EXPECT_EQ(server.waitForRequests(1).size(), 1) << status;
    }
}

TEST_F(HttpsFetchTest, ReadingStopsOnceTheBodyLimitIsHeld) {
    UpdateServer server;
    startServer(server);
    const auto endpoint = server.endpoint();

    QByteArray justUnder(kFetchBodyLimit - 1, 'a');
    server.setManifest(justUnder);
    EXPECT_EQ(fetch(requestTo(endpoint)), justUnder);

    // Far more than the socket buffers of both ends can hold, so a server that got rid of all
    // of it had a client reading to the end.
    QByteArray large;
    for (int i = 0; large.size() < 32 * 1024 * 1024; ++i)
        large += QByteArray::number(i) + ' ';
    server.setManifest(large);
    const QByteArray cut = fetch(requestTo(endpoint));
    EXPECT_GE(cut.size(), kFetchBodyLimit);
    EXPECT_LE(cut.size(), kFetchBodyLimit + kFetchReadSize - 1);
    EXPECT_TRUE(large.startsWith(cut));

    // The transfer itself ended early: the client closed while most of the body was unsent.
    const QList<qint64> sent = server.waitForBytesSent(2);
    ASSERT_EQ(sent.size(), 2);
    std::printf("oversized answer: the server sent %lld of %lld bytes\n", sent[1],
                static_cast<long long>(large.size()));
    EXPECT_LT(sent[1], large.size() / 4);
}

TEST_F(HttpsFetchTest, OnlyATrustedCertificateForTheHostNameIsAccepted) {
    UpdateServer server;
    startServer(server);
    server.setManifest("{}");

    HttpsRequest systemTrustOnly = requestTo(server.endpoint());
    systemTrustOnly.caFile.clear();
    EXPECT_TRUE(fetch(systemTrustOnly).isEmpty());

    TestAuthority otherAuthority;
    ASSERT_TRUE(otherAuthority.valid()) << otherAuthority.error().toStdString();
    HttpsRequest otherTrust = requestTo(server.endpoint());
    otherTrust.caFile = otherAuthority.caFile();
    EXPECT_TRUE(fetch(otherTrust).isEmpty());

    UpdateServer wrongName(UpdateServerOptions{.certificateName = QStringLiteral("other.test")});
    startServer(wrongName);
    wrongName.setManifest("{}");
    EXPECT_TRUE(fetch(requestTo(wrongName.endpoint())).isEmpty());

    // None of them got as far as a request; the trusted one does.
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_TRUE(wrongName.requests().isEmpty());
    EXPECT_EQ(fetch(requestTo(server.endpoint())), QByteArray("{}"));
    EXPECT_EQ(server.waitForRequests(2, 500).size(), 1);
}

TEST_F(HttpsFetchTest, AServerThatNeverStartsTlsEndsTheFetchAtTheConnectLimit) {
    SilentListener silent;
    ASSERT_TRUE(silent.listening());
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(fetch(requestToPlainPort(silent.port())).isEmpty());
    const long long elapsed = msSince(start);
    std::printf("connect limit: fetch ended after %lld ms\n", elapsed);
    EXPECT_EQ(silent.connectionCount(), 1);
    EXPECT_GE(elapsed, kFetchConnectTimeoutMs - 50);
    EXPECT_LT(elapsed, 10000);
}

TEST_F(HttpsFetchTest, AServerThatNeverAnswersTheRequestEndsTheFetchAtTheReceiveLimit) {
    SilentListener backend;
    ASSERT_TRUE(backend.listening());
    UpdateServer server(UpdateServerOptions{.backendPort = backend.port()});
    startServer(server);

    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(fetch(requestTo(server.endpoint())).isEmpty());
    const long long elapsed = msSince(start);
    std::printf("receive limit: fetch ended after %lld ms\n", elapsed);
    // The request reached the backend (nginx forwards it as HTTP/1.0, or 1.1 from nginx 1.29).
    EXPECT_TRUE(backend.received().startsWith("GET /relaycast/version.json HTTP/1."));
    EXPECT_GE(elapsed, kFetchReceiveTimeoutMs);
    EXPECT_LT(elapsed, 12000);
}

TEST_F(HttpsFetchTest, CancelEndsAFetchPromptlyWhereverItWaits) {
    // Waiting for the TLS handshake.
    {
        SilentListener silent;
        ASSERT_TRUE(silent.listening());
        BackgroundFetch running(requestToPlainPort(silent.port()));
        ASSERT_TRUE(waitUntil([&] { return silent.connectionCount() == 1; }));
        const long long ms = running.cancelAndMeasure();
        std::printf("cancel while connecting: fetch returned %lld ms after the cancel\n", ms);
        EXPECT_TRUE(running.body().isEmpty());
        EXPECT_LT(ms, 2000);
    }
    // Waiting for the answer.
    {
        SilentListener backend;
        ASSERT_TRUE(backend.listening());
        UpdateServer server(UpdateServerOptions{.backendPort = backend.port()});
        startServer(server);
        BackgroundFetch running(requestTo(server.endpoint()));
        ASSERT_TRUE(waitUntil([&] { return !backend.received().isEmpty(); }));
        const long long ms = running.cancelAndMeasure();
        std::printf("cancel while awaiting the answer: fetch returned %lld ms after the cancel\n",
                    ms);
        EXPECT_TRUE(running.body().isEmpty());
        EXPECT_LT(ms, 2000);
    }
}

TEST_F(HttpsFetchTest, AFetchAfterCancelDoesNotConnect) {
    SilentListener silent;
    ASSERT_TRUE(silent.listening());
    auto fetcher = createHttpsFetch();
    fetcher->cancel();
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(fetcher->get(requestToPlainPort(silent.port())).isEmpty());
    EXPECT_LT(msSince(start), 1000);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(silent.connectionCount(), 0);
}

TEST_F(HttpsFetchTest, TheSystemProxySettingIsHonoured) {
    SilentListener proxy;
    SilentListener direct;
    ASSERT_TRUE(proxy.listening() && direct.listening());
    setenv("https_proxy", QStringLiteral("http://127.0.0.1:%1").arg(proxy.port()).toUtf8(), 1);
    {
        BackgroundFetch running(requestToPlainPort(direct.port()));
        const QByteArray connect = QStringLiteral("CONNECT updates.relaycast.app:%1 HTTP/1.1\r\n")
                                       .arg(direct.port())
                                       .toUtf8();
        EXPECT_TRUE(waitUntil([&] { return proxy.received().contains("\r\n\r\n"); }));
        running.cancelAndMeasure();
        EXPECT_TRUE(proxy.received().startsWith(connect)) << proxy.received().constData();
        EXPECT_TRUE(proxy.received().contains("User-Agent: Relaycast-UpdateCheck\r\n"));
        EXPECT_EQ(direct.connectionCount(), 0);
    }
    unsetenv("https_proxy");
}
