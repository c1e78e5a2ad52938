// Adding and editing entries from the panel through the entry dialog, on the real host with a
// local RTMP server: what is stored and saved, profiles kept after a cancel, a live edit
// reaching the running stream without a cut, and entries that change state while their
// dialog is open.

#include "config/config_store.h"
#include "editor/dest_row_widget.h"
#include "editor/entry_dialog.h"
#include "editor/input_widgets.h"
#include "editor/recording_box.h"
#include "engine/picture/entry_pipeline.h"
#include "support/child_process.h"
#include "support/local_servers.h"
#include "support/media_probe.h"
#include "support/modal_dialog_driver.h"
#include "support/panel_fixture.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <obs.hpp>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

const QString kAppliedNotice = QString::fromUtf8(
    "Cambios guardados. Se aplican a la emisión en marcha lo que admite el codificador; el "
    "resto, al volver a emitir.");

// Runs `act` on the entry dialog once the panel has opened it.
std::shared_ptr<ModalWatch> whenEntryDialogOpens(std::function<void(EntryDialog*)> act) {
    return whenModalDialogOpens([act](QDialog* d) { act(static_cast<EntryDialog*>(d)); },
                                &EntryDialog::staticMetaObject);
}

void pressOk(EntryDialog* dialog) {
    QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                      Qt::LeftButton);
}

// The settings file as another start of the module would read it.
ConfigStore reread(const PanelWorld& world) {
    ConfigStore store(world.dir.filePath(QStringLiteral("salidas.json")));
    EXPECT_TRUE(store.load());
    return store;
}

int64_t runningSetting(const SalidasPanel& panel, const QString& entryId, const char* name) {
    const EntryRuntime* runtime = panel.runtimeOf(entryId);
    if (!runtime || !runtime->pipeline || !runtime->pipeline->videoEncoder)
        return -1;
    OBSDataAutoRelease settings = obs_encoder_get_settings(runtime->pipeline->videoEncoder);
    return obs_data_get_int(settings, name);
}

bool runningBool(const SalidasPanel& panel, const QString& entryId, const char* name) {
    const EntryRuntime* runtime = panel.runtimeOf(entryId);
    if (!runtime || !runtime->pipeline || !runtime->pipeline->videoEncoder)
        return false;
    OBSDataAutoRelease settings = obs_encoder_get_settings(runtime->pipeline->videoEncoder);
    return obs_data_get_bool(settings, name);
}

bool isLive(SalidasPanel& panel, const QString& entryId, const QString& destinationId) {
    return panel.controller().destinationStatus(entryId, destinationId).state ==
           DestinationState::Live;
}

// Video bitrate of a recorded stream in kbit/s: the bytes of its video packets over the span
// of their timestamps.
double videoKbpsOf(const QString& file) {
    const CommandResult probe =
        runCommand({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                    "packet=pts_time,size", "-of", "csv=p=0", file},
                   30000);
    double first = -1, last = -1;
    qint64 bytes = 0;
    for (const QByteArray& line : probe.out.split('\n')) {
        const QList<QByteArray> fields = line.split(',');
        bool timeOk = false, sizeOk = false;
        const double pts = fields.value(0).toDouble(&timeOk);
        const qint64 size = fields.value(1).trimmed().toLongLong(&sizeOk);
        if (!timeOk || !sizeOk)
            continue;
        if (first < 0)
            first = pts;
        last = pts;
        bytes += size;
    }
    return last > first ? bytes * 8.0 / 1000.0 / (last - first) : 0;
}

class PanelEntryEditing : public testing::Test {
protected:
    void SetUp() override { addToScene(scene, colour); }

    PanelWorld world;
    OBSSceneAutoRelease scene = createScene("edicion-escena");
    OBSSceneAutoRelease other = createScene("edicion-otra");
    OBSSourceAutoRelease colour = createColorSource("edicion-color", kOpaqueGreen, 640, 360);
};

