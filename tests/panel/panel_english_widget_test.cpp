// The panel in an English interface: every text it shows, from the empty state to the notices
// of a stream's life.

#include "editor/input_widgets.h"
#include "engine/picture/entry_pipeline.h"
#include "panel/status_line.h"
#include "support/icon_text.h"
#include "support/local_servers.h"
#include "support/message_box_driver.h"
#include "support/panel_fixture.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

RELAYCAST_HOST_TEST_LOCALE("en-US")

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

EntryConfig entry(const QString& id, const QString& source, const QList<DestConfig>& destinations) {
    EntryConfig e = entrySending(source, 640, 360, destinations);
    e.id = id;
    e.nombre.clear();
    e.videoKbps = 600;
    return e;
}

QWidget* cardOf(const SalidasPanel& panel, const QString& entryId) {
    return panel.switchRow(entryId)->parentWidget();
}

QStringList plainLabelsOf(QWidget* card) {
    QStringList texts;
    for (QLabel* label : card->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!dynamic_cast<ElidedLabel*>(label) && !label->isHidden())
            texts << label->text();
    }
    return texts;
}

ElidedLabel* titleOf(const SalidasPanel& panel, const QString& entryId) {
    for (QLabel* label :
         cardOf(panel, entryId)->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (auto* elided = dynamic_cast<ElidedLabel*>(label))
            return elided;
    }
    return nullptr;
}

TEST(PanelEnglish, FixedTextsCardsAndTooltips) {
    OBSSceneAutoRelease scene = createScene("english-scene");
    OBSSourceAutoRelease colour = createColorSource("english-colour", kOpaqueRed, 320, 180);
    PanelWorld world(QStringLiteral("Scenes"));
    auto panel = world.openPanel();
    QCoreApplication::processEvents();
    EXPECT_EQ(plainLabelsOf(panel->cardList()),
              QStringList{QString::fromUtf8(
                  "There are no inputs yet.\n\nClick “Add input”, pick a scene or a source "
                  "and enter the destinations you want to send it to (RTMP, SRT or RIST).")});
    QStringList buttons;
    for (QPushButton* button : panel->findChildren<QPushButton*>())
        buttons << shownText(button) + QLatin1Char('|') + button->toolTip();
    EXPECT_TRUE(buttons.contains(QString::fromUtf8(
        "＋ Add input|Pick an OBS source or scene and the destinations to send it to")))
        << buttons.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(buttons.contains(QStringLiteral("Download|")));

    EntryConfig following = entry("e3", QString(), {});
    following.seguirObs = true;
    world.entries() << entry("e1", QStringLiteral("english-scene"), {})
                    << entry("e2", QStringLiteral("english-colour"), {}) << following;
    panel->onCollectionChanged();
    EXPECT_EQ(shownFullText(titleOf(*panel, "e1")), QString::fromUtf8("🎬 Scene: english-scene"));
    EXPECT_EQ(shownFullText(titleOf(*panel, "e2")), QString::fromUtf8("🎥 Source: english-colour"));
    EXPECT_EQ(shownFullText(titleOf(*panel, "e3")), QString::fromUtf8("↪ Follows the OBS scene"));
    EXPECT_EQ(titleOf(*panel, "e3")->toolTip(),
              QStringLiteral("Sends the scene OBS has live, using the matches you have defined"));
    EXPECT_EQ(plainLabelsOf(cardOf(*panel, "e1")),
              QStringList{QString::fromUtf8("No destinations. Click “Edit” to add one.")});

    QStringList tools;
    for (QToolButton* button : cardOf(*panel, "e1")->findChildren<QToolButton*>())
        tools << shownText(button) + QLatin1Char('|') + button->toolTip();
    EXPECT_EQ(tools,
              (QStringList{QString::fromUtf8("👁|See what is being sent out (only while "
                                             "streaming). Uses a little GPU."),
                           QString::fromUtf8("✎ Edit|Change the source, destinations and encoder "
                                             "settings. While streaming, only the quality and "
                                             "the advanced encoder settings can be changed."),
                           QString::fromUtf8("🗑|Delete this input and all its destinations")}));
    QWidget* row = panel->switchRow("e1");
    EXPECT_EQ(row->findChild<QLabel*>()->text(), QStringLiteral("Sending now:"));
    EXPECT_EQ(panel->switchCombo("e1")->toolTip(),
              QStringLiteral("Change what this input sends without interrupting the stream"));

    panel->showUpdateBanner(QStringLiteral("2.1"), QStringLiteral("https://example.invalid/x"));
    EXPECT_FALSE(panel->updateBanner()->isHidden());
    EXPECT_EQ(shownText(panel->updateBannerLabel()),
              QString::fromUtf8("⬆ A new version is available: 2.1 (you have %1).")
                  .arg(QStringLiteral(RELAYCAST_VERSION)));
    QToolButton* dismiss = panel->updateBanner()->findChild<QToolButton*>();
    EXPECT_EQ(dismiss->toolTip(), QStringLiteral("Hide this notice"));
    QTest::mouseClick(dismiss, Qt::LeftButton);
    EXPECT_TRUE(panel->updateBanner()->isHidden());
}

