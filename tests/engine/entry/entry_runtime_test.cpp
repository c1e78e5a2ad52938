// The heartbeat's bookkeeping of an entry runtime: rates, removal of ended destinations, the
// statuses the panel reads, and stopping everything within a bound.

#include "engine/destinations/destination_output.h"
#include "engine/encoding/encoder_load_meter.h"
#include "engine/entry/entry_runtime.h"
#include "engine/recording/recording_id.h"
#include "support/fake_runtime.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <obs-defs.h>

namespace relaycast {
namespace {

using test::FakeRuntime;

const QString kDest = QStringLiteral("d1");

TEST(EntryRuntimeStatistics, RateIsSmoothedFromTheSecondLiveSample) {
    FakeRuntime f;
    auto script = f.addLive(kDest);

    f.tickAfter(500); // reference sample only
    EXPECT_EQ(f.status(kDest).bitrateKbps, -1);

    script->totalBytes += 500000;
    script->droppedFrames = 7;
    f.tickAfter(500);
    EXPECT_EQ(f.status(kDest).bitrateKbps, 8000);
    EXPECT_EQ(f.status(kDest).droppedFrames, 7);

    script->totalBytes += 250000; // 4000 kbit/s
    f.tickAfter(500);
    EXPECT_EQ(f.status(kDest).bitrateKbps, 6400);

    script->totalBytes += 250001; // 6400 * 0.6 + 4000.016 * 0.4 = 5440.0064
    f.tickAfter(500);
    EXPECT_EQ(f.status(kDest).bitrateKbps, 5440);
}

TEST(EntryRuntimeStatistics, RunFiguresCountEveryRunOfTheOutputFromTheFirstLive) {
    FakeRuntime f;
    auto script = f.addStarting(kDest);
    script->totalBytes = 20000; // the handshake, before it is live
    f.runFor(2000);
    EXPECT_EQ(f.status(kDest).uptimeSecs, 0);
    f.at(kDest).onStart();
    script->totalBytes = 3000000;
    script->totalFrames = 900;
    script->droppedFrames = 9;
    f.runFor(10000);
    EXPECT_EQ(f.status(kDest).uptimeSecs, 10);
    EXPECT_EQ(f.status(kDest).sentBytes, 3000000u);
    EXPECT_DOUBLE_EQ(f.status(kDest).droppedPercent(), 1.0);

    // A drop and a restart: the new run counts from zero, the figures go on.
    script->active = false;
    f.at(kDest).onStop(-5, QString());
    script->totalBytes = 0;
    f.runFor(2000);
    script->totalBytes = 500000;
    f.at(kDest).onStart();
    f.runFor(1000);
    EXPECT_EQ(f.status(kDest).sentBytes, 3500000u);
    EXPECT_EQ(f.status(kDest).uptimeSecs, 13) << "counted from the first time it went live";
}

TEST(EntryRuntimeStatistics, RateStartsOverAfterTheDestinationLeftLive) {
    FakeRuntime f;
    auto script = f.addLive(kDest);
    DestinationOutput& d = f.at(kDest);
    f.tickAfter(500);
    script->totalBytes += 500000;
    f.tickAfter(500);
    ASSERT_EQ(f.status(kDest).bitrateKbps, 8000);

    d.onReconnect();
    script->totalBytes += 500000;
    f.tickAfter(500);
    EXPECT_EQ(f.status(kDest).bitrateKbps, -1);

    d.onReconnectSuccess();
    script->totalBytes += 500000;
    f.tickAfter(500); // reference sample again: the bytes sent while away do not count
    EXPECT_EQ(f.status(kDest).bitrateKbps, -1);
    script->totalBytes += 125000;
    f.tickAfter(500);
    EXPECT_EQ(f.status(kDest).bitrateKbps, 2000);
}

TEST(EntryRuntimeStatistics, ByteCounterThatWentBackIsOnlyResampled) {
    FakeRuntime f;
    auto script = f.addLive(kDest);
    script->totalBytes = 1000000;
    f.tickAfter(500);
    script->totalBytes = 1500000;
    f.tickAfter(500);
    ASSERT_EQ(f.status(kDest).bitrateKbps, 8000);

    script->totalBytes = 1000; // a fresh host output counts from zero
    f.tickAfter(500);
    EXPECT_EQ(f.status(kDest).bitrateKbps, 8000);
    script->totalBytes = 1000 + 250000;
    f.tickAfter(500);
    EXPECT_EQ(f.status(kDest).bitrateKbps, 6400);
}

TEST(EntryRuntimeRemoval, LiveOrReconnectingOutputsGetThreeSecondsOfGraceOnceInactive) {
    FakeRuntime f;
    auto live = f.addLive("a");
    auto reconnecting = f.addLive("b");
    f.at("b").onReconnect();
    live->active = false;
    reconnecting->active = false;

    f.tickAfter(500); // first inactive sighting
    f.runFor(3000);
    EXPECT_TRUE(f.has("a"));
    EXPECT_TRUE(f.has("b"));
    f.tickAfter(500);
    EXPECT_FALSE(f.has("a"));
    EXPECT_FALSE(f.has("b"));
    EXPECT_EQ(f.status("a").state, DestinationState::Idle);
    EXPECT_EQ(f.status("b").state, DestinationState::Idle);
}

TEST(EntryRuntimeRemoval, ActiveSightingRestartsTheGrace) {
    FakeRuntime f;
    auto script = f.addLive(kDest);
    script->active = false;
    f.runFor(2500);
    script->active = true;
    f.tickAfter(500);
    script->active = false;
    f.tickAfter(500); // the grace counts from here
    f.runFor(3000);
    EXPECT_TRUE(f.has(kDest));
    f.tickAfter(500);
    EXPECT_FALSE(f.has(kDest));
}

TEST(EntryRuntimeRemoval, StartingDestinationStaysUntilItsTimeOut) {
    FakeRuntime f;
    auto script = f.addStarting(kDest);
    script->active = false; // the host has not brought the output up yet
    f.runFor(40000);
    EXPECT_TRUE(f.has(kDest));
    EXPECT_EQ(f.status(kDest).state, DestinationState::Starting);
}

TEST(EntryRuntimeRemoval, EndedDestinationLeavesOnlyStateAndMessage) {
    FakeRuntime f;
    auto failing = f.addLive("a");
    auto sibling = f.addLive("b");
    DestinationOutput& a = f.at("a");
    a.onReconnect();
    a.onReconnectSuccess();
    failing->active = false;
    a.onStop(-5, QString());
    f.runFor(1500);
    failing->active = false; // the restart came up, then the server refused the format
    a.onStop(-6, QStringLiteral("denied"));
    ASSERT_EQ(a.status().cuts, 2);

    f.tickAfter(500);
    EXPECT_FALSE(f.has("a"));
    EXPECT_TRUE(failing->destroyed);
    const DestinationStatus s = f.status("a");
    EXPECT_EQ(s.state, DestinationState::Failed);
    EXPECT_EQ(s.message, "El servidor no admite este formato. denied");
    EXPECT_EQ(s.attempts, 0);
    EXPECT_EQ(s.outageSecs, 0);
    EXPECT_EQ(s.recoveryAfterSecs, -1);
    EXPECT_EQ(s.cuts, 0);
    EXPECT_EQ(s.bitrateKbps, -1);
    EXPECT_EQ(s.droppedFrames, 0);

    // The sibling is untouched.
    EXPECT_TRUE(f.has("b"));
    EXPECT_EQ(f.status("b").state, DestinationState::Live);
    EXPECT_EQ(sibling->hostCalls(), 1);
}

TEST(EntryRuntimeStatus, FallsBackToTheLastStatusThenToTheDefault) {
    FakeRuntime f;
    f.addLive(kDest);
    f.at(kDest).onReconnect();
    f.clock.advanceMs(2500);
    DestinationStatus s = f.status(kDest);
    EXPECT_EQ(s.state, DestinationState::Reconnecting);
    EXPECT_EQ(s.attempts, 1);
    EXPECT_EQ(s.outageSecs, 2);
    EXPECT_EQ(s.cuts, 1);

    // A stale record of an earlier run is shadowed while the destination runs.
    DestinationStatus stale;
    stale.state = DestinationState::Failed;
    stale.message = QStringLiteral("old");
    f.runtime.lastStatus.insert(kDest, stale);
    EXPECT_EQ(f.status(kDest).state, DestinationState::Reconnecting);
    f.runtime.lastStatus.insert(QStringLiteral("gone"), stale);
    EXPECT_EQ(f.status("gone").message, "old");

    const DestinationStatus unknown = f.status("never-started");
    EXPECT_EQ(unknown.state, DestinationState::Idle);
    EXPECT_TRUE(unknown.message.isEmpty());
    EXPECT_EQ(unknown.attempts, 0);
    EXPECT_EQ(unknown.outageSecs, 0);
    EXPECT_EQ(unknown.recoveryAfterSecs, -1);
    EXPECT_EQ(unknown.cuts, 0);
    EXPECT_EQ(unknown.bitrateKbps, -1);
    EXPECT_EQ(unknown.droppedFrames, 0);
}

TEST(EntryRuntimeStop, StopAllAsksEveryDestinationInIdOrder) {
    QStringList order; // outlives the runtime, whose destruction stops again
    FakeRuntime f;
    for (const char* id : {"c", "a", "b"}) {
        auto script = f.addLive(id);
        script->afterStop = [&order, id] { order << id; };
    }
    stopAll(f.runtime);
    EXPECT_EQ(order, (QStringList{"a", "b", "c"}));
    for (const auto& [id, d] : f.runtime.outputs)
        EXPECT_TRUE(d->stopRequested) << id.toStdString();
}

TEST(EntryRuntimeStop, StopAndReleaseWaitsNotAtAllWhenEveryOutputStops) {
    FakeRuntime f;
    std::shared_ptr<test::FakeOutputScript> scripts[3];
    const char* ids[] = {"a", "b", "c"};
    for (int i = 0; i < 3; ++i) {
        scripts[i] = f.addLive(ids[i]);
        DestinationOutput* d = &f.at(ids[i]);
        scripts[i]->afterStop = [d] { d->onStop(0, QString()); };
    }
    // One is waiting for an automatic restart: it just ends.
    scripts[2]->active = false;
    f.at("c").onStop(-5, QString());

    stopAllAndRelease(f.runtime);
    EXPECT_EQ(f.clock.sleepCalls(), 0);
    EXPECT_TRUE(f.runtime.outputs.empty());
    for (const auto& script : scripts)
        EXPECT_TRUE(script->destroyed);
    EXPECT_EQ(scripts[2]->stops, 0);
}

TEST(EntryRuntimeStop, StopAndReleaseGivesUpOnAStuckOutputAfterAboutFiveSeconds) {
    FakeRuntime f;
    auto stuck = f.addLive("a");
    stuck->stopDeactivates = false;
    auto fine = f.addLive("b");
    DestinationOutput* b = &f.at("b");
    fine->afterStop = [b] { b->onStop(0, QString()); };

    stopAllAndRelease(f.runtime);
    EXPECT_EQ(f.clock.sleepCalls(), 100);
    EXPECT_EQ(f.clock.sleptMs(), 5000);
    EXPECT_TRUE(f.runtime.outputs.empty());
    EXPECT_TRUE(stuck->destroyed);
    EXPECT_TRUE(fine->destroyed);

    // A stream delayed 20 s is given its delay to send what it holds back, then the 5 s.
    FakeRuntime delayed;
    delayed.addLive("a", 20)->stopDeactivates = false;
    stopAllAndRelease(delayed.runtime);
    EXPECT_EQ(delayed.clock.sleptMs(), 25000);
}

TEST(EntryRuntimeStop, OutputThatStopsWithoutSignalIsAwaitedForItsGrace) {
    // The output went inactive but the host never said "stop": Live for 3 s more.
    FakeRuntime f;
    auto script = f.addLive(kDest);
    stopAllAndRelease(f.runtime);
    EXPECT_EQ(f.clock.sleptMs(), 3050);
    EXPECT_TRUE(script->destroyed);
}

TEST(EntryRuntimeStop, DestroyingARuntimeLeavesEveryStopAndReleaseToTheHostCallQueue) {
    test::ManualClock clock;
    test::HeldHostCalls queue;
    auto runtime = std::make_unique<EntryRuntime>(clock, queue);
    auto stuck = test::addFakeDestination(*runtime, "a");
    stuck->stopDeactivates = false;
    auto connecting = test::addFakeDestination(*runtime, "b");
    auto live = test::addFakeDestination(*runtime, "c");
    DestinationOutput* c = runtime->outputs.at("c").get();
    c->onStart();
    live->afterStop = [c] { c->onStop(0, QString()); };
    runtime->outputs.at("a")->onStart();

    // Nothing that can wait on the network happens on the caller's thread.
    runtime.reset();
    EXPECT_EQ(clock.sleptMs(), 0);
    for (const auto& script : {stuck, connecting, live}) {
        EXPECT_EQ(script->stops + script->forceStops, 0);
        EXPECT_FALSE(script->destroyed);
    }

    queue.runAll();
    EXPECT_EQ(clock.sleptMs(), 5000);
    EXPECT_EQ(stuck->stops, 1);
    EXPECT_EQ(connecting->forceStops, 1) << "a connecting output is cancelled, not asked to stop";
    EXPECT_EQ(live->stops, 1);
    for (const auto& script : {stuck, connecting, live})
        EXPECT_TRUE(script->destroyed);
}

TEST(EntryRuntimeStop, HeartbeatLeavesStopsAndReleasesToTheHostCallQueue) {
    test::ManualClock clock;
    test::HeldHostCalls queue;
    EntryRuntime runtime(clock, queue);
    auto script = test::addFakeDestination(runtime, kDest);
    DestinationOutput& d = *runtime.outputs.at(kDest);
    d.onStart();

    stopDestination(d);
    EXPECT_EQ(script->stops, 0);
    EXPECT_EQ(queue.pending(), 1);
    queue.runAll();
    EXPECT_EQ(script->stops, 1);

    d.onStop(0, QString());
    clock.advanceMs(500);
    tick(runtime);
    EXPECT_FALSE(runtime.outputs.contains(kDest));
    EXPECT_FALSE(script->destroyed) << "released on the queue, not by the heartbeat itself";
    queue.runAll();
    EXPECT_TRUE(script->destroyed);
}

TEST(EntryRuntimeStop, GracefulStopTheHostNeverCompletesIsForcedAfterFiveSeconds) {
    FakeRuntime fake;
    auto script = fake.addLive("d1");
    script->stopDeactivates = false; // the host accepts the stop but the output keeps going
    stopDestination(fake.at("d1"));
    EXPECT_EQ(script->stops, 1);

    fake.runFor(5000);
    EXPECT_EQ(script->forceStops, 0) << "forced before the host had its five seconds";
    EXPECT_TRUE(fake.has("d1"));

    script->stopDeactivates = true;
    fake.tickAfter(FakeRuntime::kTickMs);
    EXPECT_EQ(script->forceStops, 1);
    // Inactive and still Live: gone after the usual grace, so the entry stops counting as live.
    fake.runFor(4000);
    EXPECT_FALSE(fake.has("d1"));
    EXPECT_EQ(script->forceStops, 1);
}

TEST(EntryRuntimeRestart, LiveOnStoppedEncodersStartsAStreamAgainAndFailsARecording) {
    for (const QString& id : {QStringLiteral("d1"), recordingIdOf(QStringLiteral("e1"))}) {
        SCOPED_TRACE(id.toStdString());
        FakeRuntime fake;
        auto script = fake.addLive(id);
        script->encodersRunning = false;
        script->afterStop = [&] { fake.at(id).onStop(OBS_OUTPUT_SUCCESS, {}); };
        fake.tickAfter(FakeRuntime::kTickMs);
        EXPECT_EQ(script->forceStops, 1);
        if (isRecordingId(id)) {
            EXPECT_EQ(fake.status(id).state, DestinationState::Failed);
            fake.runFor(2000);
            EXPECT_EQ(script->starts, 1) << "a recording is never started again";
            continue;
        }
        EXPECT_EQ(fake.status(id).state, DestinationState::Starting);
        script->encodersRunning = true;
        fake.tickAfter(FakeRuntime::kTickMs);
        EXPECT_EQ(script->starts, 2);
        fake.at(id).onStart();
        fake.runFor(2000);
        EXPECT_EQ(fake.status(id).state, DestinationState::Live);
        EXPECT_EQ(fake.status(id).cuts, 0) << "nothing was sent, so nothing was cut";
        EXPECT_EQ(script->starts, 2);
    }
}

TEST(EncoderLoad, SkippedShareIsTheRecentWindowAndStartsOverForANewVideo) {
    EncoderLoadMeter meter;
    EXPECT_EQ(meter.skippedPercent(), 0);
    meter.sample(0, 1000);
    meter.sample(0, 1015);
    EXPECT_EQ(meter.skippedPercent(), 0);
    for (int i = 0; i < EncoderLoadMeter::kWindowSamples; ++i)
        meter.sample(3 * (i + 1), 1015 + 15 * (i + 1)); // 3 of every 15 frames skipped
    EXPECT_DOUBLE_EQ(meter.skippedPercent(), 20.0);
    // The encoder catches up: the old skips leave the window.
    for (int i = 0; i < EncoderLoadMeter::kWindowSamples; ++i)
        meter.sample(30, 1165 + 15 * (i + 1));
    EXPECT_EQ(meter.skippedPercent(), 0);
    meter.sample(0, 10); // a new video output counts from zero
    meter.sample(5, 20);
    EXPECT_DOUBLE_EQ(meter.skippedPercent(), 50.0);
}

} // namespace
} // namespace relaycast