class PanelLiveEditing : public PanelEntryEditing {
protected:
    void SetUp() override {
        PanelEntryEditing::SetUp();
        QString error;
        ASSERT_TRUE(rtmp.start(&error)) << error.toStdString();
    }
    // The streams end while their server still runs.
    void TearDown() override { world.controller.shutdown(); }

    // An entry "e1" streaming to the local server as destination "d1", plus `extra`
    // destinations that are not started.
    std::unique_ptr<SalidasPanel> openStreaming(int videoKbps,
                                                const QList<DestConfig>& extra = {}) {
        EntryConfig entry =
            entrySending("edicion-escena", 640, 360,
                         QList<DestConfig>{destination("d1", rtmp.url(), "edit")} + extra);
        entry.id = "e1";
        entry.nombre = "Antes";
        entry.videoKbps = videoKbps;
        world.entries().append(entry);
        auto panel = world.openPanel();
        clickDestination(*panel, "d1");
        EXPECT_TRUE(pumpUntil([&] { return isLive(*panel, "e1", "d1"); }, 30s));
        return panel;
    }

    RtmpServer rtmp;
};

TEST_F(PanelEntryEditing, CancellingTheAddDialogAfterSavingAProfileKeepsTheProfileOnly) {
    auto panel = world.openPanel();
    auto watch = whenEntryDialogOpens([](EntryDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Añadir entrada");
        EXPECT_FALSE(dialog->isLiveLocked());
        dialog->videoKbpsSpin()->setValue(6000);
        auto naming = whenModalDialogOpens(
            [](QDialog* input) {
                static_cast<QInputDialog*>(input)->setTextValue("Directo");
                input->accept();
            },
            &QInputDialog::staticMetaObject);
        QTest::mouseClick(dialog->saveProfileButton(), Qt::LeftButton);
        EXPECT_TRUE(naming->acted());
        EXPECT_TRUE(dialog->profilesChanged());
        dialog->reject();
    });
    panel->addEntry();
    EXPECT_TRUE(watch->acted());

    EXPECT_TRUE(world.entries().isEmpty());
    ASSERT_EQ(world.store.profiles().size(), 1);
    EXPECT_EQ(world.store.profiles()[0].nombre, "Directo");
    EXPECT_EQ(world.store.profiles()[0].videoKbps, 6000);
    ConfigStore savedStore = reread(world);
    ASSERT_EQ(savedStore.profiles().size(), 1);
    EXPECT_EQ(savedStore.profiles()[0].nombre, "Directo");
    EXPECT_TRUE(savedStore.entriesOf(world.frontend.currentSceneCollection()).isEmpty());
}

TEST_F(PanelEntryEditing, AnAcceptedAddIsAppendedSavedAndGetsItsCard) {
    world.entries().append(entrySending("edicion-otra", 0, 0, {}));
    world.entries()[0].id = "existente";
    auto panel = world.openPanel();
    auto watch = whenEntryDialogOpens([](EntryDialog* dialog) {
        dialog->sourceCombo()->setCurrentIndex(dialog->sourceCombo()->findData("edicion-escena"));
        dialog->nameEdit()->setText("Nueva");
        dialog->destRows()[0]->addressEdit()->setText("rtmp://127.0.0.1:1/live");
        dialog->destRows()[0]->keyEdit()->setText("k");
        pressOk(dialog);
    });
    panel->addEntry();
    EXPECT_TRUE(watch->acted());

    ASSERT_EQ(world.entries().size(), 2);
    const EntryConfig added = world.entries()[1];
    EXPECT_EQ(added.nombre, "Nueva");
    EXPECT_EQ(added.fuente, "edicion-escena");
    EXPECT_EQ(added.codificador, "obs_x264");
    ASSERT_EQ(added.destinos.size(), 1);
    EXPECT_NE(panel->destinationButton(added.destinos[0].id), nullptr) << "the card was built";
    ConfigStore saved = reread(world);
    EXPECT_EQ(saved.entriesOf(world.frontend.currentSceneCollection()).value(1), added);
}

