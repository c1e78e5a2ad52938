// Pictures of the dock for the documentation, in the interface language of the host locale:
// idle, live with rates and a preview, a server drop being reconnected, and a refused stream.
// Skipped unless asked for, e.g. for English pictures in docs/:
//   RELAYCAST_SCREENSHOT_DIR=docs RELAYCAST_SCREENSHOT_LOCALE=en-US
//   xvfb-run -a -s "-screen 0 1280x1024x24" panel_screenshots_widget_test
//   --gtest_also_run_disabled_tests

#include "engine/picture/entry_pipeline.h"
#include "module/ui_text.h"
#include "support/local_servers.h"
#include "support/panel_fixture.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>

extern "C" const char* relaycastHostTestLocale() {
    const char* locale = std::getenv("RELAYCAST_SCREENSHOT_LOCALE");
    return locale && *locale ? locale : "es-ES";
}

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

// From the X server, so the host's native preview drawing is in the picture too.
bool savePicture(SalidasPanel& panel, const QString& name) {
    pumpFor(300ms);
    const QString suffix = isSpanishInterface() ? QStringLiteral("es") : QStringLiteral("en");
    const QDir dir(QString::fromLocal8Bit(std::getenv("RELAYCAST_SCREENSHOT_DIR")));
    const QPixmap picture = panel.screen()->grabWindow(panel.winId());
    return picture.save(dir.filePath(QStringLiteral("panel-%1-%2.png").arg(name, suffix)));
}

bool isLiveWithRate(const SalidasPanel& panel, const QString& destinationId) {
    return statusTextOf(panel, destinationId).contains(QStringLiteral(" Mbps"));
}

TEST(PanelScreenshots, DISABLED_SaveDockPictures) {
    if (!std::getenv("RELAYCAST_SCREENSHOT_DIR"))
        GTEST_SKIP() << "RELAYCAST_SCREENSHOT_DIR is not set";
    RtmpServer studio;
    RtmpServer backup;
    SrtListener srt;
    QString error;
    ASSERT_TRUE(studio.start(&error)) << error.toStdString();
    ASSERT_TRUE(backup.start(&error)) << error.toStdString();
    ASSERT_TRUE(srt.start(&error)) << error.toStdString();

    OBSSceneAutoRelease show = createScene("Escenario");
    OBSSourceAutoRelease stage = createBandedFourByThreeSource("Cámara 1");
    OBSSourceAutoRelease backdrop = createColorSource("Fondo", 0xFF6A3D1E, 1280, 720);
    addToScene(show, backdrop);
    obs_sceneitem_t* camera = addToScene(show, stage);
    const vec2 cameraPosition{320.0f, 120.0f};
    obs_sceneitem_set_pos(camera, &cameraPosition);
    OBSSceneAutoRelease interview = createScene("Entrevista");
    addToScene(interview, backdrop);

    PanelWorld world;
    EntryConfig main =
        entrySending(QStringLiteral("Escenario"), 640, 360,
                     {destination("d1", studio.url() + QStringLiteral("?k=1"), "principal"),
                      destination("d2", srt.url() + QStringLiteral("?latency=200"))});
    main.id = QStringLiteral("e1");
    main.nombre = QStringLiteral("Programa");
    main.videoKbps = 2500;
    EntryConfig refused = entrySending(QStringLiteral("Entrevista"), 640, 360,
                                       {destination("d3", backup.url(), backup.refusedKey())});
    refused.id = QStringLiteral("e2");
    refused.nombre.clear();
    refused.videoKbps = 1200;
    EntryConfig follower =
        entrySending(QString(), 640, 360,
                     {destination("d4", QStringLiteral("rtmps://live.example:443/app"), "x")});
    follower.id = QStringLiteral("e3");
    follower.nombre.clear();
    follower.seguirObs = true;
    world.entries() << main << refused << follower;
    world.frontend.setCurrentScene(obs_scene_get_source(show));

    auto panel = world.openPanel();
    panel->resize(430, 720);
    panel->move(0, 0);
    ASSERT_TRUE(savePicture(*panel, QStringLiteral("idle")));

    clickDestination(*panel, "d1");
    clickDestination(*panel, "d2");
    QTest::mouseClick(panel->switchRow("e1")->parentWidget()->findChildren<QToolButton*>().front(),
                      Qt::LeftButton);
    ASSERT_TRUE(pumpUntil(
        [&] { return isLiveWithRate(*panel, "d1") && isLiveWithRate(*panel, "d2"); }, 30s));
    pumpFor(4s);
    ASSERT_TRUE(savePicture(*panel, QStringLiteral("live")));

    studio.stop();
    ASSERT_TRUE(pumpUntil(
        [&] { return statusTextOf(*panel, "d1").startsWith(QString::fromUtf8("⚠ ")); }, 30s));
    pumpFor(3s);
    ASSERT_TRUE(savePicture(*panel, QStringLiteral("reconnecting")));

    ASSERT_TRUE(studio.start(&error)) << error.toStdString();
    clickDestination(*panel, "d3");
    ASSERT_TRUE(pumpUntil(
        [&] {
            return statusTextOf(*panel, "d3").startsWith(QString::fromUtf8("⚠ ")) &&
                   !panel->isEntryLive("e2") && isLiveWithRate(*panel, "d1");
        },
        60s));
    panel->showNotice(QString(), false);
    // The rate after a recovery needs a few heartbeats to settle.
    pumpFor(5s);
    ASSERT_TRUE(savePicture(*panel, QStringLiteral("failed")));
}

} // namespace
