// The panel driving real streams to a local RTMP server: the start/stop button and status line
// through a whole start and stop, the switch row, a start the engine refuses, a source that is
// gone, what error notices leave in the log, deleting a live entry, and the card's recording
// row writing a real file beside a live stream.

#include "editor/input_widgets.h"
#include "editor/themed_icon.h"
#include "engine/picture/entry_pipeline.h"
#include "engine/recording/recording_id.h"
#include "panel/status_line.h"
#include "support/icon_text.h"
#include "support/local_servers.h"
#include "support/log_capture.h"
#include "support/message_box_driver.h"
#include "support/panel_fixture.h"
#include "support/stream_harness.h"
#include "support/tcp_gate.h"
#include "support/test_host.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

const QString kLiveStyle = QStringLiteral("color: #3fb950; font-weight: bold;");

EntryConfig namedEntry(const QString& id, const QString& name, const QString& source,
                       const QList<DestConfig>& destinations) {
    EntryConfig entry = entrySending(source, 640, 360, destinations);
    entry.id = id;
    entry.nombre = name;
    entry.videoKbps = 800;
    return entry;
}

bool liveWithRate(const SalidasPanel& panel, const QString& destinationId) {
    static const QRegularExpression pattern(QString::fromUtf8(
        "^● EN EMISIÓN · \\d+\\.\\d Mbps(?: · \\d+:\\d\\d:\\d\\d)?(?: · [0-9.]+ [MG]B)?$"));
    return pattern.match(statusTextOf(panel, destinationId)).hasMatch();
}

QToolButton* cardButton(const SalidasPanel& panel, const QString& entryId, const QString& text) {
    QWidget* card = panel.switchRow(entryId) ? panel.switchRow(entryId)->parentWidget() : nullptr;
    if (!card)
        return nullptr;
    for (QToolButton* button : card->findChildren<QToolButton*>()) {
        if (shownText(button) == text)
            return button;
    }
    return nullptr;
}

// The next question the panel asks is answered with the button `answer`; its text goes to
// `asked`.
void answerNextQuestion(const QString& answer, QString* asked) {
    whenMessageBoxOpens([answer, asked](QMessageBox* box) {
        *asked = box->text();
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == answer)
                button->click();
        }
    });
}

// The plug-in's own log lines (the host's outputs log lines of their own).
QStringList pluginLines(const LogCapture& log, int level) {
    return log.linesAt(level).filter(QRegularExpression(QStringLiteral("^\\[relaycast\\] ")));
}

class PanelStreaming : public testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(rtmp.start(&error)) << error.toStdString();
        addToScene(sceneA, colourA);
        addToScene(sceneB, colourB);
    }

    RtmpServer rtmp;
    OBSSceneAutoRelease sceneA = createScene("emision-a");
    OBSSceneAutoRelease sceneB = createScene("emision-b");
    OBSSourceAutoRelease colourA = createColorSource("color-a", kOpaqueRed, 640, 360);
    OBSSourceAutoRelease colourB = createColorSource("color-b", kOpaqueBlue, 640, 360);
};

