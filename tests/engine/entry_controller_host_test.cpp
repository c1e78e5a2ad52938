// The entry controller on the real host, as hotkeys, remote requests and OBS's own stream use
// it without the dock: whole entries and everything started and stopped, and the entries that
// go with OBS's stream following it.

#include "config/config_store.h"
#include "engine/entry_controller.h"
#include "support/fake_frontend.h"
#include "support/local_servers.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

class EntryControllerHost : public testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(rtmp.start(&error)) << error.toStdString();
        addToScene(scene, colour);
        frontend.setCurrentSceneCollection(QStringLiteral("Escenas"));
    }
    void TearDown() override { controller.shutdown(); }

    EntryConfig& addEntry(const QString& id, const QStringList& keys, bool withObsStream) {
        QList<DestConfig> destinations;
        for (const QString& key : keys)
            destinations << destination(id + QLatin1Char('-') + key, rtmp.url(), key);
        EntryConfig entry = entrySending(QStringLiteral("controlada"), 640, 360, destinations);
        entry.id = id;
        entry.videoKbps = 600;
        entry.conEmisionObs = withObsStream;
        store.entriesOf(QStringLiteral("Escenas")) << entry;
        return store.entriesOf(QStringLiteral("Escenas")).back();
    }

    // Runs the heartbeat every 500 ms, as the plug-in does, until `condition` holds.
    bool heartbeatUntil(const std::function<bool()>& condition,
                        std::chrono::milliseconds timeout = 30s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(500ms);
            controller.heartbeat();
        }
        return true;
    }

    bool allLive(const QString& entryId) {
        for (const DestConfig& d : controller.findEntry(entryId)->destinos)
            if (controller.destinationStatus(entryId, d.id).state != DestinationState::Live)
                return false;
        return true;
    }

    RtmpServer rtmp;
    OBSSceneAutoRelease scene = createScene("controlada");
    OBSSourceAutoRelease colour = createColorSource("controlada-color", kOpaqueBlue, 640, 360);
    QTemporaryDir dir;
    ConfigStore store{dir.filePath(QStringLiteral("salidas.json"))};
    FakeFrontend frontend;
    EntryController controller{store};
};

TEST_F(EntryControllerHost, EntriesThatGoWithOBSsStreamStartAndStopWithIt) {
    addEntry(QStringLiteral("con"), {QStringLiteral("a"), QStringLiteral("b")}, true);
    addEntry(QStringLiteral("sin"), {QStringLiteral("c")}, false);
    std::vector<DestinationChange> changes;
    controller.addChangeListener([&](const DestinationChange& c) { changes.push_back(c); });

    controller.onHostStreamStarted();
    ASSERT_TRUE(heartbeatUntil([&] { return allLive(QStringLiteral("con")); }));
    EXPECT_FALSE(controller.isEntryLive(QStringLiteral("sin")));
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.front().previous, DestinationState::Idle);
    EXPECT_EQ(changes.front().status.state, DestinationState::Starting);

    controller.onHostStreamStopped();
    ASSERT_TRUE(heartbeatUntil([&] { return !controller.isEntryLive(QStringLiteral("con")); }));
    EXPECT_EQ(changes.back().status.state, DestinationState::Idle);
}

TEST_F(EntryControllerHost, WholeEntriesAndEverythingStartAndStop) {
    addEntry(QStringLiteral("uno"), {QStringLiteral("d"), QStringLiteral("e")}, false);
    addEntry(QStringLiteral("dos"), {QStringLiteral("f")}, false);

    QString error;
    ASSERT_TRUE(controller.startEntry(QStringLiteral("uno"), &error)) << error.toStdString();
    ASSERT_TRUE(heartbeatUntil([&] { return allLive(QStringLiteral("uno")); }));
    EXPECT_FALSE(controller.isEntryLive(QStringLiteral("dos")));
    controller.stopEntry(QStringLiteral("uno"));
    ASSERT_TRUE(heartbeatUntil([&] { return !controller.isEntryLive(QStringLiteral("uno")); }));

    ASSERT_TRUE(controller.startAll(&error)) << error.toStdString();
    ASSERT_TRUE(heartbeatUntil(
        [&] { return allLive(QStringLiteral("uno")) && allLive(QStringLiteral("dos")); }));
    controller.stopAll();
    ASSERT_TRUE(heartbeatUntil([&] {
        return !controller.isEntryLive(QStringLiteral("uno")) &&
               !controller.isEntryLive(QStringLiteral("dos"));
    }));

    // An entry whose scene is gone says why, and its siblings still start.
    EntryConfig& missing = addEntry(QStringLiteral("tres"), {QStringLiteral("g")}, false);
    missing.fuente = QStringLiteral("no-existe");
    EXPECT_FALSE(controller.startAll(&error));
    EXPECT_EQ(error, QString::fromUtf8(
                         "«no-existe» ya no existe en OBS. Cámbiala con «✎ Editar» o bórrala."));
    EXPECT_TRUE(controller.isEntryLive(QStringLiteral("uno")));
    EXPECT_TRUE(controller.isEntryLive(QStringLiteral("dos")));
}

} // namespace