TEST(PanelEnglish, StatusLinesAndButtons) {
    DestinationStatus s;
    EXPECT_EQ(destinationStatusLine(s).text, QStringLiteral("Stopped"));
    s.state = DestinationState::Starting;
    EXPECT_EQ(destinationStatusLine(s).text, QString::fromUtf8("Connecting…"));
    s.state = DestinationState::Reconnecting;
    s.outageSecs = 7;
    s.attempts = 2;
    EXPECT_EQ(destinationStatusLine(s).text, QString::fromUtf8("⚠ Down 7 s · attempt 2"));
    s.state = DestinationState::Live;
    s.bitrateKbps = 2500;
    s.droppedFrames = 3;
    s.cuts = 2;
    s.recoveryAfterSecs = 4;
    EXPECT_EQ(destinationStatusLine(s).text,
              QString::fromUtf8("● LIVE · 2.5 Mbps · 3 dropped frames · 2 drops (4 s)"));
    s.cuts = 1;
    s.recoveryAfterSecs = -1;
    s.droppedFrames = 0;
    EXPECT_EQ(destinationStatusLine(s).text, QString::fromUtf8("● LIVE · 2.5 Mbps · 1 drop"));
    s.congested = true;
    s.receivedKbps = 300;
    s.queuedMs = 4000;
    EXPECT_EQ(destinationStatusLine(s).text,
              QString::fromUtf8("⚠ LIVE, congested · 0.3 Mbps reach the server · 4.0 s behind · "
                                "1 drop"));
    s.congested = false;
    s.state = DestinationState::Failed;
    EXPECT_EQ(destinationStatusLine(s).text, QString::fromUtf8("⚠ Error"));
    EXPECT_EQ(destinationButtonText(true, DestinationState::Starting),
              QString::fromUtf8("■ Cancel"));
    EXPECT_EQ(destinationButtonText(true, DestinationState::Live), QString::fromUtf8("■ Stop"));
    EXPECT_EQ(destinationButtonText(false, DestinationState::Live), QString::fromUtf8("▶ Stream"));

    DestinationStatus recording;
    EXPECT_EQ(recordingPlaceText(recording, {}), QStringLiteral("Record to a file"));
    EXPECT_EQ(recordingButtonText(false, DestinationState::Idle), QString::fromUtf8("▶ Record"));
    recording.state = DestinationState::Starting;
    EXPECT_EQ(recordingStatusLine(recording).text, QString::fromUtf8("Starting to record…"));
    recording.state = DestinationState::Live;
    recording.uptimeSecs = 754;
    recording.sentBytes = 123'000'000;
    EXPECT_EQ(recordingStatusLine(recording).text,
              QString::fromUtf8("● Recording 0:12:34 · 123 MB"));
}

