// How a destination's and a recording's state read on a card, from the snapshot the engine
// gives.

#include "panel/status_line.h"

#include <gtest/gtest.h>

using namespace relaycast;

namespace {

DestinationStatus live(int32_t kbps, int32_t dropped = 0, int32_t cuts = 0,
                       int32_t recoveryAfterSecs = -1) {
    DestinationStatus s;
    s.state = DestinationState::Live;
    s.bitrateKbps = kbps;
    s.droppedFrames = dropped;
    s.cuts = cuts;
    s.recoveryAfterSecs = recoveryAfterSecs;
    return s;
}

QString text(const DestinationStatus& s) {
    return destinationStatusLine(s).text;
}

TEST(StatusLine, LiveLineAddsRateDroppedFramesAndCutsOnlyWhenKnown) {
    EXPECT_EQ(text(live(-1)), QString::fromUtf8("● EN EMISIÓN"));
    EXPECT_EQ(text(live(2500)), QString::fromUtf8("● EN EMISIÓN · 2.5 Mbps"));
    EXPECT_EQ(text(live(4000)), QString::fromUtf8("● EN EMISIÓN · 4.0 Mbps"));
    EXPECT_EQ(text(live(0)), QString::fromUtf8("● EN EMISIÓN · 0.0 Mbps"));
    EXPECT_EQ(text(live(1249)), QString::fromUtf8("● EN EMISIÓN · 1.2 Mbps"));
    EXPECT_EQ(text(live(3000, 17)),
              QString::fromUtf8("● EN EMISIÓN · 3.0 Mbps · 17 fotogramas perdidos"));
    EXPECT_EQ(text(live(3000, 0, 1, 12)),
              QString::fromUtf8("● EN EMISIÓN · 3.0 Mbps · 1 corte (12 s)"));
    EXPECT_EQ(text(live(-1, 0, 3, -1)), QString::fromUtf8("● EN EMISIÓN · 3 cortes"));
    EXPECT_EQ(
        text(live(6000, 2, 2, 0)),
        QString::fromUtf8("● EN EMISIÓN · 6.0 Mbps · 2 fotogramas perdidos · 2 cortes (0 s)"));
    // A run's figures: time on the air, data sent, and the share of frames dropped.
    DestinationStatus run = live(3000, 12, 0, -1);
    run.uptimeSecs = 3723;
    run.sentBytes = 1'268'400'000;
    run.totalFrames = 3000;
    EXPECT_EQ(text(run), QString::fromUtf8("● EN EMISIÓN · 3.0 Mbps · 1:02:03 · 1.27 GB · 12 "
                                           "fotogramas perdidos (0.4 %)"));
    run.uptimeSecs = 59;
    run.sentBytes = 3'450'000;
    run.droppedFrames = 1;
    run.totalFrames = 2000;
    EXPECT_EQ(text(run), QString::fromUtf8("● EN EMISIÓN · 3.0 Mbps · 0:00:59 · 3.5 MB · 1 "
                                           "fotogramas perdidos (0.05 %)"));
    EXPECT_EQ(destinationStatusLine(live(1)).styleSheet,
              QStringLiteral("color: #3fb950; font-weight: bold;"));
}

TEST(StatusLine, CongestedLineSaysWhatReachesTheServerInAmber) {
    DestinationStatus s = live(1100, 57, 1, 3);
    s.congested = true;
    s.receivedKbps = 300;
    s.queuedMs = 4200;
    EXPECT_EQ(text(s), QString::fromUtf8("⚠ EN EMISIÓN, saturado · llegan 0.3 Mbps · 4.2 s de "
                                         "retraso · 57 fotogramas perdidos · 1 corte (3 s)"));
    EXPECT_EQ(destinationStatusLine(s).styleSheet,
              QStringLiteral("color: #e0a030; font-weight: bold;"));
    // A trickle: neither rounded to nothing nor up to 0.1, and no delay figure past the hour.
    s.receivedKbps = 1;
    s.queuedMs = kLongestQueuedMs;
    EXPECT_EQ(text(s), QString::fromUtf8("⚠ EN EMISIÓN, saturado · llegan < 0.1 Mbps · 3600.0 s de "
                                         "retraso · 57 fotogramas perdidos · 1 corte (3 s)"));
    s.receivedKbps = 99;
    s.queuedMs = kLongestQueuedMs + 1;
    EXPECT_EQ(text(s),
              QString::fromUtf8("⚠ EN EMISIÓN, saturado · llegan < 0.1 Mbps · más de una hora de "
                                "retraso · 57 fotogramas perdidos · 1 corte (3 s)"));
    // Nothing acknowledged: no rate, no delay made up from it.
    s.receivedKbps = 0;
    s.queuedMs = -1;
    EXPECT_EQ(text(s), QString::fromUtf8("⚠ EN EMISIÓN, saturado · no llega nada al servidor · 57 "
                                         "fotogramas perdidos · 1 corte (3 s)"));
    // An output whose connection and queue cannot be seen.
    s.receivedKbps = -1;
    s.queuedMs = -1;
    s.droppedFrames = 0;
    s.cuts = 0;
    EXPECT_EQ(text(s), QString::fromUtf8("⚠ EN EMISIÓN, saturado"));
}

TEST(StatusLine, OtherStatesHaveTheirTextAndColour) {
    DestinationStatus s;
    EXPECT_EQ(text(s), QStringLiteral("Parado"));
    EXPECT_EQ(destinationStatusLine(s).styleSheet, QString());

    s.state = DestinationState::Starting;
    EXPECT_EQ(text(s), QString::fromUtf8("Conectando…"));
    EXPECT_EQ(destinationStatusLine(s).styleSheet, QStringLiteral("color: #e0a030;"));

    s.state = DestinationState::Reconnecting;
    s.outageSecs = 7;
    s.attempts = 2;
    EXPECT_EQ(text(s), QString::fromUtf8("⚠ Cortado 7 s · intento 2"));
    EXPECT_EQ(destinationStatusLine(s).styleSheet,
              QStringLiteral("color: #e0a030; font-weight: bold;"));
    s.message = QString::fromUtf8("el servidor rechazó la emisión; se reintenta");
    EXPECT_EQ(text(s),
              QString::fromUtf8("⚠ Cortado 7 s · intento 2 · el servidor rechazó la emisión; se "
                                "reintenta"));

    s.state = DestinationState::Failed;
    s.message = QString::fromUtf8("El servidor no respondió a tiempo.");
    EXPECT_EQ(text(s), QString::fromUtf8("⚠ El servidor no respondió a tiempo."));
    EXPECT_EQ(destinationStatusLine(s).styleSheet, QStringLiteral("color: #e0524d;"));
    s.message.clear();
    EXPECT_EQ(text(s), QString::fromUtf8("⚠ Error"));

    s.state = static_cast<DestinationState>(9);
    EXPECT_EQ(text(s), QStringLiteral("Parado"));
}

TEST(StatusLine, ButtonTextFollowsActivityAndConnecting) {
    EXPECT_EQ(destinationButtonText(false, DestinationState::Live), QString::fromUtf8("▶ Emitir"));
    EXPECT_EQ(destinationButtonText(false, DestinationState::Failed),
              QString::fromUtf8("▶ Emitir"));
    EXPECT_EQ(destinationButtonText(true, DestinationState::Starting),
              QString::fromUtf8("■ Cancelar"));
    EXPECT_EQ(destinationButtonText(true, DestinationState::Reconnecting),
              QString::fromUtf8("■ Parar"));
    EXPECT_EQ(destinationButtonText(true, DestinationState::Idle), QString::fromUtf8("■ Parar"));
}

TEST(StatusLine, RecordingLinesReadLikeADestinationsWithTimeSizeAndFailure) {
    struct Case {
        DestinationState state;
        int64_t uptimeSecs;
        uint64_t bytes;
        const char* message;
        const char* text;
        const char* style;
    };
    const Case cases[] = {
        {DestinationState::Idle, 0, 0, "", "Parado", ""},
        {DestinationState::Starting, 0, 0, "", "Empezando a grabar…", "color: #e0a030;"},
        {DestinationState::Live, 0, 0, "", "● Grabando 0:00:00",
         "color: #3fb950; font-weight: bold;"},
        {DestinationState::Live, 754, 123'400'000, "", "● Grabando 0:12:34 · 123 MB",
         "color: #3fb950; font-weight: bold;"},
        {DestinationState::Live, 3723, 4'500'000'000, "", "● Grabando 1:02:03 · 4.50 GB",
         "color: #3fb950; font-weight: bold;"},
        // A disk that filled up: the figures give way to the engine's message.
        {DestinationState::Failed, 754, 123'400'000, "La grabación se detuvo: disco lleno.",
         "⚠ La grabación se detuvo: disco lleno.", "color: #e0524d;"},
        {DestinationState::Failed, 0, 0, "", "⚠ Error", "color: #e0524d;"},
    };
    for (const Case& c : cases) {
        DestinationStatus s;
        s.state = c.state;
        s.uptimeSecs = c.uptimeSecs;
        s.sentBytes = c.bytes;
        s.message = QString::fromUtf8(c.message);
        s.file = QStringLiteral("/videos/2026-12-09 08-00-00 Vertical.mkv");
        SCOPED_TRACE(c.text);
        const StatusLine line = recordingStatusLine(s);
        EXPECT_EQ(line.text, QString::fromUtf8(c.text));
        EXPECT_EQ(line.styleSheet, QString::fromUtf8(c.style));
    }
    // A folder that does not answer: the time goes on, the size the disk has not confirmed.
    DestinationStatus silent;
    silent.state = DestinationState::Live;
    silent.uptimeSecs = 754;
    silent.sentBytes = 123'400'000;
    silent.folderSilent = true;
    const StatusLine line = recordingStatusLine(silent);
    EXPECT_EQ(line.text, QString::fromUtf8("⚠ Grabando 0:12:34 · la carpeta no responde"));
    EXPECT_EQ(line.styleSheet, QStringLiteral("color: #e0a030; font-weight: bold;"));
}

TEST(StatusLine, RecordingPlaceIsTheFileThenTheChosenFolderThenWhatTheRowDoes) {
    RecordingConfig config;
    DestinationStatus s;
    EXPECT_EQ(recordingPlaceText(s, config), QStringLiteral("Grabar a un archivo"));
    config.carpeta = QStringLiteral("  /home/ana/Vídeos  ");
    EXPECT_EQ(recordingPlaceText(s, config), QString::fromUtf8("/home/ana/Vídeos"));
    // The file written, or the last one once stopped, without its folder.
    s.file = QStringLiteral("/home/ana/Vídeos/2026-12-09 08-00-00 Vertical.mkv");
    EXPECT_EQ(recordingPlaceText(s, config), QStringLiteral("2026-12-09 08-00-00 Vertical.mkv"));
}

} // namespace
