// The update check end to end against nginx over TLS on 127.0.0.1: what reaches the target,
// what is silently dropped, that it runs once, and that cancelling never waits for the network.

#include "support/log_capture.h"
#include "support/update_servers.h"
#include "update/update_checker.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const QString kDownload =
    QStringLiteral("https://updates.relaycast.app/relaycast/1.1/relaycast.deb");

struct Delivery {
    QString version;
    QString url;
    QThread* thread = nullptr;
};

// Runs the event loop until `condition` holds or `timeout` passes.
bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 15s) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

void drainEvents() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

class UpdateCheckerTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* name : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(name);
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "update_checker_test";
            static char* argv[] = {name, nullptr};
            new QCoreApplication(argc, argv);
        }
    }

    std::unique_ptr<UpdateChecker> checkerFor(const UpdateEndpoint& endpoint) {
        return std::make_unique<UpdateChecker>(
            &target,
            [this](const QString& version, const QString& url) {
                deliveries.push_back({version, url, QThread::currentThread()});
            },
            endpoint);
    }

    // Starts a check and waits for its worker to return and anything it queued to run.
    void runCheck(UpdateChecker& checker) {
        checker.start();
        ASSERT_TRUE(pumpUntil([&] { return checker.hasFinished(); }));
        drainEvents();
    }

    void startServer(UpdateServer& server) {
        QString error;
        ASSERT_TRUE(server.start(&error)) << error.toStdString();
    }

    QObject target;
    std::vector<Delivery> deliveries;
};

} // namespace