TEST_F(PanelEntryEditing, EditingAnIdleEntryReplacesItWhole) {
    EntryConfig entry = entrySending("edicion-escena", 0, 0, {destination("d1", "rtmp://h/live")});
    entry.id = "e1";
    world.entries().append(entry);
    auto panel = world.openPanel();
    auto watch = whenEntryDialogOpens([](EntryDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Editar entrada");
        EXPECT_FALSE(dialog->isLiveLocked());
        dialog->sourceCombo()->setCurrentIndex(dialog->sourceCombo()->findData("edicion-otra"));
        dialog->sizeCombo()->setCurrentIndex(2);
        dialog->destRows()[0]->addressEdit()->setText("rtmp://otro/live");
        dialog->addDestRow(destination("", "srt://h:9000"));
        pressOk(dialog);
    });
    panel->editEntry("e1");
    EXPECT_TRUE(watch->acted());

    ASSERT_EQ(world.entries().size(), 1);
    const EntryConfig& edited = world.entries()[0];
    EXPECT_EQ(edited.id, "e1");
    EXPECT_EQ(edited.fuente, "edicion-otra");
    EXPECT_EQ(edited.ancho, 1280);
    ASSERT_EQ(edited.destinos.size(), 2);
    EXPECT_EQ(edited.destinos[0].id, "d1");
    EXPECT_EQ(edited.destinos[0].url, "rtmp://otro/live");
    EXPECT_NE(panel->destinationButton(edited.destinos[1].id), nullptr);
    EXPECT_EQ(reread(world).entriesOf(world.frontend.currentSceneCollection()).value(0), edited);
    EXPECT_TRUE(panel->noticeLine()->isHidden());
}

TEST_F(PanelEntryEditing, AnEntryDeletedWhileItsDialogIsOpenIsNotStoredAgain) {
    EntryConfig entry = entrySending("edicion-escena", 0, 0, {});
    entry.id = "e1";
    world.entries().append(entry);
    auto panel = world.openPanel();
    auto watch = whenEntryDialogOpens([this](EntryDialog* dialog) {
        world.entries().clear();
        dialog->nameEdit()->setText("Fantasma");
        pressOk(dialog);
    });
    panel->editEntry("e1");
    EXPECT_TRUE(watch->acted());
    EXPECT_TRUE(world.entries().isEmpty());
    EXPECT_EQ(panel->noticeLine()->text(),
              "La entrada se borró mientras la editabas; tus cambios no se guardaron.");

    auto none = whenEntryDialogOpens([](EntryDialog* dialog) { dialog->reject(); });
    panel->editEntry("e1");
    none->stop();
    EXPECT_FALSE(none->acted()) << "no dialog for an unknown entry";
}

