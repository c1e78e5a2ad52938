// The panel's update check and banner on the real host, against HTTPS servers on 127.0.0.1:
// the check a panel makes 8 s after it is built, the banner and its two buttons, the answers
// that show nothing, and a panel destroyed while its check hangs.

#include "support/icon_text.h"
#include "support/log_capture.h"
#include "support/panel_fixture.h"
#include "support/update_servers.h"
#include "update/update_endpoint.h"

#include <obs.h>

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const QString kDownload =
    QStringLiteral("https://updates.relaycast.app/relaycast/1.1/relaycast.deb");

// Receives what QDesktopServices::openUrl would hand to the desktop for https addresses.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl& url) { urls << url; }
};

QPushButton* downloadButton(const SalidasPanel& panel) {
    return panel.updateBanner()->findChild<QPushButton*>();
}

QToolButton* hideButton(const SalidasPanel& panel) {
    return panel.updateBanner()->findChild<QToolButton*>();
}

class UpdateBannerTest : public testing::Test {
protected:
    void SetUp() override {
        previousEndpoint = panelUpdateEndpoint();
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &opened, "open");
        // The test host sends everything but loopback to a dead proxy; the maker's host name
        // resolves to 127.0.0.1 here, so it may go direct.
        for (const char* name : {"no_proxy", "NO_PROXY"}) {
            previousNoProxy.push_back(qgetenv(name));
            qputenv(name, previousNoProxy.back() + "," + kUpdateHost);
        }
    }
    void TearDown() override {
        qputenv("no_proxy", previousNoProxy[0]);
        qputenv("NO_PROXY", previousNoProxy[1]);
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        setPanelUpdateEndpoint(&previousEndpoint);
    }

    void startServer(UpdateServer& server) {
        QString error;
        ASSERT_TRUE(server.start(&error)) << error.toStdString();
    }

    // A panel whose check goes to `endpoint`.
    std::unique_ptr<SalidasPanel> openPanelFor(const UpdateEndpoint& endpoint) {
        setPanelUpdateEndpoint(&endpoint);
        return world.openPanel();
    }

    UpdateEndpoint previousEndpoint;
    std::vector<QByteArray> previousNoProxy;
    OpenedUrls opened;
    PanelWorld world;
};

} // namespace

TEST_F(UpdateBannerTest, ANewerVersionShowsTheBannerOnceAndItsButtonsWork) {
    UpdateServer server;
    startServer(server);
    server.setManifest(manifestBody(QStringLiteral(" 1.1 "), kDownload));
    LogCapture log;
    auto panel = openPanelFor(server.endpoint());

    // Built hidden, with its buttons; nothing is asked before the delay has passed.
    EXPECT_TRUE(panel->updateBanner()->isHidden());
    ASSERT_TRUE(downloadButton(*panel) && hideButton(*panel));
    EXPECT_EQ(downloadButton(*panel)->text(), QStringLiteral("Descargar"));
    EXPECT_EQ(shownText(hideButton(*panel)), QString::fromUtf8("✕"));
    EXPECT_EQ(hideButton(*panel)->toolTip(), QStringLiteral("Ocultar este aviso"));
    pumpFor(7s);
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_TRUE(panel->updateBanner()->isHidden());

    ASSERT_TRUE(pumpUntil([&] { return panel->updateBanner()->isVisible(); }, 15s));
    EXPECT_EQ(shownText(panel->updateBannerLabel()),
              QString::fromUtf8("⬆ Hay una versión nueva: 1.1 (tienes la %1).")
                  .arg(QStringLiteral(RELAYCAST_VERSION)));
    EXPECT_EQ(
        log.linesAt(LOG_INFO).filter(QStringLiteral("a newer version")),
        QStringList{QStringLiteral("[relaycast] a newer version of the plugin is available: 1.1")});

    // A rebuild of the cards leaves the banner alone.
    panel->rebuildCards();
    EXPECT_TRUE(panel->updateBanner()->isVisible());

    QTest::mouseClick(downloadButton(*panel), Qt::LeftButton);
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl(kDownload)});

    QTest::mouseClick(hideButton(*panel), Qt::LeftButton);
    EXPECT_TRUE(panel->updateBanner()->isHidden());

    // One check per panel: neither hiding the banner nor waiting makes another request.
    pumpFor(3s);
    EXPECT_TRUE(panel->updateBanner()->isHidden());
    EXPECT_EQ(server.waitForRequests(2, 100).size(), 1);

    // A panel built again checks again, once.
    panel.reset();
    panel = world.openPanel();
    ASSERT_TRUE(pumpUntil([&] { return panel->updateBanner()->isVisible(); }, 20s));
    pumpFor(1s);
    EXPECT_EQ(server.waitForRequests(3, 100).size(), 2);
}