TEST_F(PanelStreaming, ButtonAndStatusFollowAWholeStartAndStop) {
    LogCapture log;
    PanelWorld world;
    world.entries().append(namedEntry("e1", QStringLiteral("Programa"), QStringLiteral("emision-a"),
                                      {destination("d1", rtmp.url(), "clave-secreta-1")}));
    auto panel = world.openPanel();
    EXPECT_EQ(statusTextOf(*panel, "d1"), QStringLiteral("Parado"));
    EXPECT_EQ(statusStyleOf(*panel, "d1"), QString());
    EXPECT_TRUE(panel->switchRow("e1")->isHidden());

    clickDestination(*panel, "d1");
    // The repaint runs right after the start, before the server has answered.
    EXPECT_EQ(statusTextOf(*panel, "d1"), QString::fromUtf8("Conectando…"));
    EXPECT_EQ(statusStyleOf(*panel, "d1"), QStringLiteral("color: #e0a030;"));
    QPushButton* button = panel->destinationButton("d1");
    EXPECT_EQ(shownText(button), QString::fromUtf8("■ Cancelar"));
    EXPECT_EQ(button->styleSheet(), QString::fromUtf8(kActiveButtonStyle));
    EXPECT_TRUE(button->property("running").toBool());
    EXPECT_TRUE(panel->noticeLine()->isHidden());

    ASSERT_TRUE(pumpUntil([&] { return liveWithRate(*panel, "d1"); }, 30s))
        << statusTextOf(*panel, "d1").toStdString();
    EXPECT_EQ(statusStyleOf(*panel, "d1"), kLiveStyle);
    EXPECT_EQ(shownText(button), QString::fromUtf8("■ Parar"));
    EXPECT_EQ(button->styleSheet(), QString::fromUtf8(kActiveButtonStyle));

    // "Emite ahora:" shows what the entry sends, among every scene and source of the host.
    QWidget* row = panel->switchRow("e1");
    QComboBox* combo = panel->switchCombo("e1");
    EXPECT_FALSE(row->isHidden());
    EXPECT_EQ(combo->currentData().toString(), QStringLiteral("emision-a"));
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << shownItemText(combo, i);
    EXPECT_TRUE(items.contains(QString::fromUtf8("🎬 emision-b")));
    EXPECT_TRUE(items.contains(QString::fromUtf8("🎥 color-a")));
    EXPECT_FALSE(items.contains(QString::fromUtf8("🎥 emision-a"))) << "scenes are not sources";

    QTest::mouseClick(button, Qt::LeftButton);
    // The host reports the stop before its output is inactive; the heartbeat then removes it.
    ASSERT_TRUE(pumpUntil([&] {
        return !panel->isEntryLive("e1") && statusTextOf(*panel, "d1") == QStringLiteral("Parado");
    })) << statusTextOf(*panel, "d1").toStdString();
    EXPECT_EQ(statusStyleOf(*panel, "d1"), QString());
    EXPECT_EQ(shownText(button), QString::fromUtf8("▶ Emitir"));
    EXPECT_EQ(button->styleSheet(), QString::fromUtf8(kIdleButtonStyle));
    EXPECT_FALSE(button->property("running").toBool());
    EXPECT_TRUE(row->isHidden());
    EXPECT_TRUE(panel->noticeLine()->isHidden());
    ASSERT_NE(panel->runtimeOf("e1"), nullptr);
    EXPECT_EQ(panel->runtimeOf("e1")->pipeline, nullptr) << "the last stop releases the pipeline";
    EXPECT_EQ(countPluginHostObjects(), 0);
    EXPECT_EQ(pluginLines(log, LOG_WARNING), QStringList());
    for (const QString& line : log.lines())
        EXPECT_FALSE(line.contains(QStringLiteral("clave-secreta-1"))) << line.toStdString();
}

