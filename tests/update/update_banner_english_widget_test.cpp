// The update banner of an English interface, raised by a real check against a local server.

#include "support/icon_text.h"
#include "support/panel_fixture.h"
#include "support/test_host.h"
#include "support/update_servers.h"
#include "update/update_endpoint.h"

#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

RELAYCAST_HOST_TEST_LOCALE("en-US")

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

TEST(UpdateBannerEnglish, ANewerVersionIsAnnouncedInEnglish) {
    UpdateServer server;
    QString error;
    ASSERT_TRUE(server.start(&error)) << error.toStdString();
    server.setManifest(
        manifestBody(QStringLiteral("1.0.10"), QStringLiteral("https://updates.relaycast.app/d")));
    // The test host sends everything but loopback to a dead proxy; this name means 127.0.0.1.
    qputenv("no_proxy", qgetenv("no_proxy") + "," + kUpdateHost);
    qputenv("NO_PROXY", qgetenv("NO_PROXY") + "," + kUpdateHost);
    const UpdateEndpoint previous = panelUpdateEndpoint();
    const UpdateEndpoint local = server.endpoint();
    setPanelUpdateEndpoint(&local);

    PanelWorld world;
    auto panel = world.openPanel();
    QWidget* banner = panel->updateBanner();
    ASSERT_TRUE(pumpUntil([&] { return banner->isVisible(); }, 20s));
    EXPECT_EQ(shownText(panel->updateBannerLabel()),
              QString::fromUtf8("⬆ A new version is available: 1.0.10 (you have %1).")
                  .arg(QStringLiteral(RELAYCAST_VERSION)));
    ASSERT_TRUE(banner->findChild<QPushButton*>() && banner->findChild<QToolButton*>());
    EXPECT_EQ(banner->findChild<QPushButton*>()->text(), QStringLiteral("Download"));
    EXPECT_EQ(shownText(banner->findChild<QToolButton*>()), QString::fromUtf8("✕"));
    EXPECT_EQ(banner->findChild<QToolButton*>()->toolTip(), QStringLiteral("Hide this notice"));

    panel.reset();
    setPanelUpdateEndpoint(&previous);
}