TEST_F(UpdateBannerTest, DownloadOpensOnlyAnAcceptedAddress) {
    auto panel = world.openPanel();
    const QString rejected[] = {
        QStringLiteral("https://evil.example/relaycast.deb"),
        QStringLiteral("https://updates.relaycast.app/relay cast.deb"),
        QStringLiteral("http://updates.relaycast.app/relaycast.deb"),
        QStringLiteral("https://updates.relaycast.app.evil.example/relaycast.deb"),
    };
    for (const QString& url : rejected) {
        panel->showUpdateBanner(QStringLiteral("2.0"), url);
        ASSERT_TRUE(panel->updateBanner()->isVisible());
        QTest::mouseClick(downloadButton(*panel), Qt::LeftButton);
    }
    EXPECT_TRUE(opened.urls.isEmpty());

    panel->showUpdateBanner(QStringLiteral("2.0"), kDownload);
    QTest::mouseClick(downloadButton(*panel), Qt::LeftButton);
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl(kDownload)});
}

TEST_F(UpdateBannerTest, AnswersThatAreNotAnAcceptedNewerVersionShowNothing) {
    QByteArray oversized = manifestBody(QStringLiteral("2.0"), kDownload);
    oversized.insert(1, "\"notes\": \"" + QByteArray(20000, 'x') + "\",");
    struct Case {
        const char* what;
        QByteArray body; // empty: no manifest, the server answers 404
        bool trusted = true;
        std::unique_ptr<UpdateServer> server;
        std::unique_ptr<SalidasPanel> panel;
    };
    Case cases[] = {
        {"not newer", manifestBody(QStringLiteral(RELAYCAST_VERSION), kDownload)},
        {"404", QByteArray()},
        {"not a JSON object", "[\"2.0\", \"" + kDownload.toUtf8() + "\"]"},
        {"oversized", oversized},
        {"address on another host",
         manifestBody(QStringLiteral("2.0"), QStringLiteral("https://evil.example/r.deb"))},
        {"address with a space",
         manifestBody(QStringLiteral("2.0"),
                      QStringLiteral("https://updates.relaycast.app/r 1.deb"))},
        {"version with a suffix", manifestBody(QStringLiteral("2.0-beta"), kDownload)},
        {"untrusted certificate", manifestBody(QStringLiteral("2.0"), kDownload), false},
    };
    // All panels wait out their delay together; a good answer alongside shows the wait sufficed.
    UpdateServer goodServer;
    startServer(goodServer);
    goodServer.setManifest(manifestBody(QStringLiteral("2.0"), kDownload));
    for (Case& c : cases) {
        c.server = std::make_unique<UpdateServer>();
        startServer(*c.server);
        if (!c.body.isEmpty())
            c.server->setManifest(c.body);
        UpdateEndpoint endpoint = c.server->endpoint();
        if (!c.trusted)
            endpoint.caFile.clear();
        c.panel = openPanelFor(endpoint);
    }
    auto goodPanel = openPanelFor(goodServer.endpoint());

    ASSERT_TRUE(pumpUntil([&] { return goodPanel->updateBanner()->isVisible(); }, 20s));
    for (Case& c : cases)
        c.server->waitForRequests(c.trusted ? 1 : 0);
    pumpFor(1s);
    for (Case& c : cases) {
        EXPECT_TRUE(c.panel->updateBanner()->isHidden()) << c.what;
        EXPECT_EQ(c.server->requests().size(), c.trusted ? 1 : 0) << c.what;
    }
    EXPECT_TRUE(cases[1].server->requests().value(0).contains(QStringLiteral("|404|")));
}

TEST_F(UpdateBannerTest, DestroyingThePanelWhileItsCheckHangsReturnsPromptly) {
    SilentListener silent;  // accepts, never starts TLS
    SilentListener backend; // behind a TLS server: the request is sent, never answered
    ASSERT_TRUE(silent.listening() && backend.listening());
    UpdateServer server(UpdateServerOptions{.backendPort = backend.port()});
    startServer(server);
    UpdateEndpoint handshakeHangs = server.endpoint();
    handshakeHangs.port = silent.port();

    auto handshakePanel = openPanelFor(handshakeHangs);
    auto answerPanel = openPanelFor(server.endpoint());
    ASSERT_TRUE(pumpUntil(
        [&] { return silent.connectionCount() == 1 && !backend.received().isEmpty(); }, 20s));

    const struct {
        const char* what;
        std::unique_ptr<SalidasPanel>& panel;
        SilentListener& peer;
    } cases[] = {{"handshake", handshakePanel, silent}, {"answer", answerPanel, backend}};
    for (const auto& c : cases) {
        const Clock::time_point start = Clock::now();
        c.panel.reset();
        const long long ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        std::printf("panel destroyed while its check awaited the %s: %lld ms\n", c.what, ms);
        EXPECT_LT(ms, 2000) << c.what; // a hang guard; the network limits are 3 and 4 s
        // The worker has ended and closed its connection.
        EXPECT_TRUE(pumpUntil([&] { return c.peer.closedCount() == 1; }, 2s)) << c.what;
    }
}

#include "update_banner_widget_test.moc"
