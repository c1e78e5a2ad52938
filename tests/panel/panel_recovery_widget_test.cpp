// A live destination whose RTMP server drops and comes back, as the panel tells it: the red cut
// notice, the outage on the status line, the recovery notice that goes away by itself, and the
// cut counted on the live line. A path that takes less than the stream is announced once, in
// amber on its line, while it lasts.

#include "support/fake_runtime.h"
#include "support/icon_text.h"
#include "support/local_servers.h"
#include "support/log_capture.h"
#include "support/panel_fixture.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <QLabel>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

RELAYCAST_TOLERATE_HOST_LEAKS_OF_DROPPED_CONNECTIONS(2)

namespace {

TEST(PanelRecovery, ADroppedServerIsAnnouncedCountedAndRecovered) {
    LogCapture log;
    RtmpServer rtmp;
    QString error;
    ASSERT_TRUE(rtmp.start(&error)) << error.toStdString();
    OBSSceneAutoRelease scene = createScene("corte-escena");
    OBSSourceAutoRelease colour = createColorSource("corte-color", kOpaqueGreen, 640, 360);
    addToScene(scene, colour);

    PanelWorld world;
    EntryConfig entry = entrySending(QStringLiteral("corte-escena"), 640, 360,
                                     {destination("d1", rtmp.url(), "clave-del-corte")});
    entry.id = QStringLiteral("e1");
    entry.nombre = QStringLiteral("Directo");
    entry.videoKbps = 800;
    world.entries() << entry;
    auto panel = world.openPanel();
    QLabel* notice = panel->noticeLine();

    clickDestination(*panel, "d1");
    ASSERT_TRUE(pumpUntil(
        [&] { return statusTextOf(*panel, "d1").startsWith(QString::fromUtf8("● EN EMISIÓN · ")); },
        30s))
        << statusTextOf(*panel, "d1").toStdString();

    rtmp.stop();
    const QString cut =
        QString::fromUtf8("⚠ Corte en «Directo» → 127.0.0.1. Reconectando automáticamente…");
    ASSERT_TRUE(pumpUntil([&] { return shownText(notice) == cut; }, 30s))
        << shownText(notice).toStdString() << " / " << statusTextOf(*panel, "d1").toStdString();
    EXPECT_FALSE(notice->isHidden());
    EXPECT_EQ(notice->styleSheet(), QStringLiteral("color: #e0524d;"));
    // The line says what the server answered to the last attempt.
    static const QRegularExpression down(
        QString::fromUtf8("^⚠ Cortado \\d+ s · intento \\d+ · (se perdió la conexión|no se pudo "
                          "conectar) con el servidor; se reintenta$"));
    EXPECT_TRUE(pumpUntil([&] { return down.match(statusTextOf(*panel, "d1")).hasMatch(); }, 10s))
        << statusTextOf(*panel, "d1").toStdString();
    EXPECT_EQ(statusStyleOf(*panel, "d1"), QStringLiteral("color: #e0a030; font-weight: bold;"));
    EXPECT_EQ(buttonTextOf(*panel, "d1"), QString::fromUtf8("■ Parar"));
    pumpFor(2s);
    ASSERT_TRUE(rtmp.start(&error)) << error.toStdString();

    static const QRegularExpression recovered(
        QString::fromUtf8("^✔ «Directo» → 127\\.0\\.0\\.1 recuperado tras (\\d+) s de corte\\.$"));
    QRegularExpressionMatch match;
    ASSERT_TRUE(pumpUntil(
        [&] {
            match = recovered.match(shownText(notice));
            return match.hasMatch();
        },
        60s))
        << shownText(notice).toStdString() << " / " << statusTextOf(*panel, "d1").toStdString();
    const QString seconds = match.captured(1);
    EXPECT_GE(seconds.toInt(), 2);
    EXPECT_FALSE(notice->isHidden());
    EXPECT_EQ(notice->styleSheet(), QString()) << "information, not an error";
    EXPECT_TRUE(log.linesAt(LOG_INFO).contains(
        QString::fromUtf8("[relaycast] «Directo» → 127.0.0.1 recovered after %1 s").arg(seconds)));

    // The live line counts the cut with its length; the notice goes by itself.
    EXPECT_TRUE(pumpUntil(
        [&] {
            return statusTextOf(*panel, "d1")
                .endsWith(QString::fromUtf8(" · 1 corte (%1 s)").arg(seconds));
        },
        5s))
        << statusTextOf(*panel, "d1").toStdString();
    EXPECT_TRUE(pumpUntil([&] { return notice->isHidden(); }, 15s));
    EXPECT_TRUE(statusTextOf(*panel, "d1").startsWith(QString::fromUtf8("● EN EMISIÓN")));

    // The cut is logged as a warning, the key never.
    EXPECT_TRUE(log.linesAt(LOG_WARNING).contains(QStringLiteral("[relaycast] ") + cut));

    // With the dock hidden (closed, or behind another tab) a cut is still told.
    panel->hide();
    rtmp.stop();
    EXPECT_TRUE(pumpUntil([&] { return log.count(cut) == 2; }, 30s))
        << "a cut while the dock was hidden went unannounced";
    EXPECT_EQ(shownText(notice), cut);
    ASSERT_TRUE(rtmp.start(&error)) << error.toStdString();
    EXPECT_TRUE(pumpUntil(
        [&] {
            return log.linesAt(LOG_INFO)
                       .filter(QString::fromUtf8("→ 127.0.0.1 recovered after"))
                       .size() == 2;
        },
        30s));
    for (const QString& line : log.lines())
        EXPECT_FALSE(line.contains(QStringLiteral("clave-del-corte"))) << line.toStdString();
}

TEST(PanelRecovery, ACongestedPathIsAnnouncedOnceWhileItLasts) {
    LogCapture log;
    PanelWorld world;
    EntryConfig entry = entrySending(QStringLiteral("lento-escena"), 640, 360,
                                     {destination("d1", "rtmp://127.0.0.1:1935/live", "k")});
    entry.id = QStringLiteral("e1");
    entry.nombre = QStringLiteral("Lento");
    world.entries() << entry;
    auto panel = world.openPanel();
    // A live output whose socket takes nothing more: the host's count stands still.
    auto script = addFakeDestination(world.controller.runtimeFor("e1"), "d1");
    DestinationOutput& d = *world.controller.runtimeFor("e1").outputs.at("d1");
    script->afterStop = [&d] { d.onStop(0, QString()); };
    d.onStart();
    script->totalBytes = 4'000'000;

    ASSERT_TRUE(pumpUntil(
        [&] { return statusTextOf(*panel, "d1") == QString::fromUtf8("⚠ EN EMISIÓN, saturado"); },
        10s))
        << statusTextOf(*panel, "d1").toStdString();
    EXPECT_EQ(statusStyleOf(*panel, "d1"), QStringLiteral("color: #e0a030; font-weight: bold;"));
    const QString announced = QString::fromUtf8(
        "⚠ «Lento» → 127.0.0.1 va saturado: el servidor no recibe todo lo que se emite.");
    EXPECT_EQ(shownText(panel->noticeLine()), announced);
    pumpFor(2s);
    EXPECT_EQ(log.count(announced), 1) << "announced once, not every heartbeat";
}

} // namespace
