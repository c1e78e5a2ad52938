// Entries that follow the scene the host has live, with scene equivalences, while streaming.

#include "engine/picture/entry_pipeline.h"
#include "support/local_servers.h"
#include "support/log_capture.h"
#include "support/panel_fixture.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

class PanelFollowing : public testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(rtmp.start(&error)) << error.toStdString();
        for (obs_scene_t* scene : {a.Get(), b.Get(), c.Get(), d.Get()})
            addToScene(scene, colour);
    }

    QByteArray sent(const SalidasPanel& panel, const QString& entryId) {
        const EntryRuntime* runtime = panel.runtimeOf(entryId);
        return runtime && runtime->pipeline ? runtime->pipeline->sourceName : QByteArray();
    }

    RtmpServer rtmp;
    OBSSceneAutoRelease a = createScene("sigue-a");
    OBSSceneAutoRelease b = createScene("sigue-b");
    OBSSceneAutoRelease c = createScene("sigue-c");
    OBSSceneAutoRelease d = createScene("sigue-d");
    OBSSourceAutoRelease colour = createColorSource("sigue-color", kOpaqueBlue, 640, 360);
};

TEST_F(PanelFollowing, ALiveFollowingEntrySendsTheMappedOrLiveSceneAndStaysWhenTheTargetIsMissing) {
    LogCapture log;
    PanelWorld world;
    EntryConfig follower = entrySending(QStringLiteral("sigue-a"), 640, 360,
                                        {destination("d1", rtmp.url(), "seguidora")});
    follower.id = QStringLiteral("e1");
    follower.seguirObs = true;
    follower.videoKbps = 800;
    follower.equivalencias.insert(QStringLiteral("sigue-a"), QStringLiteral("sigue-b"));
    follower.equivalencias.insert(QStringLiteral("sigue-d"), QStringLiteral("no-existe"));
    EntryConfig idleFollower = follower;
    idleFollower.id = QStringLiteral("e2");
    idleFollower.destinos = {destination("d2", rtmp.url(), "quieta")};
    world.entries() << follower << idleFollower;
    world.frontend.setCurrentScene(obs_scene_get_source(a));
    auto panel = world.openPanel();

    clickDestination(*panel, "d1");
    EXPECT_EQ(sent(*panel, "e1"), QByteArray("sigue-b")) << "A is mapped to B";
    ASSERT_TRUE(pumpUntil(
        [&] { return statusTextOf(*panel, "d1").startsWith(QString::fromUtf8("● EN EMISIÓN")); },
        30s));

    world.frontend.setCurrentScene(obs_scene_get_source(c));
    panel->followLiveScene();
    EXPECT_EQ(sent(*panel, "e1"), QByteArray("sigue-c")) << "an unmapped scene is sent itself";
    EXPECT_EQ(
        log.count(QStringLiteral("[relaycast] an entry follows OBS: switching to \"sigue-c\"")), 1);
    EXPECT_EQ(panel->runtimeOf("e2"), nullptr) << "an entry that is not live is left alone";
    EXPECT_TRUE(panel->noticeLine()->isHidden());

    // The transition ends on what is already sent: nothing switches, nothing is logged.
    const int linesBefore = log.lines().size();
    panel->followLiveScene();
    EXPECT_EQ(log.lines().mid(linesBefore).filter(QStringLiteral("[relaycast]")), QStringList());

    world.frontend.setCurrentScene(obs_scene_get_source(d));
    panel->followLiveScene();
    EXPECT_EQ(sent(*panel, "e1"), QByteArray("sigue-c"));
    EXPECT_EQ(panel->noticeLine()->text(),
              QString::fromUtf8(
                  "La escena «no-existe» no existe en OBS; la entrada sigue con la anterior."));
    EXPECT_EQ(panel->noticeLine()->styleSheet(), QStringLiteral("color: #e0524d;"));

    world.frontend.setCurrentScene(obs_scene_get_source(a));
    panel->followLiveScene();
    EXPECT_EQ(sent(*panel, "e1"), QByteArray("sigue-b"));
    // The switch row shows what is sent now; the stream never dropped.
    EXPECT_TRUE(pumpUntil(
        [&] {
            return panel->switchCombo("e1")->currentData().toString() == QStringLiteral("sigue-b");
        },
        5s));
    EXPECT_TRUE(statusTextOf(*panel, "d1").startsWith(QString::fromUtf8("● EN EMISIÓN")));
    EXPECT_EQ(panel->controller().destinationStatus("e1", "d1").cuts, 0);
    // The saved entry keeps the editor's choice.
    EXPECT_EQ(world.entries().front().fuente, QStringLiteral("sigue-a"));

    // The wheel over the switch never changes a live show, focused or not.
    QComboBox* combo = panel->switchCombo("e1");
    for (bool focused : {false, true}) {
        if (focused)
            combo->setFocus();
        for (int delta : {-120, 120}) {
            const QPoint at = combo->rect().center();
            QWheelEvent wheel(at, combo->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(combo, &wheel);
        }
        pumpFor(600ms);
        EXPECT_EQ(sent(*panel, "e1"), QByteArray("sigue-b")) << "focused: " << focused;
        EXPECT_EQ(combo->currentData().toString(), QStringLiteral("sigue-b"));
    }
    combo->clearFocus();

    // A list the user has open does not move under them; it catches up once closed.
    combo->showPopup();
    ASSERT_TRUE(pumpUntil([&] { return combo->view()->isVisible(); }, 2s));
    const int shownIndex = combo->currentIndex();
    world.frontend.setCurrentScene(obs_scene_get_source(c));
    panel->followLiveScene();
    pumpFor(1200ms);
    EXPECT_EQ(sent(*panel, "e1"), QByteArray("sigue-c"));
    EXPECT_EQ(combo->currentIndex(), shownIndex);
    combo->hidePopup();
    EXPECT_TRUE(pumpUntil(
        [&] { return combo->currentData().toString() == QStringLiteral("sigue-c"); }, 5s));
}

TEST_F(PanelFollowing, ASwitchWithoutAPipelineSaysTheEntryIsNotStreaming) {
    PanelWorld world;
    EntryConfig entry = entrySending(QStringLiteral("sigue-a"), 640, 360,
                                     {destination("d1", rtmp.url(), "sin-tubo")});
    entry.id = QStringLiteral("e1");
    world.entries() << entry;
    auto panel = world.openPanel();
    panel->switchEntrySource("e1", QStringLiteral("sigue-b"));
    EXPECT_TRUE(panel->noticeLine()->isHidden()) << "no runtime: nothing happens";
    panel->runtimeFor("e1");
    panel->switchEntrySource("e1", QStringLiteral("sigue-b"));
    EXPECT_EQ(panel->noticeLine()->text(),
              QString::fromUtf8("No se pudo cambiar de escena: La entrada no está emitiendo."));
}

} // namespace
