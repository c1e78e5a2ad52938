// The module side of the dock: creating the store and the panel, handing the panel to the host
// as a dock, and routing the host's front-end events to it, with streams running where it
// matters.

#include "config/config_store.h"
#include "module/module_handle.h"
#include "module/settings_path.h"
#include "panel/salidas_panel.h"
#include "plugin/dock.h"
#include "plugin/frontend_events.h"
#include "support/fake_frontend.h"
#include "support/local_servers.h"
#include "support/log_capture.h"
#include "support/panel_fixture.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <obs-module.h>

#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QLabel>
#include <QPointer>

#include <gtest/gtest.h>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

bool anySalidasPanelAlive() {
    for (QWidget* widget : QApplication::allWidgets()) {
        if (dynamic_cast<SalidasPanel*>(widget))
            return true;
    }
    return false;
}

// Marks the module's store in memory only, so a store rebuilt from the file is told apart.
void markStore() {
    EntryConfig marker;
    marker.id = QStringLiteral("marca");
    moduleConfigStore()->entriesOf(QStringLiteral("marcas")) << marker;
}

bool storeIsMarked() {
    return moduleConfigStore() &&
           !moduleConfigStore()->entriesOf(QStringLiteral("marcas")).isEmpty();
}

class DockEvents : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // The settings path comes from the module's configuration folder in the host; any
        // loaded module gives the test one of those.
        setModulePointer(obs_get_module("image-source"));
    }
    static void TearDownTestSuite() { setModulePointer(nullptr); }

    void SetUp() override {
        ASSERT_EQ(modulePanel(), nullptr);
        settingsPath = resolveSettingsPath();
        ASSERT_FALSE(settingsPath.isEmpty());
        frontend.setCurrentSceneCollection(QStringLiteral("Uno"));
    }
    void TearDown() override {
        frontend.destroyDock();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QDir(QFileInfo(settingsPath).absolutePath()).removeRecursively();
    }

    QString settingsPath;
    FakeFrontend frontend;
};

TEST_F(DockEvents, EventsBeforeThePanelExistDoNothingAndFinishedLoadingCreatesItOnce) {
    for (obs_frontend_event event :
         {OBS_FRONTEND_EVENT_SCENE_CHANGED, OBS_FRONTEND_EVENT_TRANSITION_STOPPED,
          OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED, OBS_FRONTEND_EVENT_EXIT,
          OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING, OBS_FRONTEND_EVENT_STREAMING_STARTED}) {
        onFrontendEvent(event, nullptr);
        EXPECT_EQ(modulePanel(), nullptr) << event;
    }
    EXPECT_EQ(frontend.addDockCalls(), 0);
    shutDownPanel(); // unload without a panel

    onFrontendEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING, nullptr);
    ASSERT_NE(modulePanel(), nullptr);
    EXPECT_EQ(frontend.addDockCalls(), 1);
    EXPECT_EQ(frontend.lastDockId(), QStringLiteral("relaycast-panel"));
    EXPECT_EQ(frontend.lastDockTitle(), QStringLiteral("Relaycast"));
    ASSERT_NE(frontend.dock(), nullptr);
    EXPECT_EQ(frontend.dock()->widget(), modulePanel());
    // Only once the host has laid out its docks may the new dock be revealed.
    EXPECT_EQ(frontend.revealedDocks(), QStringList{QStringLiteral("relaycast-panel")});
    QPointer<SalidasPanel> first = modulePanel();
    markStore();

    // A second creation (post-load, then finished loading) builds neither store nor panel, and
    // the event clears the notice and rebuilds the cards.
    first->showNotice(QStringLiteral("aviso viejo"), true);
    createPanel();
    onFrontendEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING, nullptr);
    EXPECT_EQ(frontend.addDockCalls(), 1);
    EXPECT_EQ(modulePanel(), first.data());
    EXPECT_TRUE(storeIsMarked());
    EXPECT_TRUE(first->noticeLine()->isHidden());
}

TEST_F(DockEvents, ARefusedDockIsLoggedAndDeletedWhileTheStoreStays) {
    LogCapture log;
    frontend.setRefuseDocks(true);
    createPanel();
    EXPECT_EQ(frontend.addDockCalls(), 1);
    EXPECT_EQ(modulePanel(), nullptr);
    EXPECT_FALSE(anySalidasPanelAlive());
    EXPECT_TRUE(log.linesAt(LOG_ERROR).contains(
        QStringLiteral("[relaycast] OBS did not allow adding the \"Relaycast\" panel")));
    ASSERT_NE(moduleConfigStore(), nullptr);
    markStore();

    // The next creation tries again with a store read afresh.
    frontend.setRefuseDocks(false);
    createPanel();
    ASSERT_NE(modulePanel(), nullptr);
    EXPECT_FALSE(storeIsMarked());
}