TEST_F(UpdateCheckerTest, ANewerVersionReachesTheTargetOnItsThreadOnce) {
    UpdateServer server;
    startServer(server);
    server.setManifest("{\"url\": \"  " + kDownload.toUtf8() +
                       "  \", \"version\": \"\\t1.1 \", \"notes\": \"faster\"}");
    LogCapture log;
    auto checker = checkerFor(server.endpoint());
    EXPECT_FALSE(checker->hasFinished());
    runCheck(*checker);

    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].version, QStringLiteral("1.1"));
    EXPECT_EQ(deliveries[0].url, kDownload);
    EXPECT_EQ(deliveries[0].thread, target.thread());
    EXPECT_EQ(server.waitForRequests(1).size(), 1);
    // Telling the user is the target's business; the check itself writes nothing.
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST_F(UpdateCheckerTest, EveryRejectedAnswerEndsSilently) {
    UpdateServer server;
    startServer(server);
    QByteArray oversized = manifestBody(QStringLiteral("2.0"), kDownload);
    oversized.insert(1, "\"notes\": \"" + QByteArray(20000, 'x') + "\",");
    const struct {
        const char* what;
        QByteArray body; // empty: no manifest, so the server answers 404
    } cases[] = {
        {"same version", manifestBody(QStringLiteral(RELAYCAST_VERSION), kDownload)},
        {"same version, one more group",
         manifestBody(QStringLiteral(RELAYCAST_VERSION ".0"), kDownload)},
        {"older version", manifestBody(QStringLiteral("1.0.2"), kDownload)},
        {"suffixed version", manifestBody(QStringLiteral("1.1-beta"), kDownload)},
        {"five-digit group", manifestBody(QStringLiteral("12345.0"), kDownload)},
        {"five groups", manifestBody(QStringLiteral("1.2.3.4.5"), kDownload)},
        {"leading letter", manifestBody(QStringLiteral("v1.1"), kDownload)},
        {"plain http address",
         manifestBody(QStringLiteral("2.0"), QStringLiteral("http://updates.relaycast.app/r.deb"))},
        {"address on another host",
         manifestBody(QStringLiteral("2.0"), QStringLiteral("https://evil.example/r.deb"))},
        {"address with a space",
         manifestBody(QStringLiteral("2.0"),
                      QStringLiteral("https://updates.relaycast.app/r 1.deb"))},
        {"not an object", "[\"2.0\", \"" + kDownload.toUtf8() + "\"]"},
        {"not JSON", "version=2.0"},
        {"oversized", oversized},
        {"404", QByteArray()},
    };
    ASSERT_GT(oversized.size(), 20000);
    LogCapture log;
    for (const auto& c : cases) {
        if (c.body.isEmpty())
            server.removeManifest();
        else
            server.setManifest(c.body);
        const int before = server.requests().size();
        auto checker = checkerFor(server.endpoint());
        runCheck(*checker);
        EXPECT_TRUE(deliveries.empty()) << c.what;
        // The answer was really fetched: the check got this far and then dropped it.
        EXPECT_EQ(server.waitForRequests(before + 1).size(), before + 1) << c.what;
    }
    EXPECT_TRUE(server.requests().last().contains(QStringLiteral("|404|")));
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST_F(UpdateCheckerTest, AGoodManifestIsIgnoredUnderAnotherStatusOrAnUntrustedCertificate) {
    const QByteArray good = manifestBody(QStringLiteral("2.0"), kDownload);
    UpdateServer unavailable(UpdateServerOptions{.fixedStatus = 503, .fixedBody = good});
    startServer(unavailable);
    runCheck(*checkerFor(unavailable.endpoint()));
    EXPECT_EQ(unavailable.waitForRequests(1).size(), 1);

    UpdateServer server;
    startServer(server);
    server.setManifest(good);
    UpdateEndpoint untrusted = server.endpoint();
    untrusted.caFile.clear();
    runCheck(*checkerFor(untrusted));
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_TRUE(deliveries.empty());

    // The same server and manifest with its authority trusted: the offer arrives.
    runCheck(*checkerFor(server.endpoint()));
    EXPECT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(server.waitForRequests(2, 500).size(), 1);
}

TEST_F(UpdateCheckerTest, TheCheckRunsOncePerChecker) {
    UpdateServer server;
    startServer(server);
    server.setManifest(manifestBody(QStringLiteral("1.2"), kDownload));
    auto checker = checkerFor(server.endpoint());
    checker->start();
    checker->start();
    runCheck(*checker);
    checker->start();
    std::this_thread::sleep_for(300ms);
    drainEvents();
    EXPECT_EQ(server.waitForRequests(2, 300).size(), 1);
    EXPECT_EQ(deliveries.size(), 1u);
}

TEST_F(UpdateCheckerTest, AQueuedOfferIsDroppedWhenTheTargetGoesOrTheCheckIsCancelled) {
    UpdateServer server;
    startServer(server);
    server.setManifest(manifestBody(QStringLiteral("1.2"), kDownload));

    // The target is destroyed after the worker queued its call but before the call ran.
    {
        auto target2 = std::make_unique<QObject>();
        bool called = false;
        UpdateChecker checker(
            target2.get(), [&called](const QString&, const QString&) { called = true; },
            server.endpoint());
        checker.start();
        // Only the worker's return is awaited, without running the queued call.
        const auto deadline = Clock::now() + 15s;
        while (!checker.hasFinished() && Clock::now() < deadline)
            std::this_thread::sleep_for(2ms);
        ASSERT_TRUE(checker.hasFinished());
        target2.reset();
        drainEvents();
        EXPECT_FALSE(called);
    }
    // The check is cancelled after the worker queued its call.
    {
        auto checker = checkerFor(server.endpoint());
        checker->start();
        const auto deadline = Clock::now() + 15s;
        while (!checker->hasFinished() && Clock::now() < deadline)
            std::this_thread::sleep_for(2ms);
        ASSERT_TRUE(checker->hasFinished());
        checker->cancelAndJoin();
        drainEvents();
        EXPECT_TRUE(deliveries.empty());
    }
}

TEST_F(UpdateCheckerTest, CancellingNeverWaitsForTheNetwork) {
    // A server that accepts the connection and never answers: first at the TLS level, then
    // after the request was sent.
    SilentListener silent;
    SilentListener backend;
    ASSERT_TRUE(silent.listening() && backend.listening());
    UpdateServer server(UpdateServerOptions{.backendPort = backend.port()});
    startServer(server);
    UpdateEndpoint silentEndpoint = server.endpoint();
    silentEndpoint.port = silent.port();

    const struct {
        const char* what;
        UpdateEndpoint endpoint;
        std::function<bool()> waiting;
    } cases[] = {
        {"handshake", silentEndpoint, [&] { return silent.connectionCount() == 1; }},
        {"answer", server.endpoint(), [&] { return !backend.received().isEmpty(); }},
    };
    for (const auto& c : cases) {
        auto checker = checkerFor(c.endpoint);
        checker->start();
        ASSERT_TRUE(pumpUntil(c.waiting)) << c.what;
        std::this_thread::sleep_for(50ms);
        ASSERT_FALSE(checker->hasFinished()) << c.what;

        const Clock::time_point start = Clock::now();
        checker->cancelAndJoin();
        const long long ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        std::printf("cancelAndJoin while awaiting the %s: %lld ms\n", c.what, ms);
        EXPECT_TRUE(checker->hasFinished()) << c.what;
        EXPECT_LT(ms, 2000) << c.what; // a hang guard; the limits are 3 and 4 s

        const Clock::time_point destroyStart = Clock::now();
        checker.reset();
        EXPECT_LT(Clock::now() - destroyStart, 2s);
        drainEvents();
        EXPECT_TRUE(deliveries.empty());
    }

    // Destroying a checker mid-request cancels and joins by itself.
    auto checker = checkerFor(server.endpoint());
    checker->start();
    ASSERT_TRUE(pumpUntil([&] { return backend.received().count("GET ") == 2; }));
    const Clock::time_point start = Clock::now();
    checker.reset();
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    std::printf("destroying a checker awaiting the answer: %lld ms\n", ms);
    EXPECT_LT(ms, 2000);
}

TEST_F(UpdateCheckerTest, ACheckerNeverStartedOrCancelledFirstMakesNoRequest) {
    SilentListener silent;
    ASSERT_TRUE(silent.listening());
    UpdateEndpoint endpoint;
    endpoint.port = silent.port();
    endpoint.connectAddress = QStringLiteral("127.0.0.1");
    { auto unused = checkerFor(endpoint); }
    auto checker = checkerFor(endpoint);
    checker->cancelAndJoin();
    checker->start();
    ASSERT_TRUE(pumpUntil([&] { return checker->hasFinished(); }, 2s));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(silent.connectionCount(), 0);
}