TEST_F(PanelStreaming, SwitchRowChangesWhatIsSentWithoutACutAndLeavesAFocusedComboAlone) {
    PanelWorld world;
    world.entries().append(namedEntry("e1", QStringLiteral("Cambios"), QStringLiteral("emision-a"),
                                      {destination("d1", rtmp.url(), "cambios")}));
    auto panel = world.openPanel();
    clickDestination(*panel, "d1");
    ASSERT_TRUE(pumpUntil([&] { return liveWithRate(*panel, "d1"); }, 30s));

    QComboBox* combo = panel->switchCombo("e1");
    combo->setFocus();
    ASSERT_TRUE(pumpUntil([&] { return combo->hasFocus(); }, 5s));
    const int target = combo->findData(QStringLiteral("emision-b"));
    ASSERT_GE(target, 0);
    // The keyboard walks the list; every step is a choice of the user.
    while (combo->currentIndex() != target)
        QTest::keyClick(combo, combo->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
    const EntryRuntime* runtime = panel->runtimeOf("e1");
    EXPECT_EQ(runtime->pipeline->sourceName, QByteArray("emision-b"));

    // Something else switches it back while the user holds the combo: the selection stays.
    panel->switchEntrySource("e1", QStringLiteral("emision-a"));
    pumpFor(1200ms);
    EXPECT_EQ(runtime->pipeline->sourceName, QByteArray("emision-a"));
    EXPECT_EQ(combo->currentData().toString(), QStringLiteral("emision-b"));
    combo->clearFocus();
    EXPECT_TRUE(pumpUntil(
        [&] { return combo->currentData().toString() == QStringLiteral("emision-a"); }, 5s));

    EXPECT_TRUE(liveWithRate(*panel, "d1")) << statusTextOf(*panel, "d1").toStdString();
    EXPECT_EQ(panel->controller().destinationStatus("e1", "d1").cuts, 0);
    EXPECT_TRUE(panel->noticeLine()->isHidden());
}

TEST_F(PanelStreaming, RefusedStartsAndMissingSourcesAreNoticedAndLoggedWithoutKeys) {
    LogCapture log;
    OBSSourceAutoRelease doomed = createColorSource("fuente-borrada", kOpaqueWhite, 320, 180);
    ASSERT_TRUE(removeSource(doomed));

    PanelWorld world;
    EntryConfig refused = namedEntry("e1", QStringLiteral("Rechazada"), QStringLiteral("emision-a"),
                                     {destination("d1", rtmp.url(), "clave-rechazada")});
    refused.codificador = QStringLiteral("codificador_inexistente");
    EntryConfig gone = namedEntry("e2", QString(), QStringLiteral("fuente-borrada"),
                                  {destination("d2", rtmp.url(), "clave-borrada")});
    world.entries() << refused << gone;
    auto panel = world.openPanel();

    clickDestination(*panel, "d1");
    const QString engineMessage = QString::fromUtf8(
        "No se pudo crear el codificador de vídeo «codificador_inexistente». Prueba con el "
        "codificador por CPU (x264).");
    const QString refusal = QStringLiteral("No se pudo emitir: ") + engineMessage;
    EXPECT_EQ(panel->noticeLine()->text(), refusal);
    EXPECT_FALSE(panel->noticeLine()->isHidden());
    EXPECT_EQ(panel->noticeLine()->styleSheet(), QStringLiteral("color: #e0524d;"));
    // No output was left: the card shows the failure the engine kept, with a start button.
    EXPECT_EQ(statusTextOf(*panel, "d1"), QString::fromUtf8("⚠ ") + engineMessage);
    EXPECT_EQ(statusStyleOf(*panel, "d1"), QStringLiteral("color: #e0524d;"));
    EXPECT_EQ(buttonTextOf(*panel, "d1"), QString::fromUtf8("▶ Emitir"));
    EXPECT_FALSE(panel->isEntryLive("e1"));
    EXPECT_TRUE(pluginLines(log, LOG_WARNING).contains(QStringLiteral("[relaycast] ") + refusal));

    clickDestination(*panel, "d2");
    const QString missing = QString::fromUtf8(
        "«fuente-borrada» ya no existe en OBS. Cámbiala con «✎ Editar» o bórrala.");
    // The line names the edit button as it reads, without its sign; the log keeps the text.
    EXPECT_EQ(panel->noticeLine()->text(), withoutSigns(missing));
    EXPECT_EQ(panel->noticeLine()->styleSheet(), QStringLiteral("color: #e0524d;"));
    EXPECT_FALSE(panel->isEntryLive("e2"));
    EXPECT_EQ(statusTextOf(*panel, "d2"), QStringLiteral("Parado"));
    EXPECT_TRUE(pluginLines(log, LOG_WARNING).contains(QStringLiteral("[relaycast] ") + missing));

    // An address inside an error notice is shown whole but logged without its query.
    const QString withAddress = QStringLiteral(
        "Fallo en srt://127.0.0.1:9000?passphrase=secreto-srt&latency=200 tras el corte");
    panel->showNotice(withAddress, true);
    EXPECT_EQ(panel->noticeLine()->text(), withAddress);
    EXPECT_TRUE(pluginLines(log, LOG_WARNING)
                    .contains(QString::fromUtf8(
                        "[relaycast] Fallo en srt://127.0.0.1:9000?… tras el corte")));

    for (const QString& line : log.lines()) {
        EXPECT_FALSE(line.contains(QStringLiteral("secreto-srt"))) << line.toStdString();
        EXPECT_FALSE(line.contains(QStringLiteral("clave-rechazada"))) << line.toStdString();
        EXPECT_FALSE(line.contains(QStringLiteral("clave-borrada"))) << line.toStdString();
    }
}

// Two live destinations, one on a path that takes 400 kbit/s: the header says what they need
// and, once that path is congested, what the upload carried; a third start asks first.
TEST_F(PanelStreaming, TheHeaderTellsTheUploadAndAStartBeyondWhatItCarriedAsksFirst) {
    TcpGate path(rtmp.port());
    ASSERT_TRUE(path.start());
    PanelWorld world;
    world.entries().append(namedEntry(
        "e1", QStringLiteral("Subida"), QStringLiteral("emision-a"),
        {destination("lento", QStringLiteral("rtmp://127.0.0.1:%1/live").arg(path.port()), "l"),
         destination("rapido", rtmp.url(), "r"), destination("tercero", rtmp.url(), "t")}));
    auto panel = world.openPanel();
    EXPECT_TRUE(panel->uploadLine()->isHidden());
    clickDestination(*panel, "lento");
    clickDestination(*panel, "rapido");
    ASSERT_TRUE(pumpUntil(
        [&] { return liveWithRate(*panel, "lento") && liveWithRate(*panel, "rapido"); }, 30s));
    const QString needs = panel->uploadLine()->text();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Subida: necesita \\d+\\.\\d Mbps$"))
                    .match(needs)
                    .hasMatch())
        << needs.toStdString();

    path.setUpstreamLimit(400000);
    const QRegularExpression carried(
        QString::fromUtf8("^Subida: necesita \\d+\\.\\d Mbps · llevó como máximo \\d+\\.\\d$"));
    ASSERT_TRUE(
        pumpUntil([&] { return carried.match(panel->uploadLine()->text()).hasMatch(); }, 20s))
        << panel->uploadLine()->text().toStdString();
    std::printf("%s\n", panel->uploadLine()->text().toUtf8().constData());
    const UploadBudget& upload = world.controller.upload();
    EXPECT_LT(upload.carriedKbps(), upload.neededKbps());
    EXPECT_EQ(panel->uploadLine()->styleSheet(), QStringLiteral("color: #e0a030;"));

    QString asked;
    answerNextQuestion(QStringLiteral("Cancelar"), &asked);
    clickDestination(*panel, "tercero");
    EXPECT_TRUE(asked.startsWith(QStringLiteral("Con esto la subida necesitaría")))
        << asked.toStdString();
    EXPECT_FALSE(world.controller.hasOutput("e1", "tercero")) << "started although cancelled";
    answerNextQuestion(QStringLiteral("Sí, empezar"), &asked);
    clickDestination(*panel, "tercero");
    EXPECT_TRUE(world.controller.hasOutput("e1", "tercero")) << "not started when asked to";
    world.controller.stopEntry("e1");
    ASSERT_TRUE(pumpUntil([&] { return !panel->isEntryLive("e1"); }, 20s));
}