TEST_F(DockEvents, APanelTheHostDestroyedIsBuiltAgainWithANewStore) {
    createPanel();
    ASSERT_NE(modulePanel(), nullptr);
    markStore();
    frontend.destroyDock();
    EXPECT_EQ(modulePanel(), nullptr);
    onFrontendEvent(OBS_FRONTEND_EVENT_SCENE_CHANGED, nullptr); // nothing to route to

    createPanel();
    ASSERT_NE(modulePanel(), nullptr);
    EXPECT_EQ(frontend.addDockCalls(), 2);
    EXPECT_FALSE(storeIsMarked());
}

TEST_F(DockEvents, AnUnreadableSettingsFileIsLoggedAndShownOnThePanel) {
    LogCapture log;
    QDir().mkpath(QFileInfo(settingsPath).absolutePath());
    QFile damaged(settingsPath);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("{ esto no es json");
    damaged.close();

    createPanel();
    ASSERT_NE(modulePanel(), nullptr);
    const QStringList warnings =
        log.linesAt(LOG_WARNING)
            .filter(QString::fromUtf8("[relaycast] El archivo de configuración"));
    // Once by the load itself, once as the panel's error notice.
    ASSERT_EQ(warnings.size(), 2);
    QLabel* notice = modulePanel()->noticeLine();
    EXPECT_FALSE(notice->isHidden());
    EXPECT_EQ(QStringLiteral("[relaycast] ") + notice->text(), warnings.front());
    EXPECT_EQ(warnings.back(), warnings.front());
    EXPECT_EQ(notice->styleSheet(), QStringLiteral("color: #e0524d;"));
}

TEST_F(DockEvents, ACollectionChangeStopsEveryStreamFirstAndExitThenUnloadShutDownOnce) {
    RtmpServer rtmp;
    QString error;
    ASSERT_TRUE(rtmp.start(&error)) << error.toStdString();
    OBSSceneAutoRelease scene = createScene("coleccion-escena");
    OBSSourceAutoRelease colour = createColorSource("coleccion-color", kOpaqueRed, 640, 360);
    addToScene(scene, colour);

    createPanel();
    SalidasPanel* panel = modulePanel();
    ASSERT_NE(panel, nullptr);
    const auto entry = [&](const char* id, const char* destinationId, const char* key) {
        EntryConfig e = entrySending(QStringLiteral("coleccion-escena"), 640, 360,
                                     {destination(destinationId, rtmp.url(), key)});
        e.id = QString::fromLatin1(id);
        e.videoKbps = 600;
        return e;
    };
    moduleConfigStore()->entriesOf(QStringLiteral("Uno"))
        << entry("e1", "d1", "uno-a") << entry("e2", "d2", "uno-b");
    moduleConfigStore()->entriesOf(QStringLiteral("Dos")) << entry("e3", "d3", "dos");
    onFrontendEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED, nullptr);
    frontend.dock()->show();

    clickDestination(*panel, "d1");
    clickDestination(*panel, "d2");
    ASSERT_TRUE(pumpUntil(
        [&] {
            return statusTextOf(*panel, "d1").startsWith(QString::fromUtf8("● EN EMISIÓN")) &&
                   statusTextOf(*panel, "d2").startsWith(QString::fromUtf8("● EN EMISIÓN"));
        },
        30s));

    // Everything has stopped and been released when the event returns.
    onFrontendEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING, nullptr);
    EXPECT_EQ(panel->runtimeOf("e1"), nullptr);
    EXPECT_EQ(panel->runtimeOf("e2"), nullptr);
    EXPECT_EQ(countPluginHostObjects(), 0);
    EXPECT_FALSE(panel->isClosing());

    frontend.setCurrentSceneCollection(QStringLiteral("Dos"));
    onFrontendEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED, nullptr);
    EXPECT_EQ(panel->destinationStatusLabel("d1"), nullptr);
    EXPECT_EQ(statusTextOf(*panel, "d3"), QStringLiteral("Parado"));

    onFrontendEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING, nullptr);
    frontend.setCurrentSceneCollection(QStringLiteral("Uno"));
    onFrontendEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED, nullptr);
    EXPECT_EQ(statusTextOf(*panel, "d1"), QStringLiteral("Parado"));
    EXPECT_EQ(statusTextOf(*panel, "d2"), QStringLiteral("Parado"));
    EXPECT_EQ(buttonTextOf(*panel, "d1"), QString::fromUtf8("▶ Emitir"));

    // Exit shuts the panel down; unload finds it closed; later events leave it alone.
    clickDestination(*panel, "d1");
    onFrontendEvent(OBS_FRONTEND_EVENT_EXIT, nullptr);
    EXPECT_TRUE(panel->isClosing());
    EXPECT_FALSE(panel->refreshTimerActive());
    EXPECT_EQ(panel->runtimeOf("e1"), nullptr);
    EXPECT_EQ(countPluginHostObjects(), 0);
    shutDownPanel();
    EXPECT_TRUE(panel->isClosing());
    frontend.setCurrentSceneCollection(QStringLiteral("Dos"));
    onFrontendEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED, nullptr);
    EXPECT_NE(panel->destinationStatusLabel("d1"), nullptr) << "no rebuild after exit";
    EXPECT_EQ(panel->destinationStatusLabel("d3"), nullptr);
}

} // namespace