TEST_F(PanelLiveEditing, ALiveEditAppliesTheDelayAndEncoderSettingsAndChangesOnlyTheLiveFields) {
    auto panel = openStreaming(900);
    ASSERT_FALSE(runningBool(*panel, "e1", "repeat_headers"));
    // An SRT destination that has not been started yet: its encoder needs repeated headers.
    world.entries()[0].destinos.append(destination("d2", "srt://127.0.0.1:9", "id", "frase"));
    const EntryConfig before = world.entries()[0];

    auto watch = whenEntryDialogOpens([](EntryDialog* dialog) {
        EXPECT_TRUE(dialog->isLiveLocked());
        dialog->nameEdit()->setText("Después");
        dialog->videoKbpsSpin()->setValue(1200);
        dialog->audioDelaySpin()->setValue(1000);
        pressOk(dialog);
    });
    panel->editEntry("e1");
    EXPECT_TRUE(watch->acted());

    EntryConfig expected = before;
    expected.nombre = "Después";
    expected.videoKbps = 1200;
    expected.retrasoAudioMs = 1000;
    expected.ajustesCodificador = world.entries()[0].ajustesCodificador;
    EXPECT_EQ(world.entries()[0], expected);
    EXPECT_EQ(QJsonDocument::fromJson(expected.ajustesCodificador.toUtf8())
                  .object()
                  .value("bitrate")
                  .toInt(),
              1200)
        << expected.ajustesCodificador.toStdString();
    EXPECT_EQ(reread(world).entriesOf(world.frontend.currentSceneCollection()).value(0), expected);

    const EntryRuntime* runtime = panel->runtimeOf("e1");
    ASSERT_TRUE(runtime && runtime->pipeline);
    EXPECT_EQ(runtime->pipeline->audioTrack.delaySamples(), 48000);
    EXPECT_EQ(runningSetting(*panel, "e1", "bitrate"), 1200);
    EXPECT_TRUE(runningBool(*panel, "e1", "repeat_headers"));
    EXPECT_FALSE(panel->noticeLine()->isHidden());
    EXPECT_EQ(panel->noticeLine()->text(), kAppliedNotice);
    EXPECT_TRUE(isLive(*panel, "e1", "d1"));

    // A name-only edit still re-applies the settings and says so.
    panel->showNotice({}, false);
    auto nameOnly = whenEntryDialogOpens([](EntryDialog* dialog) {
        dialog->nameEdit()->setText("Otra vez");
        pressOk(dialog);
    });
    panel->editEntry("e1");
    EXPECT_TRUE(nameOnly->acted());
    EXPECT_EQ(world.entries()[0].nombre, "Otra vez");
    EXPECT_EQ(panel->noticeLine()->text(), kAppliedNotice);
    EXPECT_EQ(runningSetting(*panel, "e1", "bitrate"), 1200);
}

TEST_F(PanelLiveEditing, ALiveBitrateEditChangesWhatTheServerReceivesWithoutAReconnect) {
    auto panel = openStreaming(3000);
    const EntryRuntime* runtime = panel->runtimeOf("e1");
    ASSERT_TRUE(runtime && runtime->outputs.count("d1"));
    OutputSignalCounter signals(hostOutputOf(*runtime->outputs.at("d1")));

    StreamRecorder high;
    ASSERT_TRUE(high.start(rtmp.playUrl("edit")));
    pumpFor(6s);
    high.stop();

    auto watch = whenEntryDialogOpens([](EntryDialog* dialog) {
        dialog->videoKbpsSpin()->setValue(600);
        pressOk(dialog);
    });
    panel->editEntry("e1");
    ASSERT_TRUE(watch->acted());
    pumpFor(1s);

    StreamRecorder low;
    ASSERT_TRUE(low.start(rtmp.playUrl("edit")));
    pumpFor(6s);
    low.stop();

    const double before = videoKbpsOf(high.path());
    const double after = videoKbpsOf(low.path());
    RecordProperty("kbpsBefore", static_cast<int>(before));
    RecordProperty("kbpsAfter", static_cast<int>(after));
    EXPECT_GT(before, 2000) << high.log().toStdString();
    EXPECT_GT(after, 100) << low.log().toStdString();
    EXPECT_LT(after, 1000) << "before " << before;
    EXPECT_EQ(signals.reconnects.load(), 0);
    EXPECT_EQ(signals.stops.load(), 0);
    EXPECT_TRUE(isLive(*panel, "e1", "d1"));
    EXPECT_EQ(runtime->outputs.size(), 1u);
}

TEST_F(PanelLiveEditing, AnEntryThatStopsWhileItsLiveDialogIsOpenKeepsOnlyTheLiveFields) {
    auto panel = openStreaming(900);
    const EntryConfig before = world.entries()[0];
    auto watch = whenEntryDialogOpens([&panel](EntryDialog* dialog) {
        EXPECT_TRUE(dialog->isLiveLocked());
        panel->toggleDestination("e1", "d1");
        EXPECT_TRUE(pumpUntil([&] { return !panel->isEntryLive("e1"); }, 20s));
        dialog->nameEdit()->setText("Parada");
        dialog->videoKbpsSpin()->setValue(700);
        dialog->audioDelaySpin()->setValue(200);
        // The recording's options apply to the next recording: never locked.
        RecordingBox* recording = dialog->recordingBox();
        EXPECT_TRUE(recording->isEnabled());
        recording->formatCombo()->setCurrentIndex(1);
        recording->folderEdit()->setText("/srv/grabaciones");
        recording->withStreamsCheck()->setChecked(true);
        pressOk(dialog);
    });
    panel->showNotice({}, false);
    panel->editEntry("e1");
    EXPECT_TRUE(watch->acted());

    EntryConfig expected = before;
    expected.nombre = "Parada";
    expected.videoKbps = 700;
    expected.retrasoAudioMs = 200;
    expected.grabacion = {"mp4", "/srv/grabaciones", true};
    expected.ajustesCodificador = world.entries()[0].ajustesCodificador;
    EXPECT_EQ(world.entries()[0], expected);
    EXPECT_NE(panel->noticeLine()->text(), kAppliedNotice);
    EXPECT_TRUE(panel->noticeLine()->isHidden()) << panel->noticeLine()->text().toStdString();
}