TEST_F(PanelStreaming, DeletingAnIdleEntryAsksThePlainQuestionAndCancelKeepsIt) {
    PanelWorld world;
    world.entries().append(namedEntry("e1", QStringLiteral("Quieta"), QStringLiteral("emision-a"),
                                      {destination("d1", rtmp.url(), "quieta")}));
    auto panel = world.openPanel();
    QString asked;
    answerNextQuestion(QStringLiteral("Cancelar"), &asked);
    QTest::mouseClick(cardButton(*panel, "e1", QString::fromUtf8("🗑")), Qt::LeftButton);
    EXPECT_EQ(asked, QString::fromUtf8("¿Borrar esta entrada y todos sus destinos?"));
    EXPECT_EQ(world.entries().size(), 1);
    EXPECT_NE(panel->destinationStatusLabel("d1"), nullptr);
}

TEST_F(PanelStreaming, DeletingALiveEntryRemovesItsCardAtOnceAndItsRuntimeOnceTheOutputsEnded) {
    PanelWorld world;
    world.entries().append(namedEntry("e1", QStringLiteral("Borrable"), QStringLiteral("emision-a"),
                                      {destination("d1", rtmp.url(), "borrable")}));
    world.entries().append(namedEntry("e2", QStringLiteral("Otra"), QStringLiteral("emision-b"),
                                      {destination("d2", rtmp.url(), "otra")}));
    auto panel = world.openPanel();
    clickDestination(*panel, "d1");
    ASSERT_TRUE(pumpUntil([&] { return liveWithRate(*panel, "d1"); }, 30s));
    QPointer<QWidget> card = panel->switchRow("e1")->parentWidget();

    QString title;
    QString asked;
    whenMessageBoxOpens([&](QMessageBox* box) {
        title = box->windowTitle();
        asked = box->text();
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == QString::fromUtf8("Sí, borrar"))
                button->click();
        }
    });
    QTest::mouseClick(cardButton(*panel, "e1", QString::fromUtf8("🗑")), Qt::LeftButton);

    EXPECT_EQ(title, QStringLiteral("Borrar entrada"));
    EXPECT_EQ(asked, QString::fromUtf8("Esta entrada está emitiendo ahora mismo. Si la borras, se "
                                       "detendrán sus emisiones.\n\n¿Borrarla?"));
    // The card is gone at once; the other entry's card is rebuilt.
    EXPECT_TRUE(card.isNull() || card->isHidden());
    EXPECT_EQ(panel->destinationStatusLabel("d1"), nullptr);
    EXPECT_EQ(statusTextOf(*panel, "d2"), QStringLiteral("Parado"));
    ASSERT_EQ(world.entries().size(), 1);
    EXPECT_EQ(world.entries().front().id, QStringLiteral("e2"));
    QFile saved(world.store.path());
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_FALSE(saved.readAll().contains("Borrable"));

    // Its outputs close in the background, then the heartbeat destroys the runtime.
    EXPECT_EQ(panel->runtimeOf("e1"), nullptr);
    EXPECT_EQ(panel->retiringRuntimeCount(), 1);
    EXPECT_TRUE(pumpUntil([&] { return panel->retiringRuntimeCount() == 0; }, 20s));
    EXPECT_EQ(countPluginHostObjects(), 0);
    EXPECT_TRUE(panel->noticeLine()->isHidden());
}

