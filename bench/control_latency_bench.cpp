// How long a hotkey press and a remote request take to reach the destination's start: from the
// press (injected on a thread of its own, as libobs's hotkey thread or obs-websocket calls)
// or from the request's arrival in the plug-in, to the controller's work beginning on the
// interface thread, and to the start's change of state (Starting, told right after the host's
// start call returned). Medians of 20 runs on the real host, streaming to nginx-rtmp on
// 127.0.0.1. Run under xvfb-run.

#include "engine/entry/entry_controller.h"
#include "plugin/entry_hotkeys.h"
#include "plugin/remote_control.h"
#include "plugin/websocket_vendor.h"
#include "support/fake_websocket_api.h"
#include "support/headless_host.h"
#include "support/local_servers.h"
#include "support/panel_fixture.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <obs-hotkey.h>

#include <QApplication>
#include <QEventLoop>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <thread>
#include <vector>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRuns = 20;

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Timings {
    std::vector<double> toWork;
    std::vector<double> toStart;
    std::vector<double> toAnswer;
};

void print(const char* what, const Timings& t) {
    std::printf("%-14s to the work on the interface thread: %6.2f ms   to the start's Starting: "
                "%7.2f ms",
                what, median(t.toWork), median(t.toStart));
    if (!t.toAnswer.empty())
        std::printf("   to the answer: %7.2f ms", median(t.toAnswer));
    std::printf("   (medians of %d)\n", kRuns);
}

int run() {
    OBSSceneAutoRelease scene = createScene("bench-control");
    OBSSourceAutoRelease colour = createColorSource("bench-control-color", kOpaqueRed, 640, 360);
    addToScene(scene, colour);
    RtmpServer rtmp;
    QString error;
    if (!rtmp.start(&error)) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 1;
    }
    PanelWorld world;
    EntryConfig entry =
        entrySending("bench-control", 640, 360, {destination("d", rtmp.url(), "k")});
    entry.id = QStringLiteral("e");
    entry.videoKbps = 800;
    world.entries() << entry;

    Clock::time_point pressed, workBegins, starting;
    const auto controller = [&] {
        workBegins = Clock::now();
        return &world.controller;
    };
    world.controller.addChangeListener([&](const DestinationChange& change) {
        if (change.status.state == DestinationState::Starting)
            starting = Clock::now();
    });
    const auto stopAndSettle = [&] {
        world.controller.stopEntry("e");
        pumpUntil([&] { return !world.controller.isEntryLive("e"); }, 20s);
        pumpFor(100ms); // the hotkey thread releases the key
    };

    Timings hotkey;
    {
        EntryHotkeys hotkeys(controller);
        obs_key_combination_t key{0, OBS_KEY_F5};
        obs_hotkey_load_bindings(hotkeys.entryHotkey("e", EntryHotkeys::Action::Start), &key, 1);
        for (int i = 0; i < kRuns; ++i) {
            pressed = Clock::now();
            std::thread([key] { obs_hotkey_inject_event(key, true); }).join();
            if (!pumpUntil([&] { return world.controller.isEntryLive("e"); }, 10s)) {
                std::fprintf(stderr, "a hotkey press started nothing\n");
                return 1;
            }
            hotkey.toWork.push_back(msBetween(pressed, workBegins));
            hotkey.toStart.push_back(msBetween(pressed, starting));
            stopAndSettle();
        }
    }

    Timings remote;
    {
        FakeWebSocketApi api;
        WebSocketVendor vendor;
        RemoteControl control(vendor, controller);
        control.open();
        for (int i = 0; i < kRuns; ++i) {
            Clock::time_point answered;
            // A real event loop, woken by the posted work as OBS's is (polling would add its
            // own sleeps to the figure).
            QEventLoop loop;
            auto answer = std::async(std::launch::async, [&] {
                pressed = Clock::now();
                QJsonObject result = api.call("relaycast", "StartEntry", {{"entryId", "e"}});
                answered = Clock::now();
                QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
                return result;
            });
            loop.exec();
            if (answer.get().contains("error")) {
                std::fprintf(stderr, "a remote start failed\n");
                return 1;
            }
            remote.toWork.push_back(msBetween(pressed, workBegins));
            remote.toStart.push_back(msBetween(pressed, starting));
            remote.toAnswer.push_back(msBetween(pressed, answered));
            stopAndSettle();
        }
        control.close();
    }
    print("hotkey press", hotkey);
    print("remote request", remote);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    return runOnHeadlessHost(run);
}