TEST_F(PanelLiveEditing, AnEntryThatStartsWhileItsIdleDialogIsOpenTakesItAllAtItsNextStart) {
    // With a change that needs a stop, and with none: either way the entry keeps streaming as it
    // started, and a destination added in the dialog waits for the next start like the rest.
    for (const bool newSize : {true, false}) {
        SCOPED_TRACE(newSize ? "with a new size" : "with nothing that needs a stop");
        world.entries().clear();
        EntryConfig entry = entrySending(
            "edicion-escena", 640, 360,
            {destination("d1", rtmp.url(), "edit"), destination("d2", rtmp.url(), "quitada")});
        entry.id = "e1";
        entry.videoKbps = 900;
        world.entries().append(entry);
        auto panel = world.openPanel();
        auto watch = whenEntryDialogOpens([&panel, newSize, this](EntryDialog* dialog) {
            EXPECT_FALSE(dialog->isLiveLocked());
            panel->toggleDestination("e1", "d1");
            panel->toggleDestination("e1", "d2");
            EXPECT_TRUE(pumpUntil(
                [&] { return isLive(*panel, "e1", "d1") && isLive(*panel, "e1", "d2"); }, 30s));
            if (newSize)
                dialog->sizeCombo()->setCurrentIndex(2);
            dialog->videoKbpsSpin()->setValue(1500);
            dialog->audioDelaySpin()->setValue(500);
            QTest::mouseClick(dialog->destRows()[1]->removeButton(), Qt::LeftButton);
            QTest::mouseClick(dialog->addDestButton(), Qt::LeftButton);
            dialog->destRows().back()->addressEdit()->setText(rtmp.url());
            dialog->destRows().back()->keyEdit()->setText("nueva");
            pressOk(dialog);
        });
        panel->editEntry("e1");
        EXPECT_TRUE(watch->acted());

        const EntryConfig& stored = world.entries()[0];
        EXPECT_EQ(stored.ancho, newSize ? 1280 : 640);
        EXPECT_EQ(stored.videoKbps, 1500);
        ASSERT_EQ(stored.destinos.size(), 2);
        const QString added = stored.destinos[1].id;
        // Nothing reaches the stream that started with the old settings, nothing streams that
        // the settings no longer hold, and nothing starts that the user did not start.
        EXPECT_EQ(runningSetting(*panel, "e1", "bitrate"), 900);
        EXPECT_EQ(panel->runtimeOf("e1")->pipeline->audioTrack.delaySamples(), 0);
        EXPECT_FALSE(world.controller.hasOutput("e1", added)) << "the added destination started";
        EXPECT_TRUE(pumpUntil([&] { return !world.controller.hasOutput("e1", "d2"); }, 20s));
        EXPECT_TRUE(isLive(*panel, "e1", "d1"));
        EXPECT_EQ(panel->noticeLine()->text(),
                  "Cambios guardados. La entrada empezó a emitir mientras la editabas: se "
                  "aplican al volver a emitir.");
        world.controller.stopAll();
        EXPECT_TRUE(pumpUntil([&] { return !panel->isEntryLive("e1"); }, 20s));
    }
}

} // namespace