TEST_F(PanelStreaming, TheRecordRowWritesAFileBesideALiveStreamAndAMissingFolderSaysSo) {
    LogCapture log;
    PanelWorld world;
    const QString folder = world.dir.filePath(QStringLiteral("grabaciones"));
    ASSERT_TRUE(QDir().mkpath(folder));
    EntryConfig recorded = namedEntry("e1", QStringLiteral("Vertical"), QStringLiteral("emision-a"),
                                      {destination("d1", rtmp.url(), "con-grabacion")});
    recorded.grabacion.carpeta = folder;
    EntryConfig lost = namedEntry("e2", QStringLiteral("Sin carpeta"), QStringLiteral("emision-b"),
                                  {destination("d2", rtmp.url(), "sin-carpeta")});
    lost.grabacion.carpeta = world.dir.filePath(QStringLiteral("no-existe"));
    world.entries() << recorded << lost;
    auto panel = world.openPanel();
    const QString recording = recordingIdOf("e1");
    EXPECT_EQ(statusTextOf(*panel, recording), QStringLiteral("Parado"));
    EXPECT_EQ(buttonTextOf(*panel, recording), QString::fromUtf8("▶ Grabar"));
    EXPECT_EQ(panel->recordingPlaceLabel("e1")->fullText, folder);

    clickDestination(*panel, "d1");
    ASSERT_TRUE(pumpUntil([&] { return liveWithRate(*panel, "d1"); }, 30s));
    clickDestination(*panel, recording);
    static const QRegularExpression recordingLine(
        QString::fromUtf8("^● Grabando \\d+:\\d\\d:\\d\\d · [0-9.]+ MB$"));
    ASSERT_TRUE(pumpUntil(
        [&] { return recordingLine.match(statusTextOf(*panel, recording)).hasMatch(); }, 30s))
        << statusTextOf(*panel, recording).toStdString();
    EXPECT_EQ(statusStyleOf(*panel, recording), kLiveStyle);
    EXPECT_EQ(buttonTextOf(*panel, recording), QString::fromUtf8("■ Parar"));
    // The row names the file being written; its tooltip has the whole path.
    const QStringList files = QDir(folder).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files.front().endsWith(QStringLiteral(" Vertical.mkv")))
        << files.front().toStdString();
    EXPECT_EQ(panel->recordingPlaceLabel("e1")->fullText, files.front());
    EXPECT_EQ(panel->recordingPlaceLabel("e1")->toolTip(),
              QDir::toNativeSeparators(QDir(folder).filePath(files.front())));
    EXPECT_TRUE(liveWithRate(*panel, "d1"));

    clickDestination(*panel, recording);
    ASSERT_TRUE(pumpUntil([&] {
        return statusTextOf(*panel, recording) == QStringLiteral("Parado");
    })) << statusTextOf(*panel, recording).toStdString();
    EXPECT_EQ(buttonTextOf(*panel, recording), QString::fromUtf8("▶ Grabar"));
    EXPECT_EQ(panel->recordingPlaceLabel("e1")->fullText, files.front()) << "the last file stays";
    EXPECT_TRUE(liveWithRate(*panel, "d1")) << "the stream goes on";

    // A folder that is gone: the notice says why, the row keeps it, nothing runs.
    clickDestination(*panel, recordingIdOf("e2"));
    const QString why =
        QString::fromUtf8("La carpeta de grabación «%1» no existe.").arg(lost.grabacion.carpeta);
    EXPECT_EQ(panel->noticeLine()->text(), QStringLiteral("No se pudo grabar: ") + why);
    EXPECT_EQ(statusTextOf(*panel, recordingIdOf("e2")), QString::fromUtf8("⚠ ") + why);
    EXPECT_EQ(statusStyleOf(*panel, recordingIdOf("e2")), QStringLiteral("color: #e0524d;"));
    EXPECT_EQ(buttonTextOf(*panel, recordingIdOf("e2")), QString::fromUtf8("▶ Grabar"));
    EXPECT_FALSE(panel->isEntryLive("e2"));

    clickDestination(*panel, "d1");
    ASSERT_TRUE(pumpUntil([&] { return !panel->isEntryLive("e1"); }, 20s));
    EXPECT_TRUE(pluginLines(log, LOG_WARNING)
                    .contains(QStringLiteral("[relaycast] No se pudo grabar: ") + why));
}

} // namespace