TEST(PanelEnglish, AStreamStartsAndStopsAndFailuresAreNoticed) {
    RtmpServer rtmp;
    QString error;
    ASSERT_TRUE(rtmp.start(&error)) << error.toStdString();
    OBSSceneAutoRelease scene = createScene("english-live");
    OBSSourceAutoRelease colour = createColorSource("english-live-colour", kOpaqueBlue, 640, 360);
    addToScene(scene, colour);
    OBSSourceAutoRelease doomed = createColorSource("english-gone", kOpaqueWhite, 320, 180);
    ASSERT_TRUE(removeSource(doomed));

    PanelWorld world(QStringLiteral("Scenes"));
    // It follows the host, whose live scene is mapped to a scene that does not exist.
    EntryConfig live =
        entry("e1", QStringLiteral("english-live"), {destination("d1", rtmp.url(), "english-key")});
    live.seguirObs = true;
    live.equivalencias.insert(QStringLiteral("english-live"), QStringLiteral("nowhere"));
    EntryConfig refused =
        entry("e2", QStringLiteral("english-live"), {destination("d2", rtmp.url(), "refused")});
    refused.codificador = QStringLiteral("missing_encoder");
    EntryConfig gone =
        entry("e3", QStringLiteral("english-gone"), {destination("d3", rtmp.url(), "gone")});
    world.entries() << live << refused << gone;
    auto panel = world.openPanel();
    EXPECT_EQ(statusTextOf(*panel, "d1"), QStringLiteral("Stopped"));
    EXPECT_EQ(buttonTextOf(*panel, "d1"), QString::fromUtf8("▶ Stream"));

    clickDestination(*panel, "d1");
    EXPECT_EQ(statusTextOf(*panel, "d1"), QString::fromUtf8("Connecting…"));
    EXPECT_EQ(buttonTextOf(*panel, "d1"), QString::fromUtf8("■ Cancel"));
    static const QRegularExpression liveLine(QString::fromUtf8(
        "^● LIVE · \\d+\\.\\d Mbps(?: · \\d+:\\d\\d:\\d\\d)?(?: · [0-9.]+ [MG]B)?$"));
    ASSERT_TRUE(
        pumpUntil([&] { return liveLine.match(statusTextOf(*panel, "d1")).hasMatch(); }, 30s))
        << statusTextOf(*panel, "d1").toStdString();
    EXPECT_EQ(buttonTextOf(*panel, "d1"), QString::fromUtf8("■ Stop"));

    world.frontend.setCurrentScene(obs_scene_get_source(scene));
    panel->followLiveScene();
    EXPECT_EQ(panel->noticeLine()->text(),
              QString::fromUtf8(
                  "Scene “nowhere” does not exist in OBS; the input stays on the previous one."));
    EXPECT_EQ(panel->runtimeOf("e1")->pipeline->sourceName, QByteArray("english-live"));

    clickDestination(*panel, "d2");
    EXPECT_EQ(panel->noticeLine()->text(),
              QString::fromUtf8("Could not stream: Could not create the video encoder "
                                "“missing_encoder”. Try the CPU encoder (x264)."));
    clickDestination(*panel, "d3");
    EXPECT_EQ(panel->noticeLine()->text(),
              QString::fromUtf8("“english-gone” no longer exists in OBS. Change it with "
                                "“Edit” or delete it."));
    panel->runtimeFor("e3");
    panel->switchEntrySource("e3", QStringLiteral("english-live"));
    EXPECT_EQ(panel->noticeLine()->text(),
              QStringLiteral("Could not switch scenes: The input is not streaming."));

    QString title;
    QString asked;
    QStringList answers;
    whenMessageBoxOpens([&](QMessageBox* box) {
        title = box->windowTitle();
        asked = box->text();
        for (QAbstractButton* button : box->buttons())
            answers << button->text();
        box->reject();
    });
    QTest::mouseClick(cardOf(*panel, "e1")->findChildren<QToolButton*>().back(), Qt::LeftButton);
    EXPECT_EQ(title, QStringLiteral("Delete input"));
    EXPECT_EQ(asked, QStringLiteral("This input is streaming right now. If you delete it, its "
                                    "streams will stop.\n\nDelete it?"));
    answers.sort();
    EXPECT_EQ(answers, (QStringList{QStringLiteral("Cancel"), QStringLiteral("Yes, delete")}));
    EXPECT_EQ(world.entries().size(), 3);

    clickDestination(*panel, "d1");
    EXPECT_TRUE(pumpUntil([&] {
        return !panel->isEntryLive("e1") && statusTextOf(*panel, "d1") == QStringLiteral("Stopped");
    })) << statusTextOf(*panel, "d1").toStdString();
    EXPECT_EQ(buttonTextOf(*panel, "d1"), QString::fromUtf8("▶ Stream"));
}

TEST(PanelEnglish, NoticesOfADestinationsLifeAndFollowing) {
    PanelWorld world(QStringLiteral("Scenes"));
    auto panel = world.openPanel();
    EntryConfig named = entry("e1", QStringLiteral("x"), {});
    named.nombre = QStringLiteral("Show");
    const DestConfig dest = destination("d1", QStringLiteral("rtmp://127.0.0.1:1935/live"), "k");
    DestinationStatus status;

    status.state = DestinationState::Reconnecting;
    panel->announceDestinationChange(named, dest, 2, status);
    EXPECT_EQ(shownText(panel->noticeLine()),
              QString::fromUtf8("⚠ Dropped on «Show» → 127.0.0.1. Reconnecting automatically…"));
    status.state = DestinationState::Live;
    status.recoveryAfterSecs = 7;
    panel->announceDestinationChange(named, dest, 3, status);
    EXPECT_EQ(shownText(panel->noticeLine()),
              QString::fromUtf8("✔ «Show» → 127.0.0.1 recovered after 7 s down."));
    status.state = DestinationState::Failed;
    EntryConfig unnamed = entry("e2", QString(), {});
    panel->announceDestinationChange(
        unnamed, destination("d2", QStringLiteral("srt://?streamid=secret")), 3, status);
    EXPECT_EQ(shownText(panel->noticeLine()),
              QString::fromUtf8("⛔ Lost for good: «input» → srt://?… could not reconnect. Click "
                                "“Stream” to try again."));
}

} // namespace
