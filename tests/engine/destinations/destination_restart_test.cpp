// How a destination reacts to the host's signals and how the heartbeat restarts it: outages,
// the restart schedule, the attempt limit, the rule for every host code, a key that keeps being
// refused, and the start time-out.

#include "engine/destinations/destination_output.h"
#include "engine/destinations/stop_cause.h"
#include "engine/entry/entry_runtime.h"
#include "support/fake_runtime.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <util/base.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <vector>

namespace relaycast {
namespace {

using test::FakeRuntime;

const QString kDest = QStringLiteral("d1");
const QString kLost = QStringLiteral("Se perdió la conexión y no se pudo recuperar. %1");

// Heartbeats until the fake port has been asked to start once more (or `limitMs` passes);
// returns the milliseconds that took.
int64_t msUntilNextStart(FakeRuntime& f, test::FakeOutputScript& script, int64_t limitMs = 60000) {
    const int before = script.starts;
    int64_t waited = 0;
    while (script.starts == before && waited < limitMs) {
        f.tickAfter(FakeRuntime::kTickMs);
        waited += FakeRuntime::kTickMs;
    }
    return waited;
}

TEST(DestinationRestart, DroppedStreamIsRestartedAfterOneAndAHalfSecondsAndRecovers) {
    FakeRuntime f;
    auto script = f.addLive(kDest);
    f.runFor(2000);
    DestinationOutput& d = f.at(kDest);

    test::LogCapture log;
    script->active = false;
    d.onStop(-5, QString());

    // The host thread only posts what it saw; reading the status applies it.
    EXPECT_TRUE(log.linesAt(LOG_WARNING).isEmpty());
    DestinationStatus s = f.status(kDest);
    EXPECT_EQ(
        log.linesAt(LOG_WARNING),
        QStringList{"[relaycast] stream dropped by itself (code -5): restarting it automatically"});
    EXPECT_EQ(s.state, DestinationState::Reconnecting);
    EXPECT_EQ(s.cuts, 1);
    EXPECT_EQ(s.attempts, 1);
    EXPECT_TRUE(d.recovering());

    // Not yet after one second; asked to start on the tick at 1.5 s.
    f.tickAfter(500);
    f.tickAfter(500);
    EXPECT_EQ(script->starts, 1); // the first start only
    f.tickAfter(500);
    EXPECT_EQ(script->starts, 2);
    // Still the outage: the status keeps counting it and its attempts.
    EXPECT_EQ(f.status(kDest).state, DestinationState::Reconnecting);

    // The outage keeps counting until the host reports the stream started again.
    f.runFor(2000);
    EXPECT_EQ(f.status(kDest).outageSecs, 3);
    f.clock.advanceMs(700);
    d.onStart();

    s = f.status(kDest);
    EXPECT_EQ(s.state, DestinationState::Live);
    EXPECT_EQ(s.recoveryAfterSecs, 4); // 4.2 s, in whole seconds
    EXPECT_EQ(s.outageSecs, 0);
    EXPECT_EQ(s.cuts, 1);
    EXPECT_FALSE(d.recovering());
    EXPECT_EQ(log.linesAt(LOG_INFO),
              QStringList{"[relaycast] stream recovered automatically after 4 s"});

    // A later drop is a new outage: counted again, attempts start over.
    script->active = false;
    d.onStop(-5, QStringLiteral("Connection reset"));
    EXPECT_EQ(f.status(kDest).cuts, 2);
    EXPECT_EQ(f.status(kDest).attempts, 1);
    EXPECT_TRUE(log.contains("[relaycast] stream dropped by itself (code -5, Connection reset): "
                             "restarting it automatically"));
}

TEST(DestinationRestart, ServerThatStaysDownIsRetriedEveryFiveSecondsUpToTheLimit) {
    FakeRuntime f;
    auto script = f.addLive(kDest);
    DestinationOutput& d = f.at(kDest);
    script->active = false;
    script->acceptStart = false;
    script->setLastError(QStringLiteral("Connection refused"));
    d.onStop(-5, QString());

    EXPECT_EQ(msUntilNextStart(f, *script), 1500);
    std::vector<int64_t> gaps;
    int32_t attemptsBeforeLastTry = 0;
    while (f.has(kDest) && gaps.size() < 1000) {
        attemptsBeforeLastTry = f.status(kDest).attempts;
        gaps.push_back(msUntilNextStart(f, *script));
    }

    // However long the outage, the tries never spread out: the first at 1.5 s, then every 5 s
    // (35 minutes in all); the one made with the limit counted ends it, and that same tick
    // removes it.
    EXPECT_EQ(script->starts, 1 + kOutageAttemptLimit);
    ASSERT_EQ(gaps.size(), size_t(kOutageAttemptLimit - 1));
    for (int64_t gap : gaps)
        ASSERT_EQ(gap, 5000);
    EXPECT_EQ(attemptsBeforeLastTry, kOutageAttemptLimit);
    EXPECT_TRUE(script->destroyed);
    const DestinationStatus s = f.status(kDest);
    EXPECT_EQ(s.state, DestinationState::Failed);
    EXPECT_EQ(s.message, kLost.arg("Connection refused"));

    f.runFor(10000);
    EXPECT_EQ(script->starts, 1 + kOutageAttemptLimit);
}

TEST(DestinationRestart, ConnectionFailuresDuringRestartsKeepCountingTheOutageUntilTheLimit) {
    FakeRuntime f;
    auto script = f.addLive(kDest);
    DestinationOutput& d = f.at(kDest);
    script->active = false;
    d.onStop(-5, QString());

    // Every restart is accepted, then fails as a server that is down, refuses the stream for
    // a while or lets the handshake time out does: retried 5 s later each time, the status
    // stays on the outage with its attempts and says what the server answered.
    const struct {
        int code;
        const char* reason;
    } failures[] = {
        {-2, "no se pudo conectar con el servidor; se reintenta"},
        {-3, "el servidor rechazó la emisión; se reintenta"},
        {-5, "se perdió la conexión con el servidor; se reintenta"},
        {-4, "la emisión se detuvo (código -4); se reintenta"},
    };
    for (int attempt = 1; attempt < kOutageAttemptLimit; ++attempt) {
        ASSERT_EQ(msUntilNextStart(f, *script), attempt == 1 ? 1500 : 5000) << attempt;
        ASSERT_EQ(f.status(kDest).state, DestinationState::Reconnecting) << attempt;
        ASSERT_EQ(f.status(kDest).attempts, attempt);
        script->active = false;
        const auto& failure = failures[attempt % std::size(failures)];
        d.onStop(failure.code, QString());
        ASSERT_EQ(f.status(kDest).state, DestinationState::Reconnecting) << attempt;
        ASSERT_EQ(f.status(kDest).message, QString::fromUtf8(failure.reason)) << attempt;
    }
    EXPECT_EQ(f.status(kDest).attempts, kOutageAttemptLimit);
    EXPECT_GE(f.status(kDest).outageSecs, 2000);

    // With the limit reached, the next failed connection ends it with the code's message.
    msUntilNextStart(f, *script);
    script->active = false;
    d.onStop(-2, QStringLiteral("timed out"));
    EXPECT_EQ(f.status(kDest).state, DestinationState::Failed);
    EXPECT_EQ(f.status(kDest).message, "No se pudo conectar con el servidor. timed out");
    EXPECT_EQ(f.status(kDest).cuts, 1);
}

TEST(DestinationRestart, ServerBackAfterALongOutageIsLiveWithinFiveSeconds) {
    for (int64_t outageMs : {10000, 60000, 300000, 1234567}) {
        FakeRuntime f;
        auto script = f.addLive(kDest);
        DestinationOutput& d = f.at(kDest);
        script->acceptStart = false; // nothing answers while the server is away
        script->active = false;
        d.onStop(-5, QString());
        f.runFor(outageMs);

        script->acceptStart = true;
        const int64_t waited = msUntilNextStart(f, *script);
        EXPECT_LE(waited, 5000) << outageMs;
        d.onStart();
        EXPECT_EQ(f.status(kDest).state, DestinationState::Live) << outageMs;
        EXPECT_EQ(f.status(kDest).cuts, 1) << outageMs;
        EXPECT_EQ(f.status(kDest).recoveryAfterSecs, (outageMs + waited) / 1000) << outageMs;
    }
}

TEST(DestinationRestart, LastRefusalWithoutHostTextKeepsTheFixedMessage) {
    FakeRuntime f;
    auto script = f.addLive(kDest);
    script->active = false;
    script->acceptStart = false;
    f.at(kDest).onStop(-5, QString());
    f.runFor(40 * 60 * 1000);
    EXPECT_EQ(f.status(kDest).state, DestinationState::Failed);
    EXPECT_EQ(f.status(kDest).message, kLost.arg(QString()));
}

TEST(DestinationRestart, FirstConnectionThatNeverCameUpIsNotRestarted) {
    FakeRuntime f;
    auto script = f.addStarting(kDest);
    f.runFor(3000);
    script->active = false;
    f.at(kDest).onStop(-2, QString());

    EXPECT_EQ(f.status(kDest).state, DestinationState::Failed);
    EXPECT_EQ(f.status(kDest).message, "No se pudo conectar con el servidor.");
    f.runFor(10000);
    EXPECT_EQ(script->starts, 1);
    EXPECT_FALSE(f.has(kDest));
}

// Every host code, as the drop of a live stream and as the failure of a restart in a recovery.
TEST(DestinationRestart, EveryHostCodeEndsOrIsRetriedByOneRule) {
    enum Outcome { Fails, Retried };
    const struct {
        int code;
        const char* failure; // the card's text when it fails
        Outcome whenLive;
        Outcome inRecovery;
        const char* retrying; // the card's text while a recovery retries it
    } rows[] = {
        {-1, "La dirección no es correcta.", Fails, Fails, ""},
        {-2, "No se pudo conectar con el servidor.", Retried, Retried,
         "no se pudo conectar con el servidor; se reintenta"},
        {-3, "La clave o la dirección no son válidas.", Fails, Retried,
         "el servidor rechazó la emisión; se reintenta"},
        {-4, "La emisión se detuvo por un error (código -4).", Retried, Retried,
         "la emisión se detuvo (código -4); se reintenta"},
        {-5, "Se perdió la conexión con el servidor.", Retried, Retried,
         "se perdió la conexión con el servidor; se reintenta"},
        {-6, "El servidor no admite este formato.", Fails, Fails, ""},
        {-7, "La emisión se detuvo por un error (código -7).", Retried, Retried,
         "la emisión se detuvo (código -7); se reintenta"},
        {-8, "Falló el codificador de vídeo o audio.", Fails, Fails, ""},
        {3, "La emisión se detuvo por un error (código 3).", Retried, Retried,
         "la emisión se detuvo (código 3); se reintenta"},
        {kStopCertificateRejected,
         "No se aceptó el certificado del servidor: no lo firma una autoridad de confianza, ha "
         "caducado o es para otro nombre. Escribe en la dirección el nombre que figura en el "
         "certificado, o pide a quien gestiona el servidor que lo renueve.",
         Fails, Retried, "no se aceptó el certificado del servidor; se reintenta cada 5 s"},
    };
    for (const auto& row : rows) {
        for (const bool inRecovery : {false, true}) {
            SCOPED_TRACE(QStringLiteral("code %1%2")
                             .arg(row.code)
                             .arg(inRecovery ? " in a recovery" : "")
                             .toStdString());
            FakeRuntime f;
            auto script = f.addLive(kDest);
            if (inRecovery) {
                script->active = false;
                f.at(kDest).onStop(-5, QString());
                msUntilNextStart(f, *script);
            }
            script->active = false;
            f.at(kDest).onStop(row.code, QStringLiteral("host says no"));
            const DestinationStatus s = f.status(kDest);
            if ((inRecovery ? row.inRecovery : row.whenLive) == Fails) {
                EXPECT_EQ(s.state, DestinationState::Failed);
                EXPECT_EQ(s.message, QString::fromUtf8(row.failure) + " host says no");
                f.runFor(10000);
                EXPECT_FALSE(f.has(kDest));
                EXPECT_EQ(script->starts, inRecovery ? 2 : 1);
            } else {
                EXPECT_EQ(s.state, DestinationState::Reconnecting);
                EXPECT_EQ(s.message, QString::fromUtf8(row.retrying));
                EXPECT_EQ(msUntilNextStart(f, *script), inRecovery ? 5000 : 1500);
            }
        }
    }
    EXPECT_EQ(stopCodeText(-4, QString()), "La emisión se detuvo por un error (código -4).");
}

// The host tells a refused certificate only by its text, which must be the whole of it.
TEST(DestinationRestart, OnlyTheHostsCertificateTextMakesAFailedConnectionACertificateOne) {
    const QStringList texts{
        "The RTMP server sent an invalid SSL certificate.",
        QString::fromUtf8("El servidor RTMP envió un certificado SSL no válido.")};
    const struct {
        int code;
        const char* text;
        int expected;
    } rows[] = {
        {-2, "The RTMP server sent an invalid SSL certificate.", kStopCertificateRejected},
        {-2, " El servidor RTMP envió un certificado SSL no válido.\n", kStopCertificateRejected},
        {-5, "the rtmp server sent an invalid ssl certificate.", kStopCertificateRejected},
        {-2, "", -2},
        {-2, "Connection refused", -2},
        {-2, "Before: The RTMP server sent an invalid SSL certificate.", -2},
        {0, "The RTMP server sent an invalid SSL certificate.", 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(engineStopCode(row.code, QString::fromUtf8(row.text), texts), row.expected)
            << row.text;
    EXPECT_EQ(engineStopCode(-2, texts[0], {}), -2);
}

// A key revoked during a show: the server refuses every restart after the drop.
TEST(DestinationRestart, AKeyRefusedAfterADropIsRetriedForTwoMinutesThenLessOftenAndTheCardSaysSo) {
    FakeRuntime f;
    auto script = f.addLive(kDest);
    DestinationOutput& d = f.at(kDest);
    script->active = false;
    d.onStop(-5, QString());
    std::vector<int64_t> gaps;
    QStringList said;
    for (int64_t waited = 0; waited < 35 * 60 * 1000; waited += gaps.back()) {
        gaps.push_back(msUntilNextStart(f, *script, 120000));
        script->active = false;
        d.onStop(-3, QString());
        ASSERT_EQ(f.status(kDest).state, DestinationState::Reconnecting);
        if (said.isEmpty() || said.back() != f.status(kDest).message)
            said << f.status(kDest).message;
    }
    std::printf("a key refused for 35 minutes after a drop: %zu tries\n", gaps.size());
    ASSERT_GE(gaps.size(), 32u);
    EXPECT_EQ(gaps[0], 1500);
    EXPECT_EQ(std::count(gaps.begin() + 1, gaps.begin() + 25, 5000), 24) << "two minutes";
    EXPECT_EQ(std::count(gaps.begin() + 25, gaps.begin() + 31, 30000), 6) << "up to five";
    EXPECT_EQ(std::count(gaps.begin() + 31, gaps.end(), 60000), gaps.end() - gaps.begin() - 31);
    EXPECT_EQ(said, (QStringList{"el servidor rechazó la emisión; se reintenta",
                                 "el servidor sigue rechazando esta clave; revísala (se reintenta "
                                 "cada 30 s)",
                                 "el servidor sigue rechazando esta clave; revísala (se reintenta "
                                 "cada 60 s)"}));

    // The server down for a moment: its next refusal starts the pace again.
    msUntilNextStart(f, *script, 120000);
    script->active = false;
    d.onStop(-2, QString());
    EXPECT_EQ(msUntilNextStart(f, *script), 5000);
    script->active = false;
    d.onStop(-3, QString());
    EXPECT_EQ(msUntilNextStart(f, *script), 5000);
    // The key is taken again: live, one cut, nothing left of the refusals.
    d.onStart();
    EXPECT_EQ(f.status(kDest).state, DestinationState::Live);
    EXPECT_EQ(f.status(kDest).cuts, 1);
    EXPECT_TRUE(f.status(kDest).message.isEmpty());
}

TEST(DestinationRestart, RestartWaitsWhileTheOldOutputIsStillActive) {
    FakeRuntime f;
    auto script = f.addLive(kDest);
    f.at(kDest).onStop(-5, QString()); // the fake output stays active for now
    f.runFor(3000);
    EXPECT_EQ(script->starts, 1);
    EXPECT_EQ(f.status(kDest).state, DestinationState::Reconnecting);

    script->active = false;
    EXPECT_EQ(msUntilNextStart(f, *script), 500);
    EXPECT_EQ(f.status(kDest).state, DestinationState::Reconnecting);
}

TEST(DestinationRestart, HostReconnectionsCountOneCutPerOutage) {
    FakeRuntime f;
    f.addLive(kDest);
    DestinationOutput& d = f.at(kDest);

    d.onReconnect();
    f.runFor(5000);
    d.onReconnect();
    d.onReconnect();
    DestinationStatus s = f.status(kDest);
    EXPECT_EQ(s.state, DestinationState::Reconnecting);
    EXPECT_EQ(s.cuts, 1);
    EXPECT_EQ(s.attempts, 3);
    EXPECT_EQ(s.outageSecs, 5);

    f.clock.advanceMs(1999);
    d.onReconnectSuccess();
    s = f.status(kDest);
    EXPECT_EQ(s.state, DestinationState::Live);
    EXPECT_EQ(s.recoveryAfterSecs, 6);
    EXPECT_EQ(s.outageSecs, 0);

    d.onReconnect();
    EXPECT_EQ(f.status(kDest).cuts, 2);
    EXPECT_EQ(f.status(kDest).attempts, 1);
}

TEST(DestinationRestart, HostReconnectionThatGivesUpThenAnAutomaticRestartCountsTwoCuts) {
    FakeRuntime f;
    auto script = f.addLive(kDest);
    DestinationOutput& d = f.at(kDest);
    d.onReconnect();
    d.onReconnect();
    script->active = false;
    d.onStop(-5, QString());

    DestinationStatus s = f.status(kDest);
    EXPECT_EQ(s.cuts, 2);
    EXPECT_EQ(s.attempts, 1);
    EXPECT_EQ(s.state, DestinationState::Reconnecting);
    EXPECT_EQ(msUntilNextStart(f, *script), 1500);
}

TEST(DestinationRestart, ServerThatNeverCompletesTheStartIsStoppedAfterFortySeconds) {
    FakeRuntime f;
    auto script = f.addStarting(kDest);
    f.runFor(40000);
    EXPECT_EQ(f.status(kDest).state, DestinationState::Starting);
    EXPECT_EQ(script->forceStops, 0);

    f.tickAfter(500);
    EXPECT_EQ(script->forceStops, 1);
    EXPECT_EQ(f.status(kDest).state, DestinationState::Failed);
    EXPECT_EQ(f.status(kDest).message, "El servidor no respondió a tiempo.");
    f.tickAfter(500);
    EXPECT_FALSE(f.has(kDest));
    EXPECT_EQ(f.status(kDest).message, "El servidor no respondió a tiempo.");
}

TEST(DestinationRestart, HangingRestartAttemptIsLeftToTheHostsTimeOutAndTheOutageGoesOn) {
    FakeRuntime f;
    auto script = f.addLive(kDest);
    DestinationOutput& d = f.at(kDest);
    script->active = false;
    d.onStop(-5, QString());
    msUntilNextStart(f, *script); // accepted, but the connection attempt hangs

    f.runFor(90000);
    EXPECT_EQ(script->forceStops, 0);
    EXPECT_EQ(f.status(kDest).state, DestinationState::Reconnecting);
    EXPECT_GE(f.status(kDest).outageSecs, 90);

    // The host's own connection time-out ends the attempt; the schedule carries on.
    script->active = false;
    d.onStop(-2, QStringLiteral("timed out"));
    EXPECT_EQ(f.status(kDest).state, DestinationState::Reconnecting);
    EXPECT_EQ(msUntilNextStart(f, *script), 5000);
}

// A restarted output comes up and drops again before any heartbeat saw it active (a server that
// accepts the publish, then kicks it): a heartbeat between the output going inactive and its
// "stop" signal must count the grace from this run, not from the outage before.
TEST(DestinationRestart, QuickSecondDropIsNotTakenForTheEndOfTheStream) {
    FakeRuntime f;
    auto script = f.addLive(kDest);
    DestinationOutput& d = f.at(kDest);
    script->activeAfterStart = false; // a host output is active only once it has connected
    script->active = false;
    f.tickAfter(0);
    d.onStop(-5, QString());
    msUntilNextStart(f, *script);
    f.runFor(5000); // connecting

    script->active = true;
    d.onStart();
    script->active = false; // dropped again; its "stop" signal is on its way
    f.tickAfter(0);
    ASSERT_TRUE(f.has(kDest));
    d.onStop(-5, QString());
    EXPECT_EQ(f.status(kDest).state, DestinationState::Reconnecting);
    EXPECT_EQ(f.status(kDest).cuts, 2);
}

TEST(DestinationRestart, NormalStopDuringAnAutomaticRestartEndsIt) {
    FakeRuntime f;
    auto script = f.addLive(kDest);
    DestinationOutput& d = f.at(kDest);
    script->active = false;
    d.onStop(-5, QString());
    msUntilNextStart(f, *script);

    script->active = false;
    d.onStop(0, QString());
    EXPECT_EQ(f.status(kDest).state, DestinationState::Idle);
    f.tickAfter(500);
    EXPECT_FALSE(f.has(kDest));
    EXPECT_EQ(script->starts, 2);
}

TEST(DestinationRestart, LateNormalStopDoesNotHideAFailure) {
    FakeRuntime f;
    auto script = f.addStarting(kDest);
    script->stopDeactivates = false; // the host finishes the forced stop later
    f.runFor(41000);
    ASSERT_EQ(f.status(kDest).state, DestinationState::Failed);

    script->active = false;
    f.at(kDest).onStop(0, QString());
    EXPECT_EQ(f.status(kDest).state, DestinationState::Failed);
    f.tickAfter(500);
    EXPECT_EQ(f.status(kDest).state, DestinationState::Failed);
    EXPECT_EQ(f.status(kDest).message, "El servidor no respondió a tiempo.");
}

TEST(DestinationRestart, UserStopDuringARestartWaitEndsWithoutAskingTheHost) {
    FakeRuntime f;
    auto script = f.addLive(kDest);
    DestinationOutput& d = f.at(kDest);
    script->active = false;
    d.onStop(-5, QString());
    f.tickAfter(500);
    const int callsBefore = script->hostCalls();

    stopDestination(d);
    EXPECT_EQ(f.status(kDest).state, DestinationState::Idle);
    f.tickAfter(500);
    EXPECT_FALSE(f.has(kDest));
    EXPECT_EQ(script->hostCalls(), callsBefore);
    EXPECT_EQ(f.status(kDest).state, DestinationState::Idle);
    EXPECT_EQ(f.status(kDest).cuts, 0);
}

TEST(DestinationRestart, UserStopOfARunningOutputAsksTheHostAndNeverRestarts) {
    {
        FakeRuntime f;
        auto script = f.addLive(kDest);
        DestinationOutput& d = f.at(kDest);
        stopDestination(d);
        EXPECT_EQ(script->stops, 1);
        d.onStop(0, QString());
        f.tickAfter(500);
        EXPECT_FALSE(f.has(kDest));
        EXPECT_EQ(f.status(kDest).state, DestinationState::Idle);
        EXPECT_TRUE(f.status(kDest).message.isEmpty());
    }
    {
        // The stop arrives with an error code: reported, not restarted.
        FakeRuntime f;
        auto script = f.addLive(kDest);
        DestinationOutput& d = f.at(kDest);
        stopDestination(d);
        d.onStop(-5, QString());
        EXPECT_EQ(f.status(kDest).state, DestinationState::Failed);
        EXPECT_EQ(f.status(kDest).message, "Se perdió la conexión con el servidor.");
        f.runFor(10000);
        EXPECT_EQ(script->starts, 1);
    }
    {
        // A stream delayed 30 s sends what it holds back before the stop is forced.
        FakeRuntime f;
        auto script = f.addLive(kDest, 30);
        script->stopDeactivates = false;
        stopDestination(f.at(kDest));
        f.runFor(34000);
        EXPECT_EQ(script->forceStops, 0);
        f.runFor(2000);
        EXPECT_EQ(script->forceStops, 1);
    }
    {
        // Stopped while a restart was connecting: cancelled, and not retried.
        FakeRuntime f;
        auto script = f.addLive(kDest);
        DestinationOutput& d = f.at(kDest);
        script->active = false;
        d.onStop(-5, QString());
        msUntilNextStart(f, *script);
        stopDestination(d);
        EXPECT_EQ(script->forceStops, 1);
        d.onStop(0, QString());
        f.runFor(10000);
        EXPECT_FALSE(f.has(kDest));
        EXPECT_EQ(script->starts, 2);
    }
}

TEST(DestinationRestart, CancelWhileConnectingIsForcedAndNeverShowsLive) {
    {
        // The host connects anyway right after the cancel: never Live, stopped at once.
        FakeRuntime f;
        auto script = f.addStarting(kDest);
        DestinationOutput& d = f.at(kDest);
        stopDestination(d);
        EXPECT_EQ(script->stops, 0) << "the host's plain stop ignores a connecting output";
        EXPECT_EQ(script->forceStops, 1);
        EXPECT_EQ(f.status(kDest).state, DestinationState::Idle);

        script->active = true;
        d.onStart();
        EXPECT_EQ(f.status(kDest).state, DestinationState::Idle);
        // The output stays active until the host's "stop" signal; ended outputs are released.
        script->stopDeactivates = false;
        f.tickAfter(500);
        EXPECT_EQ(script->forceStops, 2);
        ASSERT_TRUE(f.has(kDest));
        script->active = false;
        d.onStop(0, QString());
        f.tickAfter(500);
        EXPECT_FALSE(f.has(kDest));
        EXPECT_EQ(f.status(kDest).state, DestinationState::Idle);
        EXPECT_TRUE(f.status(kDest).message.isEmpty());
    }
    {
        // The abandoned connection fails: still a plain end, no error for the user.
        FakeRuntime f;
        auto script = f.addStarting(kDest);
        DestinationOutput& d = f.at(kDest);
        stopDestination(d);
        d.onStop(-2, QStringLiteral("connection refused"));
        f.tickAfter(500);
        EXPECT_FALSE(f.has(kDest));
        EXPECT_EQ(f.status(kDest).state, DestinationState::Idle);
        EXPECT_TRUE(f.status(kDest).message.isEmpty());
        EXPECT_EQ(script->starts, 1);
    }
}

TEST(DestinationRestart, HostTextsNeverCarryTheKey) {
    FakeRuntime f;
    auto script = f.addLive(kDest);
    DestinationOutput& d = f.at(kDest);
    test::LogCapture log;
    script->active = false;
    d.onStop(-5, QStringLiteral("Connection to rtmp://h/app?token=hush failed (key-d1)"));
    d.onStop(-1, QStringLiteral("Connection to rtmp://h/app?token=hush failed (key-d1)"));

    const QString message = f.status(kDest).message;
    EXPECT_TRUE(message.startsWith("La dirección no es correcta.")) << message.toStdString();
    EXPECT_FALSE(message.contains("hush")) << message.toStdString();
    EXPECT_FALSE(message.contains("key-d1")) << message.toStdString();
    EXPECT_FALSE(log.lines().join("\n").contains("hush"));
    EXPECT_FALSE(log.lines().join("\n").contains("key-d1"));
}

// Host signals that come when the destination's phase no longer expects them (late, after a
// failure or a plain end) change nothing: a failure shown stays, an ended stream stays ended.
TEST(DestinationRestart, LateHostSignalsLeaveAFailureOrAnEndAsItIs) {
    using Step = std::function<void(FakeRuntime&, test::FakeOutputScript&, DestinationOutput&)>;
    const auto dropsWith = [](int code) {
        return [code](FakeRuntime&, test::FakeOutputScript&, DestinationOutput& d) {
            d.onStop(code, QString());
        };
    };
    // The host finishes the forced stop later, so the destination is still there when its late
    // start comes, as on a real host.
    const Step timesOut = [](FakeRuntime& f, test::FakeOutputScript& script, DestinationOutput&) {
        script.stopDeactivates = false;
        f.tickAfter(41000);
    };
    const Step startSignal = [](FakeRuntime&, test::FakeOutputScript&, DestinationOutput& d) {
        d.onStart();
    };
    const Step reconnect = [](FakeRuntime&, test::FakeOutputScript&, DestinationOutput& d) {
        d.onReconnect();
    };
    const Step reconnected = [](FakeRuntime&, test::FakeOutputScript&, DestinationOutput& d) {
        d.onReconnectSuccess();
    };
    const struct {
        const char* name;
        bool live;
        std::vector<Step> steps;
        DestinationState state;
        int32_t cuts;
        int32_t recoveryAfterSecs;
    } cases[] = {
        {"the host comes up after the start timed out",
         false,
         {timesOut, startSignal},
         DestinationState::Failed,
         0,
         -1},
        {"a host reconnection after the key was refused",
         true,
         {dropsWith(-3), reconnect},
         DestinationState::Failed,
         0,
         -1},
        {"an error stop after a plain one",
         true,
         {dropsWith(0), dropsWith(-5)},
         DestinationState::Idle,
         0,
         -1},
        {"a reconnection success nobody reconnected",
         true,
         {reconnected},
         DestinationState::Live,
         0,
         -1},
        {"a host reconnection of a stream that ended plainly",
         true,
         {dropsWith(0), reconnect},
         DestinationState::Idle,
         0,
         -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::LogCapture log;
        FakeRuntime f;
        auto script = c.live ? f.addLive(kDest) : f.addStarting(kDest);
        DestinationOutput& d = f.at(kDest);
        for (const Step& step : c.steps) {
            ASSERT_TRUE(f.has(kDest)) << "a step would reach a destination already released";
            step(f, *script, d);
        }
        const DestinationStatus s = f.status(kDest);
        EXPECT_EQ(s.state, c.state);
        EXPECT_EQ(s.cuts, c.cuts);
        EXPECT_EQ(s.recoveryAfterSecs, c.recoveryAfterSecs);
        EXPECT_EQ(d.nextRestartMs, 0);
    }
}

} // namespace
} // namespace relaycast
