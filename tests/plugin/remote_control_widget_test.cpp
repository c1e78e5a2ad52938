// Remote control through obs-websocket's vendor API (a stand-in: the real one needs OBS's main
// window; the real program is driven by remote_control_obs_e2e_test.sh): requests from
// obs-websocket's threads drive real streams on this thread, state changes become events in
// order, bad requests get error objects, closing answers a request that waits, and requests
// from the graphics thread are answered without waiting for this one.

#include "plugin/remote_control.h"
#include "plugin/remote_requests.h"
#include "plugin/websocket_vendor.h"
#include "support/fake_websocket_api.h"
#include "support/local_servers.h"
#include "support/log_capture.h"
#include "support/panel_fixture.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <utility>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

std::string dump(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

QString errorCode(const QJsonObject& response) {
    return response.value("error").toObject().value("code").toString();
}

class RemoteControlTest : public testing::Test {
protected:
    // A request as obs-websocket sends it, from a thread of its own, while this thread runs
    // the event loop.
    QJsonObject request(const QString& type, const QJsonObject& data = {}) {
        auto answer = std::async(std::launch::async,
                                 [&] { return api.call(QStringLiteral("relaycast"), type, data); });
        pumpUntil([&] { return answer.wait_for(0s) == std::future_status::ready; }, 40s);
        return answer.get();
    }

    QString stateOf(const QString& entryId, const QString& destinationId) {
        return remoteStateName(world.controller.destinationStatus(entryId, destinationId).state);
    }

    FakeWebSocketApi api;
    WebSocketVendor vendor;
    PanelWorld world;
    int controllerLookups = 0; // one per request that ran
    RemoteControl remote{vendor, [this] {
                             ++controllerLookups;
                             return &world.controller;
                         }};
    int listener = world.controller.addChangeListener(
        [this](const DestinationChange& change) { remote.tell(change); });

    void TearDown() override {
        world.controller.removeListener(listener);
        remote.close();
    }
};

TEST_F(RemoteControlTest, RequestsDriveRealStreamsAndEveryChangeIsAnEventInOrder) {
    RtmpServer rtmp;
    QString error;
    ASSERT_TRUE(rtmp.start(&error)) << error.toStdString();
    OBSSceneAutoRelease sceneA = createScene("remota-a");
    OBSSceneAutoRelease sceneB = createScene("remota-b");
    OBSSourceAutoRelease colour = createColorSource("remota-color", kOpaqueRed, 640, 360);
    addToScene(sceneA, colour);
    addToScene(sceneB, colour);
    EntryConfig one = entrySending(
        QStringLiteral("remota-a"), 640, 360,
        {destination("d1", rtmp.url(), "clave-1"), destination("d2", rtmp.url(), "clave-2")});
    one.id = QStringLiteral("e1");
    one.nombre = QStringLiteral("Remota");
    one.videoKbps = 800;
    EntryConfig two = entrySending(QStringLiteral("remota-b"), 640, 360,
                                   {destination("d3", rtmp.url(), "clave-3")});
    two.id = QStringLiteral("e2");
    world.entries() << one << two;
    ASSERT_TRUE(remote.open());
    EXPECT_EQ(api.registeredRequestCount(), 10);

    const QJsonObject ids{{"entryId", "e1"}, {"destinationId", "d1"}};
    QJsonObject answer = request(QStringLiteral("StartDestination"), ids);
    EXPECT_EQ(answer.value("state").toString(), QStringLiteral("Starting")) << dump(answer);
    ASSERT_TRUE(pumpUntil([&] { return stateOf("e1", "d1") == QStringLiteral("Live"); }, 30s));
    // Figures come with the heartbeats after it went live.
    ASSERT_TRUE(pumpUntil(
        [&] {
            const DestinationStatus s = world.controller.destinationStatus("e1", "d1");
            return s.bitrateKbps > 0 && s.receivedKbps > 0;
        },
        10s));

    const QJsonObject entries = request(QStringLiteral("GetEntries"));
    EXPECT_FALSE(QJsonDocument(entries).toJson().contains("clave-1")) << dump(entries);
    const QJsonObject first = entries.value("entries").toArray().at(0).toObject();
    EXPECT_EQ(first.value("entryId").toString(), QStringLiteral("e1"));
    EXPECT_EQ(first.value("name").toString(), QStringLiteral("Remota"));
    EXPECT_TRUE(first.value("live").toBool());
    EXPECT_EQ(first.value("sending").toString(), QStringLiteral("remota-a"));
    const QJsonObject live = first.value("destinations").toArray().at(0).toObject();
    EXPECT_EQ(live.value("address").toString(), rtmp.url());
    EXPECT_EQ(live.value("state").toString(), QStringLiteral("Live"));
    EXPECT_GT(live.value("bitrateKbps").toInt(), 0);
    EXPECT_GT(live.value("sentBytes").toDouble(), 0);
    for (const char* figure : {"droppedFrames", "droppedPercent", "cuts", "outageSecs", "attempts",
                               "uptimeSecs", "message", "queuedMs", "congestionPercent"})
        EXPECT_TRUE(live.contains(QLatin1String(figure))) << figure;
    // A path that keeps up, whose connection was found: what reached the server is known.
    EXPECT_FALSE(live.value("congested").toBool(true)) << dump(live);
    EXPECT_GT(live.value("receivedKbps").toInt(), 0) << dump(live);
    EXPECT_EQ(first.value("destinations").toArray().at(1).toObject().value("state").toString(),
              QStringLiteral("Idle"));

    answer = request(QStringLiteral("SwitchSource"), {{"entryId", "e1"}, {"source", "remota-b"}});
    EXPECT_FALSE(answer.contains("error")) << dump(answer);
    EXPECT_EQ(world.controller.sentSourceName("e1"), QStringLiteral("remota-b"));

    request(QStringLiteral("StopDestination"), ids);
    ASSERT_TRUE(pumpUntil([&] { return !world.controller.isEntryLive("e1"); }, 20s));

    request(QStringLiteral("StartEntry"), {{"entryId", "e1"}});
    ASSERT_TRUE(pumpUntil(
        [&] {
            return stateOf("e1", "d1") == QStringLiteral("Live") &&
                   stateOf("e1", "d2") == QStringLiteral("Live");
        },
        30s));
    EXPECT_FALSE(world.controller.isEntryLive("e2"));
    request(QStringLiteral("StopEntry"), {{"entryId", "e1"}});
    ASSERT_TRUE(pumpUntil([&] { return !world.controller.isEntryLive("e1"); }, 20s));

    answer = request(QStringLiteral("StartAll"));
    EXPECT_FALSE(answer.contains("error")) << dump(answer);
    ASSERT_TRUE(pumpUntil([&] { return stateOf("e2", "d3") == QStringLiteral("Live"); }, 30s));
    request(QStringLiteral("StopAll"));
    ASSERT_TRUE(pumpUntil(
        [&] { return !world.controller.isEntryLive("e1") && !world.controller.isEntryLive("e2"); },
        20s));

    // Destination d1's story, as subscribed clients saw it.
    QStringList story;
    for (const auto& [type, data] : api.events()) {
        EXPECT_EQ(type, QStringLiteral("DestinationStateChanged"));
        if (data.value("destinationId").toString() == QStringLiteral("d1")) {
            EXPECT_EQ(data.value("entryId").toString(), QStringLiteral("e1"));
            story << data.value("oldState").toString() + "->" + data.value("newState").toString();
        }
    }
    const QStringList run{"Idle->Starting", "Starting->Live", "Live->Idle"};
    EXPECT_EQ(story, run + run + run) << story.join(' ').toStdString();
}

TEST_F(RemoteControlTest, BadRequestsGetErrorObjects) {
    EntryConfig idle = entrySending(
        QStringLiteral("no-existe"), 640, 360,
        {destination("d1", "srt://127.0.0.1:9?streamid=secreto", "clave", "frase-secreta")});
    idle.id = QStringLiteral("e1");
    world.entries() << idle;
    ASSERT_TRUE(remote.open());

    // Addresses are masked; keys and passphrases never leave.
    const QJsonObject entries = request("GetEntries");
    const QByteArray text = QJsonDocument(entries).toJson();
    for (const char* secret : {"secreto", "clave", "frase-secreta"})
        EXPECT_FALSE(text.contains(secret)) << secret << " in " << text.toStdString();
    EXPECT_EQ(entries.value("entries")
                  .toArray()
                  .at(0)
                  .toObject()
                  .value("destinations")
                  .toArray()
                  .at(0)
                  .toObject()
                  .value("address")
                  .toString(),
              QString::fromUtf8("srt://127.0.0.1:9?…"));

    EXPECT_EQ(errorCode(request("StartEntry")), QStringLiteral("MissingArgument"));
    EXPECT_EQ(errorCode(request("StartEntry", {{"entryId", 7}})),
              QStringLiteral("MissingArgument"));
    EXPECT_EQ(errorCode(request("StartEntry", {{"entryId", ""}})),
              QStringLiteral("MissingArgument"));
    EXPECT_EQ(errorCode(request("StopDestination", {{"entryId", "e1"}, {"destinationId", ""}})),
              QStringLiteral("MissingArgument"));
    EXPECT_EQ(errorCode(request("StopEntry", {{"entryId", "nadie"}})),
              QStringLiteral("UnknownEntry"));
    EXPECT_EQ(errorCode(request("StartDestination", {{"entryId", "e1"}, {"destinationId", "x"}})),
              QStringLiteral("UnknownDestination"));
    EXPECT_EQ(errorCode(request("SwitchSource", {{"entryId", "e1"}, {"source", "otra"}})),
              QStringLiteral("NotStreaming"));
    const QJsonObject refused =
        request("StartDestination", {{"entryId", "e1"}, {"destinationId", "d1"}});
    EXPECT_EQ(errorCode(refused), QStringLiteral("StartFailed"));
    EXPECT_EQ(refused.value("error").toObject().value("message").toString(),
              QString::fromUtf8("«no-existe» ya no existe en OBS. Cámbiala con «✎ Editar» o "
                                "bórrala."));
    EXPECT_EQ(errorCode(runRemoteRequest(world.controller, "Nada", {})),
              QStringLiteral("UnknownRequest"));
    EXPECT_FALSE(world.controller.isEntryLive("e1"));
}

TEST_F(RemoteControlTest, ClosingAnswersAWaitingRequestAtOnceAndItsWorkNeverRuns) {
    EntryConfig entry = entrySending(QStringLiteral("no-existe"), 640, 360, {});
    entry.id = QStringLiteral("e1");
    world.entries() << entry;
    ASSERT_TRUE(remote.open());
    // The interface thread is busy (not running its loop) while the request waits for it.
    auto waiting = std::async(std::launch::async, [&] {
        return api.call("relaycast", "StopEntry", {{"entryId", "e1"}});
    });
    EXPECT_EQ(waiting.wait_for(300ms), std::future_status::timeout);
    remote.close();
    ASSERT_EQ(waiting.wait_for(2s), std::future_status::ready);
    const QJsonObject answer = waiting.get();
    EXPECT_EQ(errorCode(answer), QStringLiteral("Unavailable")) << dump(answer);
    EXPECT_EQ(api.registeredRequestCount(), 0);
    EXPECT_EQ(api.call("relaycast", "GetEntries").value("status").toString(),
              QStringLiteral("No request was found by that name."));
    pumpFor(100ms);
    EXPECT_EQ(controllerLookups, 0);
}

TEST_F(RemoteControlTest, RequestsOnTheGraphicsThreadNeverWaitForTheInterfaceThread) {
    EntryConfig entry = entrySending(QStringLiteral("no-existe"), 640, 360,
                                     {destination("d1", "rtmp://127.0.0.1:9/live", "k")});
    entry.id = QStringLiteral("e1");
    world.entries() << entry;
    ASSERT_TRUE(remote.open());
    remote.refreshSnapshot(world.controller);

    // obs-websocket runs a SerialFrame batch from a tick of the graphics thread, while the
    // interface thread may be busy (here: it does not run its loop at all).
    struct FrameBatch {
        FakeWebSocketApi* api;
        std::atomic<bool> ran{false};
        std::promise<std::pair<QJsonObject, QJsonObject>> answers;
        double seconds = 0;
    } batch{&api};
    const auto tick = [](void* param, float) {
        auto& b = *static_cast<FrameBatch*>(param);
        if (b.ran.exchange(true))
            return;
        const auto begin = std::chrono::steady_clock::now();
        QJsonObject entries = b.api->call("relaycast", "GetEntries");
        QJsonObject start = b.api->call("relaycast", "StartEntry", {{"entryId", "e1"}});
        b.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        b.answers.set_value({entries, start});
    };
    obs_add_tick_callback(tick, &batch);
    auto answered = batch.answers.get_future();
    const bool inTime = answered.wait_for(3s) == std::future_status::ready;
    if (!inTime)
        pumpUntil([&] { return answered.wait_for(0s) == std::future_status::ready; }, 40s);
    obs_remove_tick_callback(tick, &batch);
    ASSERT_TRUE(inTime) << "the graphics thread waited for the interface thread";
    const auto [entries, start] = answered.get();
    EXPECT_LT(batch.seconds, 0.5);
    EXPECT_EQ(entries.value("entries").toArray().at(0).toObject().value("entryId").toString(),
              QStringLiteral("e1"))
        << dump(entries);
    EXPECT_EQ(errorCode(start), QStringLiteral("Unavailable")) << dump(start);
    pumpFor(100ms);
    EXPECT_EQ(controllerLookups, 0) << "nothing was left to run on the interface thread";
}

TEST(RemoteControlWithoutObsWebsocket, IsOffWithALogLineAndNothingElseBreaks) {
    LogCapture log;
    PanelWorld world;
    WebSocketVendor vendor;
    RemoteControl remote(vendor, [&] { return &world.controller; });
    EXPECT_FALSE(remote.open());
    EXPECT_TRUE(log.linesAt(LOG_INFO).contains(
        QStringLiteral("[relaycast] obs-websocket is not available: remote control is off")));
    remote.tell(DestinationChange{"e1", "d1", DestinationState::Idle, {}});
    remote.close();
}

} // namespace
