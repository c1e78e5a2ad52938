#pragma once

// The entry controller on the real host with a local RTMP server, a scene to send, a settings
// store and a fake front end, driven by the heartbeat as the plug-in drives it.

#include "config/config_store.h"
#include "engine/entry/entry_controller.h"
#include "engine/host/host_call_queue.h"
#include "support/fake_frontend.h"
#include "support/local_servers.h"
#include "support/stream_harness.h"
#include "support/test_host.h"
#include "support/unanswered_port.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

namespace relaycast::test {

using namespace std::chrono_literals;

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
            beat();
        }
        return true;
    }

    // Polls `condition` every 20 ms with the heartbeat every 500 ms; how long it took, or a
    // negative figure when it never held.
    double secondsUntil(const std::function<bool()>& condition,
                        std::chrono::milliseconds timeout = 30s) {
        const auto begin = std::chrono::steady_clock::now();
        auto nextBeat = begin + 500ms;
        while (!condition()) {
            const auto now = std::chrono::steady_clock::now();
            if (now - begin > timeout)
                return -1;
            if (now >= nextBeat) {
                beat();
                nextBeat = now + 500ms;
            }
            std::this_thread::sleep_for(20ms);
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    }

    // One heartbeat, timed: the longest one so far is in longestHeartbeatSecs.
    void beat() {
        const auto begin = std::chrono::steady_clock::now();
        controller.heartbeat();
        longestHeartbeatSecs = std::max(
            longestHeartbeatSecs,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    }

    DestinationState recordingState(const QString& entryId) {
        return controller.recordingStatus(entryId).state;
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
    double longestHeartbeatSecs = 0;
};

} // namespace relaycast::test
