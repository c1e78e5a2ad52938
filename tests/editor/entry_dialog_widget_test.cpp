// The entry dialog on the real host (Spanish interface): layout, the source list, the OK
// checks, sizes, codecs and the entry it hands back, "Mostrar claves", the entry's own relay,
// and the scene equivalence rows.
#include "editor/entry_dialog.h"

#include "editor/dest_row_widget.h"
#include "editor/encoder_form.h"
#include "editor/input_widgets.h"
#include "editor/recording_box.h"
#include "editor/relay_box.h"
#include "editor/ui_helpers.h"
#include "relay/entry_relay.h"
#include "support/fake_frontend.h"
#include "support/icon_text.h"
#include "support/message_box_driver.h"
#include "support/modal_dialog_driver.h"
#include "support/test_host.h"

#include <obs.hpp>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <vector>

// Readable failure output for Qt texts and scene matches.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QMap<QString, QString>& map, std::ostream* out) {
    *out << '{';
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        *out << ' ' << it.key().toStdString() << " -> " << it.value().toStdString() << ';';
    *out << " }";
}

using namespace relaycast;

namespace {

// Scenes and input sources of the host for one test, removed again at its end.
class HostContent {
public:
    HostContent() = default;
    ~HostContent() {
        for (OBSSceneAutoRelease& scene : scenes_)
            obs_source_remove(obs_scene_get_source(scene));
        for (OBSSourceAutoRelease& input : inputs_)
            obs_source_remove(input);
    }
    HostContent(const HostContent&) = delete;
    HostContent& operator=(const HostContent&) = delete;

    void scene(const char* name) { scenes_.push_back(test::createScene(name)); }
    void input(const char* name) {
        inputs_.push_back(test::createColorSource(name, test::kOpaqueBlue, 64, 64));
    }

private:
    std::vector<OBSSceneAutoRelease> scenes_;
    std::vector<OBSSourceAutoRelease> inputs_;
};

// The standard host content: two scenes and one camera.
struct StudioFixture : ::testing::Test {
    StudioFixture() {
        content.scene("Plató");
        content.scene("Entrevista");
        content.input("Cámara 1");
    }
    test::FakeFrontend frontend;
    HostContent content;
};

EntryConfig newEntry() {
    return EntryConfig{};
}

EntryConfig storedEntry() {
    EntryConfig entry;
    entry.id = "e-1";
    entry.fuente = "Plató";
    entry.nombre = "Principal";
    entry.destinos = {{"d-1", "rtmp://servidor/live", "clave-1", ""}};
    return entry;
}

QString currentShownText(const QComboBox* combo) {
    return test::shownItemText(combo, combo->currentIndex());
}

QStringList itemTexts(const QComboBox* combo) {
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts.append(test::shownItemText(combo, i));
    return texts;
}

QStringList formLabels(QWidget* content) {
    auto* form = content->findChild<QFormLayout*>();
    QStringList labels;
    for (int row = 0; row < form->rowCount(); ++row) {
        QLayoutItem* item = form->itemAt(row, QFormLayout::LabelRole);
        auto* label = item ? qobject_cast<QLabel*>(item->widget()) : nullptr;
        labels.append(label ? label->text() : QStringLiteral("-"));
    }
    return labels;
}

// Presses OK; returns the text of the warning it raised (answered at once), or an empty text.
QString pressOk(EntryDialog& dialog) {
    QString warning;
    QTimer answer;
    answer.setInterval(10);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            warning = box->text();
            box->accept();
        }
    });
    answer.start();
    QTest::mouseClick(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                      Qt::LeftButton);
    return warning;
}

TEST_F(StudioFixture, NewEntryWindowShowsItsRowsInOrderWithTheDefaults) {
    EntryDialog dialog(nullptr, newEntry(), false, false, {});
    EXPECT_EQ(dialog.windowTitle(), "Añadir entrada");
    EXPECT_EQ(dialog.minimumWidth(), 480);
    EXPECT_EQ(dialog.width(), 540);
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    EXPECT_EQ(buttons->button(QDialogButtonBox::Ok)->text(), "Aceptar");
    EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), "Cancelar");
    auto* scroll = dialog.findChild<QScrollArea*>();
    EXPECT_TRUE(scroll->widgetResizable());
    EXPECT_EQ(scroll->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    EXPECT_EQ(formLabels(scroll->widget()),
              QStringList({"Qué quieres emitir:", "Nombre (opcional):", "-", "-", "-",
                           "Codificador de vídeo:", "-", "-", "-",
                           "Calidad de vídeo:", "Calidad de audio:", "Códec de audio:",
                           "Retraso de audio:", "Tamaño de imagen:", "Encuadre:", "Perfil:"}));

    const QStringList sources = itemTexts(dialog.sourceCombo());
    EXPECT_EQ(sources.mid(sources.indexOf("🎬 Escena: Plató"), 2),
              QStringList({"🎬 Escena: Plató", "🎬 Escena: Entrevista"}));
    EXPECT_GT(sources.indexOf("🎥 Fuente: Cámara 1"), sources.indexOf("🎬 Escena: Entrevista"));
    EXPECT_EQ(dialog.sourceCombo()->currentIndex(), 0);

    EXPECT_EQ(dialog.nameEdit()->placeholderText(),
              "Si lo dejas vacío, se usa el nombre de la fuente");
    EXPECT_EQ(dialog.encoderCombo()->currentIndex(), 0);
    EXPECT_EQ(dialog.videoKbpsSpin()->value(), 4000);
    EXPECT_EQ(dialog.videoKbpsSpin()->singleStep(), 500);
    EXPECT_EQ(itemTexts(dialog.audioKbpsCombo()),
              QStringList({"96 kbps", "128 kbps", "160 kbps", "192 kbps", "256 kbps"}));
    EXPECT_EQ(dialog.audioKbpsCombo()->currentText(), "128 kbps");
    EXPECT_EQ(itemTexts(dialog.audioCodecCombo()), QStringList({"aac", "opus"}));
    EXPECT_EQ(dialog.audioCodecCombo()->currentText(), "aac");
    EXPECT_EQ(dialog.audioDelaySpin()->maximum(), 1000);
    EXPECT_EQ(itemTexts(dialog.sizeCombo()),
              QStringList({"Igual que el lienzo de OBS", "1920×1080 (horizontal)",
                           "1280×720 (horizontal)", "1080×1920 (vertical, móviles)",
                           "720×1280 (vertical, móviles)", "1080×1080 (cuadrado)"}));
    EXPECT_EQ(dialog.sizeCombo()->currentIndex(), 0);
    EXPECT_FALSE(dialog.framingCombo()->isEnabled());
    EXPECT_EQ(dialog.advancedToggle()->text(), " Ajustes avanzados del codificador");
    EXPECT_FALSE(dialog.advancedPanel()->isVisibleTo(&dialog));
    EXPECT_FALSE(dialog.matchBox()->isVisibleTo(&dialog));

    ASSERT_EQ(dialog.destRows().size(), 1);
    EXPECT_TRUE(dialog.destRows()[0]->addressEdit()->text().isEmpty());
    EXPECT_EQ(test::shownText(dialog.addDestButton()), "＋ Añadir otro destino");
    EXPECT_FALSE(dialog.showKeysCheck()->isChecked());

    // The recording group: MKV chosen (it survives a crash), OBS's folder, on its own.
    const RecordingBox* recording = dialog.recordingBox();
    EXPECT_EQ(itemTexts(recording->formatCombo()), QStringList({"MKV", "MP4", "FLV"}));
    EXPECT_EQ(recording->formatCombo()->currentIndex(), 0);
    EXPECT_EQ(recording->formatCombo()->itemData(0, Qt::ToolTipRole).toString(),
              "Si OBS se cierra de golpe, lo grabado hasta entonces se puede reproducir.");
    EXPECT_EQ(recording->folderEdit()->placeholderText(), "Carpeta de grabación de OBS");
    EXPECT_EQ(dialog.resultEntry().grabacion, RecordingConfig{});
}

TEST_F(StudioFixture, NewEntryIsHandedBackWithIdsTrimmedAddressesAndSettingsHoldingTheBitrate) {
    EntryDialog dialog(nullptr, newEntry(), false, false, {});
    dialog.show();
    dialog.sourceCombo()->setCurrentIndex(dialog.sourceCombo()->findData("Cámara 1"));
    dialog.nameEdit()->setText("  Cámara de la sala  ");
    dialog.videoKbpsSpin()->setValue(2500);
    dialog.audioDelaySpin()->setValue(120);
    dialog.audioKbpsCombo()->setCurrentIndex(3);
    dialog.audioCodecCombo()->setCurrentIndex(1);
    dialog.sizeCombo()->setCurrentIndex(3);
    dialog.framingCombo()->setCurrentIndex(1);
    dialog.withStreamCheck()->setChecked(true);
    dialog.recordingBox()->formatCombo()->setCurrentIndex(2);
    dialog.recordingBox()->folderEdit()->setText("  /srv/grabaciones  ");
    dialog.recordingBox()->withStreamsCheck()->setChecked(true);
    DestRowWidget* first = dialog.destRows()[0];
    first->addressEdit()->setText("  SRT://h:9000 ");
    first->keyEdit()->setText(" id con espacios ");
    first->passphraseEdit()->setText("frase");
    dialog.addDestRow({});
    DestRowWidget* second = dialog.destRows()[1];
    second->addressEdit()->setText("rtmp://servidor/live");
    second->keyEdit()->setText("clave");
    second->passphraseEdit()->setText("sobra");
    dialog.addDestRow({}); // left empty: neither checked nor saved

    EXPECT_EQ(pressOk(dialog), "");
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    const EntryConfig result = dialog.resultEntry();
    EXPECT_EQ(result.id.size(), 36);
    EXPECT_FALSE(result.id.contains('{'));
    EXPECT_EQ(result.fuente, "Cámara 1");
    EXPECT_EQ(result.nombre, "Cámara de la sala");
    EXPECT_EQ(result.codificador, dialog.encoderCombo()->itemData(0).toString());
    EXPECT_EQ(result.videoKbps, 2500);
    EXPECT_EQ(result.retrasoAudioMs, 120);
    EXPECT_EQ(result.audioKbps, 192);
    EXPECT_EQ(result.codificadorAudio, "opus");
    EXPECT_EQ(result.ancho, 1080);
    EXPECT_EQ(result.alto, 1920);
    EXPECT_TRUE(result.llenar);
    EXPECT_FALSE(result.seguirObs);
    EXPECT_TRUE(result.conEmisionObs);
    EXPECT_EQ(result.grabacion, (RecordingConfig{"flv", "/srv/grabaciones", true}));
    const QJsonObject settings =
        QJsonDocument::fromJson(result.ajustesCodificador.toUtf8()).object();
    EXPECT_EQ(settings.value("bitrate").toInt(), 2500);

    ASSERT_EQ(result.destinos.size(), 2);
    EXPECT_EQ(result.destinos[0].url, "SRT://h:9000");
    EXPECT_EQ(result.destinos[0].clave, " id con espacios ");
    EXPECT_EQ(result.destinos[0].contrasena, "frase");
    EXPECT_EQ(result.destinos[1].url, "rtmp://servidor/live");
    EXPECT_EQ(result.destinos[1].contrasena, "") << "a passphrase belongs only to SRT";
    EXPECT_EQ(result.destinos[0].id.size(), 36);
    EXPECT_NE(result.destinos[0].id, result.destinos[1].id);
}

TEST_F(StudioFixture, ADestinationsOwnEncodeIsShownEditedSavedAndCountedAmongTheEncodes) {
    EntryConfig entry = storedEntry();
    entry.videoKbps = 6000;
    entry.ancho = 1920;
    entry.alto = 1080;
    entry.destinos = {{"d-1", "rtmp://a.example/live", "k", ""},
                      {"d-2", "rtmp://b.example/live?key=x", "", ""},
                      {"d-3", "srt://c.example:9000", "", ""}};
    entry.destinos[0].envio = {3500, 1280, 720, 2, 30};
    entry.destinos[2].envio = {0, 1600, 900, 0, 0};
    // A recording's own encode comes only from the settings file: the editor shows none of it.
    entry.grabacion = {"flv", "/srv/grabaciones", true, {2500, 1280, 720, 3, 0}};
    EntryDialog dialog(nullptr, entry, true, false, {});
    dialog.show();
    DestRowWidget* first = dialog.destRows()[0];
    DestRowWidget* second = dialog.destRows()[1];
    DestRowWidget* third = dialog.destRows()[2];
    EXPECT_TRUE(first->sendPanel()->isVisible()) << "it asks something of its own";
    EXPECT_EQ(first->capSpin()->text(), "3500 kbps");
    EXPECT_EQ(first->ownSizeCombo()->currentText(), "720p (1280×720)");
    EXPECT_EQ(first->audioTrackCombo()->currentText(), "Pista 2 de OBS");
    EXPECT_EQ(first->delaySpin()->text(), "30 s");
    EXPECT_FALSE(second->sendPanel()->isVisible());
    EXPECT_EQ(second->capSpin()->text(), "Como la entrada");
    EXPECT_EQ(second->ownSizeCombo()->currentText(), "Como la entrada");
    EXPECT_EQ(second->audioTrackCombo()->currentText(), "Mezcla propia de la entrada");
    EXPECT_EQ(second->delaySpin()->text(), "Sin retraso");
    EXPECT_EQ(third->ownSizeCombo()->currentText(), "1600×900 (personalizado)");
    EXPECT_EQ(dialog.encodesLabel()->text(),
              "3 codificaciones: 1280x720 3.5 Mbps para a.example, 6.0 Mbps para b.example, "
              "1600x900 6.0 Mbps para c.example");

    QTest::mouseClick(second->sendToggle(), Qt::LeftButton);
    EXPECT_TRUE(second->sendPanel()->isVisible());
    second->capSpin()->setValue(2000);
    third->ownSizeCombo()->setCurrentIndex(0);
    EXPECT_EQ(dialog.encodesLabel()->text(), "3 codificaciones: 1280x720 3.5 Mbps para a.example, "
                                             "2.0 Mbps para b.example, 6.0 Mbps para c.example");
    first->capSpin()->setValue(0);
    first->ownSizeCombo()->setCurrentIndex(first->ownSizeCombo()->findText("360p (640×360)"));
    first->audioTrackCombo()->setCurrentIndex(6);
    first->delaySpin()->setValue(90);
    second->capSpin()->setValue(0);
    EXPECT_EQ(dialog.encodesLabel()->text(),
              "2 codificaciones: 640x360 6.0 Mbps para a.example, 6.0 Mbps para b.example y "
              "c.example");

    EXPECT_EQ(pressOk(dialog), "");
    const EntryConfig result = dialog.resultEntry();
    ASSERT_EQ(result.destinos.size(), 3);
    EXPECT_EQ(result.destinos[0].envio, (SendChoice{0, 640, 360, 6, 90}));
    EXPECT_TRUE(result.destinos[1].envio.isDefault());
    EXPECT_TRUE(result.destinos[2].envio.isDefault());
    EXPECT_EQ(result.grabacion, entry.grabacion) << "OK keeps what the editor does not show";

    // One encode that nobody asks anything of: nothing to tell.
    first->ownSizeCombo()->setCurrentIndex(0);
    first->audioTrackCombo()->setCurrentIndex(0);
    first->delaySpin()->setValue(0);
    EXPECT_FALSE(dialog.encodesLabel()->isVisible());
}

TEST(EntryDialogSources, WithNothingToSendOkWarnsUnlessTheLiveSceneIsFollowed) {
    test::FakeFrontend frontend;
    frontend.setScenes({});
    ASSERT_TRUE(listInputSourceNames().isEmpty()) << "another test left input sources behind";

    EntryDialog dialog(nullptr, newEntry(), false, false, {});
    dialog.show();
    EXPECT_EQ(dialog.sourceCombo()->count(), 0);
    EXPECT_EQ(pressOk(dialog),
              "No hay ninguna fuente o escena para elegir. Crea alguna en OBS primero.");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_NE(dialog.result(), QDialog::Accepted);

    dialog.followCheck()->setChecked(true);
    EXPECT_EQ(pressOk(dialog), "");
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.resultEntry().seguirObs);
    EXPECT_EQ(dialog.resultEntry().fuente, "");
}

TEST_F(StudioFixture, ADeletedSourceStaysSelectedAsAWarningItemAndIsSavedUnchanged) {
    EntryConfig entry = storedEntry();
    entry.fuente = "Cámara retirada";
    EntryDialog dialog(nullptr, entry, true, false, {});
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Editar entrada");
    EXPECT_EQ(currentShownText(dialog.sourceCombo()), "⚠ Cámara retirada (ya no existe)");
    EXPECT_EQ(dialog.sourceCombo()->currentIndex(), dialog.sourceCombo()->count() - 1);
    EXPECT_EQ(pressOk(dialog), "");
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.resultEntry().fuente, "Cámara retirada");
    EXPECT_EQ(dialog.resultEntry().id, "e-1");
}

TEST_F(StudioFixture, RowMessagesCarryTheNumberAmongNonEmptyRows) {
    EntryConfig entry = storedEntry();
    entry.destinos = {{"d-0", "", "", ""},
                      {"d-1", "rtmp://servidor/live", "clave", ""},
                      {"d-2", "rtmp://h", "clave", ""}};
    EntryDialog dialog(nullptr, entry, true, false, {});
    dialog.show();
    EXPECT_EQ(pressOk(dialog), "Destino 2: a la dirección RTMP le falta la parte final, por "
                               "ejemplo rtmp://servidor/live.");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.destRows()[2]->addressEdit()->text(), "rtmp://h");

    // Only a stray key makes an otherwise empty row count (and fail) as row 1.
    dialog.destRows()[0]->keyEdit()->setText("k");
    EXPECT_EQ(pressOk(dialog),
              "Destino 1: la dirección debe empezar por rtmp://, rtmps://, srt:// o rist://.");

    dialog.destRows()[0]->keyEdit()->clear();
    dialog.destRows()[2]->addressEdit()->setText("rtmp://h/live");
    EXPECT_EQ(pressOk(dialog), "");
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    const EntryConfig result = dialog.resultEntry();
    ASSERT_EQ(result.destinos.size(), 2);
    EXPECT_EQ(result.destinos[0].id, "d-1");
    EXPECT_EQ(result.destinos[1].id, "d-2");
}

TEST_F(StudioFixture, RemovingEveryDestinationRowSavesAnEntryWithoutDestinations) {
    EntryDialog dialog(nullptr, storedEntry(), true, false, {});
    dialog.show();
    ASSERT_EQ(dialog.destRows().size(), 1);
    QPointer<DestRowWidget> row = dialog.destRows()[0];
    QTest::mouseClick(row->removeButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog.destRows().isEmpty());
    EXPECT_FALSE(row->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(row.isNull());
    EXPECT_EQ(pressOk(dialog), "");
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.resultEntry().destinos.isEmpty());
}

TEST_F(StudioFixture, ACustomStoredSizeIsKeptAndTheCanvasSizeTurnsFramingOff) {
    EntryConfig entry = storedEntry();
    entry.ancho = 1600;
    entry.alto = 900;
    entry.llenar = true;
    EntryDialog dialog(nullptr, entry, true, false, {});
    EXPECT_EQ(dialog.sizeCombo()->count(), 7);
    EXPECT_EQ(dialog.sizeCombo()->currentText(), "1600×900 (personalizado)");
    EXPECT_TRUE(dialog.framingCombo()->isEnabled());
    EXPECT_EQ(dialog.framingCombo()->currentIndex(), 1);
    dialog.accept();
    EXPECT_EQ(dialog.resultEntry().ancho, 1600);
    EXPECT_EQ(dialog.resultEntry().alto, 900);

    dialog.sizeCombo()->setCurrentIndex(0);
    EXPECT_FALSE(dialog.framingCombo()->isEnabled());
    EXPECT_EQ(dialog.resultEntry().ancho, 0);
    EXPECT_EQ(dialog.resultEntry().alto, 0);
    dialog.sizeCombo()->setCurrentIndex(2);
    EXPECT_TRUE(dialog.framingCombo()->isEnabled());

    // A size with only a height is the canvas size.
    entry.ancho = 0;
    EntryDialog heightOnly(nullptr, entry, true, false, {});
    EXPECT_EQ(heightOnly.sizeCombo()->count(), 6);
    EXPECT_EQ(heightOnly.sizeCombo()->currentIndex(), 0);
    EXPECT_EQ(heightOnly.resultEntry().alto, 0);
}

TEST_F(StudioFixture, AStoredRecordingComesBackAsStoredAndTheFolderCanBeBrowsedFor) {
    struct Case {
        const char* stored;
        int shown;
        const char* saved;
    };
    // A format this version does not offer falls back to MKV.
    for (const Case& c : {Case{"mkv", 0, "mkv"}, Case{"mp4", 1, "mp4"}, Case{"flv", 2, "flv"},
                          Case{"avi", 0, "mkv"}}) {
        SCOPED_TRACE(c.stored);
        EntryConfig entry = newEntry();
        entry.grabacion = {c.stored, "/home/ana/Vídeos", true};
        const EntryDialog dialog(nullptr, entry, true, false, {});
        EXPECT_EQ(dialog.recordingBox()->formatCombo()->currentIndex(), c.shown);
        EXPECT_EQ(dialog.recordingBox()->folderEdit()->text(), "/home/ana/Vídeos");
        EXPECT_EQ(dialog.resultEntry().grabacion,
                  (RecordingConfig{c.saved, "/home/ana/Vídeos", true}));
    }

    EntryDialog dialog(nullptr, newEntry(), false, false, {});
    const QString chosen = QDir::tempPath();
    auto watch = test::whenModalDialogOpens(
        [&](QDialog* opened) {
            auto* files = static_cast<QFileDialog*>(opened);
            EXPECT_EQ(files->windowTitle(), "Elegir la carpeta de grabación");
            EXPECT_TRUE(files->testOption(QFileDialog::ShowDirsOnly));
            files->setDirectory(chosen);
            QMetaObject::invokeMethod(files, "accept");
        },
        &QFileDialog::staticMetaObject);
    QTest::mouseClick(dialog.recordingBox()->browseButton(), Qt::LeftButton);
    EXPECT_TRUE(watch->acted());
    EXPECT_EQ(dialog.resultEntry().grabacion.carpeta, QDir::toNativeSeparators(chosen));
}

TEST_F(StudioFixture, TheRelayChecksItsSettingsCarriesTheMarkedRowsAndWritesItsFiles) {
    struct Case {
        const char* ingest;
        const char* stats;
        const char* allow;
        bool marked; // the RTMP and RTMPS rows go through the relay
        const char* error;
    };
    const Case cases[] = {
        {"http://relay.example/live", "http://relay.example:8080/stat", "", true,
         "La dirección de entrada del relé debe ser rtmp://servidor[:puerto]/aplicacion."},
        {"rtmp://relay.example:8080/live", "http://relay.example:8080/stat", "", true,
         "La página de estadísticas del relé debe ser http(s)://servidor:puerto/ruta, en otro "
         "puerto que la entrada."},
        {"rtmp://relay.example/live", "http://relay.example:8080/stat", "mi casa", true,
         "La dirección permitida del relé no es válida."},
        // Nothing marked: a relay half typed does not stop OK.
        {"rtmp://relay.example/live", "http://relay.example:8080/stat", "mi casa", false,
         "La dirección permitida del relé no es válida."},
        {" rtmp://relay.example/live ", "https://relay.example:8443/stat", "203.0.113.7", true, ""},
    };
    EntryConfig entry = storedEntry();
    entry.destinos = {{"d-1", "rtmp://a.example/live", "k1", ""},
                      {"d-2", "rist://c.example:5000", "", ""},
                      {"d-3", "rtmps://b.example/live", "k3", ""}};
    entry.destinos[2].envio = {2000, 0, 0, 0, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ingest + std::string(" ") + c.allow);
        EntryDialog dialog(nullptr, entry, true, false, {});
        dialog.show();
        RelayBox* relay = dialog.relayBox();
        const QList<DestRowWidget*> rows = dialog.destRows();
        EXPECT_FALSE(relay->panel()->isVisible()) << "no relay yet: the section is closed";
        EXPECT_FALSE(rows[0]->relayCheck()->isEnabled());
        relay->ingestEdit()->setText(c.ingest);
        relay->statsEdit()->setText(c.stats);
        relay->allowEdit()->setText(c.allow);
        EXPECT_EQ(relay->secretEdit()->text().size(), 24) << "made with the first address";
        EXPECT_EQ(relay->secretEdit()->echoMode(), QLineEdit::Password);
        EXPECT_TRUE(rows[0]->relayCheck()->isEnabled());
        EXPECT_FALSE(rows[1]->relayCheck()->isEnabled());
        EXPECT_EQ(rows[1]->relayCheck()->toolTip(),
                  "el relé solo reenvía a direcciones rtmp://, rtmps:// y srt://.");
        rows[0]->relayCheck()->setChecked(c.marked);
        rows[2]->relayCheck()->setChecked(c.marked);
        EXPECT_EQ(rows[2]->sendToggle()->isEnabled(), !c.marked);
        EXPECT_EQ(relay->errorLabel()->text(), c.error);

        const bool writable = c.marked && QString(c.error).isEmpty();
        if (writable) {
            // A marked row the relay cannot carry says so, and OK names it.
            rows[0]->addressEdit()->setText("rtmp://a.example/live?x=1");
            EXPECT_TRUE(rows[0]->relayNoteLabel()->isVisible());
            EXPECT_EQ(pressOk(dialog), "Destino 1: la dirección no sirve para el relé.");
            rows[0]->addressEdit()->setText("rtmp://a.example/live");
            // Written: the files hold the keys, so they are the owner's alone.
            EXPECT_TRUE(relay->staleLabel()->isVisible()) << "never written";
            QTemporaryDir folder;
            QString warned;
            QString done;
            test::whenMessageBoxOpens([&](QMessageBox* box) {
                warned = box->text();
                for (QAbstractButton* button : box->buttons())
                    if (box->buttonRole(button) == QMessageBox::AcceptRole)
                        button->click();
            });
            auto watch = test::whenModalDialogOpens(
                [&](QDialog* opened) {
                    static_cast<QFileDialog*>(opened)->setDirectory(folder.path());
                    test::whenMessageBoxOpens([&](QMessageBox* box) {
                        done = box->text();
                        box->accept();
                    });
                    QMetaObject::invokeMethod(opened, "accept");
                },
                &QFileDialog::staticMetaObject);
            QTest::mouseClick(relay->writeButton(), Qt::LeftButton);
            EXPECT_TRUE(watch->acted());
            EXPECT_TRUE(warned.startsWith("Los archivos guardan en texto plano las claves"));
            EXPECT_EQ(done, QString("La configuración del relé está en %1. Los pasos para "
                                    "instalarla están en RELAY-README.txt.")
                                .arg(QDir::toNativeSeparators(folder.path())));
            const QDir dir(folder.path());
            const QStringList files = dir.entryList(QDir::Files, QDir::Name);
            EXPECT_EQ(files, QStringList({"RELAY-README.txt", "relaycast-relay.conf",
                                          "relaycast-stunnel.conf"}));
            const QFile::Permissions others =
                QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
            for (const QString& name : files)
                EXPECT_TRUE(!(QFile::permissions(dir.filePath(name)) & others))
                    << name.toStdString();
            EXPECT_FALSE(relay->staleLabel()->isVisible());
            // A marked row's new key is not in the files yet; back as it was, it is again.
            rows[0]->keyEdit()->setText("k1-nueva");
            EXPECT_TRUE(relay->staleLabel()->isVisible());
            rows[0]->keyEdit()->setText("k1");
            EXPECT_FALSE(relay->staleLabel()->isVisible());
        }

        EXPECT_EQ(pressOk(dialog), c.marked ? c.error : "");
        if (dialog.result() != QDialog::Accepted)
            continue;
        const EntryConfig result = dialog.resultEntry();
        EXPECT_EQ(result.relevo.entrada, QString(c.ingest).trimmed());
        EXPECT_EQ(result.relevo.secreto, relay->secretEdit()->text());
        EXPECT_EQ(result.destinos[0].porRelevo, c.marked);
        EXPECT_FALSE(result.destinos[1].porRelevo);
        EXPECT_EQ(result.destinos[2].porRelevo, c.marked);
        EXPECT_EQ(result.destinos[2].envio, entry.destinos[2].envio) << "kept, though unused";
        EXPECT_EQ(result.relevo.escrita, writable ? relayConfigurationDigest(result) : QString());
        EXPECT_FALSE(relayConfigurationStale(result));
    }
}

TEST_F(StudioFixture, TheNameTakesAtMostEightyCharacters) {
    EntryDialog dialog(nullptr, storedEntry(), true, false, {});
    dialog.show();
    dialog.nameEdit()->clear();
    dialog.nameEdit()->setFocus();
    QTest::keyClicks(dialog.nameEdit(), QString(81, QChar('n')));
    EXPECT_EQ(dialog.nameEdit()->text(), QString(80, QChar('n')));
    EXPECT_EQ(dialog.resultEntry().nombre.size(), 80);
}

TEST_F(StudioFixture, CodecsAndAudioQualitiesOutsideTheListsAreHandledAsStored) {
    EntryConfig entry = storedEntry();
    entry.codificadorAudio = "flac";
    entry.audioKbps = 64;
    EntryDialog unknown(nullptr, entry, true, false, {});
    EXPECT_EQ(itemTexts(unknown.audioCodecCombo()), QStringList({"aac", "opus", "flac"}));
    EXPECT_EQ(unknown.audioCodecCombo()->currentText(), "flac");
    EXPECT_EQ(unknown.audioKbpsCombo()->currentText(), "128 kbps");
    EXPECT_EQ(unknown.resultEntry().codificadorAudio, "flac");
    EXPECT_EQ(unknown.resultEntry().audioKbps, 128);

    entry.codificadorAudio = " OPUS ";
    EntryDialog capitals(nullptr, entry, true, false, {});
    EXPECT_EQ(capitals.audioCodecCombo()->count(), 2);
    EXPECT_EQ(capitals.resultEntry().codificadorAudio, "opus");

    entry.codificadorAudio = "";
    EXPECT_EQ(EntryDialog(nullptr, entry, true, false, {}).resultEntry().codificadorAudio, "aac");
}

TEST_F(StudioFixture, AnEncoderNoLongerOfferedFallsBackToTheRecommendedOneFromItsDefaults) {
    EntryConfig entry = storedEntry();
    entry.codificador = "codificador_desaparecido";
    entry.ajustesCodificador = R"({"bitrate": 4000, "preset": "veryslow"})";
    EntryDialog dialog(nullptr, entry, true, false, {});
    EXPECT_EQ(dialog.encoderCombo()->currentIndex(), 0);
    const EntryConfig result = dialog.resultEntry();
    EXPECT_EQ(result.codificador, dialog.encoderCombo()->itemData(0).toString());
    EXPECT_FALSE(result.ajustesCodificador.contains("veryslow"));

    // The stored encoder with its stored settings, when it is offered.
    entry.codificador = "obs_x264";
    entry.ajustesCodificador = R"({"bitrate": 4000, "preset": "veryslow"})";
    EntryDialog kept(nullptr, entry, true, false, {});
    EXPECT_EQ(kept.encoderCombo()->currentData().toString(), "obs_x264");
    EXPECT_EQ(QJsonDocument::fromJson(kept.resultEntry().ajustesCodificador.toUtf8())
                  .object()
                  .value("preset")
                  .toString(),
              "veryslow");

    // Choosing another encoder and back starts again from the defaults.
    if (kept.encoderCombo()->count() > 1) {
        kept.encoderCombo()->setCurrentIndex(0);
        kept.encoderCombo()->setCurrentIndex(kept.encoderCombo()->findData("obs_x264"));
        EXPECT_FALSE(kept.resultEntry().ajustesCodificador.contains("veryslow"));
    }
}

TEST_F(StudioFixture, ShowKeysUnmasksEveryRowIncludingRowsAddedLater) {
    EntryConfig entry = storedEntry();
    entry.destinos.append({"d-2", "srt://h:9000", "id", "frase"});
    EntryDialog dialog(nullptr, entry, true, false, {});
    dialog.show();
    for (DestRowWidget* row : dialog.destRows())
        EXPECT_EQ(row->keyEdit()->echoMode(), QLineEdit::Password);

    QTest::mouseClick(dialog.showKeysCheck(), Qt::LeftButton, {},
                      QPoint(6, dialog.showKeysCheck()->height() / 2));
    ASSERT_TRUE(dialog.showKeysCheck()->isChecked());
    for (DestRowWidget* row : dialog.destRows()) {
        EXPECT_EQ(row->keyEdit()->echoMode(), QLineEdit::Normal);
        EXPECT_EQ(row->passphraseEdit()->echoMode(), QLineEdit::Normal);
    }
    QTest::mouseClick(dialog.addDestButton(), Qt::LeftButton);
    ASSERT_EQ(dialog.destRows().size(), 3);
    EXPECT_EQ(dialog.destRows()[2]->keyEdit()->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(dialog.destRows()[2]->passphraseEdit()->echoMode(), QLineEdit::Normal);

    dialog.showKeysCheck()->setChecked(false);
    for (DestRowWidget* row : dialog.destRows()) {
        EXPECT_EQ(row->keyEdit()->echoMode(), QLineEdit::Password);
        EXPECT_EQ(row->passphraseEdit()->echoMode(), QLineEdit::Password);
    }
}

TEST_F(StudioFixture, AnUnopenedSecretStaysSavedUntilItsFieldIsClearedOnPurpose) {
    EntryConfig entry = storedEntry();
    DestConfig srt{"d-2", "srt://h:9000", "", ""};
    srt.storedClave = {QStringLiteral("dpapi:AAAA"), false, {}};
    srt.storedContrasena = {QStringLiteral("dpapi:BBBB"), false, {}};
    entry.destinos = {srt};
    EntryDialog dialog(nullptr, entry, true, false, {});
    dialog.show();
    // The key field is left alone; the passphrase is typed and erased again.
    QLineEdit* passphrase = dialog.destRows()[0]->passphraseEdit();
    QTest::keyClicks(passphrase, "x");
    QTest::keyClick(passphrase, Qt::Key_Backspace);
    EXPECT_EQ(pressOk(dialog), "");
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    const DestConfig saved = dialog.resultEntry().destinos.value(0);
    EXPECT_EQ(saved.storedClave.stored, QStringLiteral("dpapi:AAAA"));
    EXPECT_TRUE(saved.storedContrasena.stored.isEmpty());
    EXPECT_TRUE(saved.needsSecretsAgain()) << "the untouched key still holds it";
}

TEST_F(StudioFixture, TheAdvancedPanelOpensTallerAndKeepsTheWindowOnTheScreen) {
    EntryDialog dialog(nullptr, storedEntry(), true, false, {});
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const QRect area = dialog.screen()->availableGeometry();
    dialog.move(dialog.x(), area.bottom() - 700);
    QTRY_COMPARE(dialog.y(), area.bottom() - 700);
    const int width = dialog.width();
    const int height = dialog.height();

    QTest::mouseClick(dialog.advancedToggle(), Qt::LeftButton);
    EXPECT_TRUE(dialog.advancedPanel()->isVisible());
    EXPECT_EQ(dialog.advancedToggle()->arrowType(), Qt::DownArrow);
    EXPECT_EQ(dialog.height(), std::max(height, std::min(860, area.height() - 80)));
    EXPECT_EQ(dialog.width(), width);
    QTRY_VERIFY(dialog.frameGeometry().bottom() <= area.bottom());
    EXPECT_GE(dialog.frameGeometry().top(), area.top());

    QTest::mouseClick(dialog.advancedToggle(), Qt::LeftButton);
    EXPECT_FALSE(dialog.advancedPanel()->isVisible());
    EXPECT_EQ(dialog.advancedToggle()->arrowType(), Qt::RightArrow);
}

TEST_F(StudioFixture, ANewEntryOpensWithItsFirstDestinationInViewAndScrollsWhenSmall) {
    EntryDialog dialog(nullptr, newEntry(), false, false, {});
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const QRect area = dialog.screen()->availableGeometry();
    ASSERT_GE(area.height(), 1000) << "a screen of about 1080 lines";
    EXPECT_LE(dialog.frameGeometry().height(), area.height());

    // Where the stream goes is in view at once: the source, the name, the first destination.
    auto* scroll = dialog.findChild<QScrollArea*>();
    const auto inView = [&](QWidget* widget) {
        const QRect place(widget->mapTo(scroll->viewport(), QPoint(0, 0)), widget->size());
        return scroll->viewport()->rect().contains(place);
    };
    EXPECT_TRUE(inView(dialog.sourceCombo()));
    EXPECT_TRUE(inView(dialog.nameEdit()));
    EXPECT_TRUE(inView(dialog.destRows()[0]));
    EXPECT_TRUE(inView(dialog.addDestButton()));

    // A small window keeps its buttons and scrolls the form.
    dialog.resize(dialog.width(), 320);
    QTRY_VERIFY(scroll->verticalScrollBar()->isVisible());
    EXPECT_TRUE(dialog.findChild<QDialogButtonBox*>()->isVisible());
}

TEST_F(StudioFixture, FollowingTheLiveSceneShowsTheMatchesAndDisablesTheSourceChoice) {
    EntryDialog dialog(nullptr, storedEntry(), true, false, {});
    dialog.show();
    EXPECT_TRUE(dialog.sourceCombo()->isEnabled());
    QTest::mouseClick(dialog.followCheck(), Qt::LeftButton);
    EXPECT_TRUE(dialog.matchBox()->isVisible());
    EXPECT_FALSE(dialog.sourceCombo()->isEnabled());
    // Only OBS's program can share OBS's stream encoders.
    EXPECT_TRUE(dialog.sameAsObsCheck()->isEnabled());
    dialog.sameAsObsCheck()->setChecked(true);
    EXPECT_TRUE(dialog.resultEntry().codificadorDeObs);
    dialog.followCheck()->setChecked(false);
    EXPECT_FALSE(dialog.matchBox()->isVisible());
    EXPECT_TRUE(dialog.sourceCombo()->isEnabled());
    EXPECT_FALSE(dialog.sameAsObsCheck()->isEnabled());
}

// Scene equivalences.

EntryConfig followingEntry(SceneMatchMap matches) {
    EntryConfig entry = storedEntry();
    entry.seguirObs = true;
    entry.equivalencias = std::move(matches);
    return entry;
}

TEST_F(StudioFixture, StoredMatchesComeBackInKeyOrderWithMissingNamesMarked) {
    EntryDialog dialog(
        nullptr,
        followingEntry(
            {{"Plató", "Entrevista"}, {"Entrevista", "Cámara 1"}, {"Escena borrada", "Plató"}}),
        true, false, {});
    ASSERT_EQ(dialog.matchRows().size(), 3);
    EXPECT_EQ(dialog.matchRows()[0].left->currentText(), "Entrevista");
    EXPECT_EQ(currentShownText(dialog.matchRows()[0].right), "🎥 Cámara 1");
    EXPECT_EQ(currentShownText(dialog.matchRows()[1].left), "⚠ Escena borrada (ya no existe)");
    EXPECT_EQ(dialog.matchRows()[2].left->currentText(), "Plató");
    EXPECT_EQ(currentShownText(dialog.matchRows()[2].right), "🎬 Entrevista");

    const QStringList right = itemTexts(dialog.matchRows()[0].right);
    EXPECT_LT(right.indexOf("🎬 Entrevista"), right.indexOf("🎥 Cámara 1"));
    EXPECT_FALSE(itemTexts(dialog.matchRows()[0].left).contains("Cámara 1"));

    EXPECT_EQ(dialog.resultEntry().equivalencias, SceneMatchMap({{"Plató", "Entrevista"},
                                                                 {"Entrevista", "Cámara 1"},
                                                                 {"Escena borrada", "Plató"}}));
}

TEST_F(StudioFixture, EqualMatchSidesAreDroppedAndALaterRowForTheSameSceneWins) {
    EntryDialog dialog(nullptr, followingEntry({}), true, false, {});
    dialog.show();
    EXPECT_TRUE(dialog.matchRows().isEmpty());
    QTest::mouseClick(dialog.addMatchButton(), Qt::LeftButton);
    ASSERT_EQ(dialog.matchRows().size(), 1);
    // A new row names the first scene on both sides: saved untouched, it is dropped.
    EXPECT_EQ(dialog.matchRows()[0].left->currentIndex(), 0);
    EXPECT_EQ(dialog.matchRows()[0].left->currentData(),
              dialog.matchRows()[0].right->currentData());
    EXPECT_TRUE(dialog.resultEntry().equivalencias.isEmpty());

    dialog.addMatchRow("Plató", "Entrevista");
    dialog.addMatchRow("Entrevista", "Entrevista");
    dialog.addMatchRow("Entrevista", "Cámara 1");
    dialog.addMatchRow("Plató", "Cámara 1");
    EXPECT_EQ(dialog.resultEntry().equivalencias,
              SceneMatchMap({{"Plató", "Cámara 1"}, {"Entrevista", "Cámara 1"}}));

    while (!dialog.matchRows().isEmpty()) {
        QWidget* row = dialog.matchRows().last().row;
        QTest::mouseClick(row->findChild<QToolButton*>(), Qt::LeftButton);
        EXPECT_FALSE(row->isVisible());
    }
    EXPECT_TRUE(dialog.resultEntry().equivalencias.isEmpty());
    EXPECT_TRUE(dialog.resultEntry().seguirObs);
}

TEST(EntryDialogMatches, AHalfEmptyRowIsDropped) {
    // With nothing in the host, a side without a stored name has nothing to select.
    test::FakeFrontend frontend;
    frontend.setScenes({});
    ASSERT_TRUE(listInputSourceNames().isEmpty()) << "another test left input sources behind";
    EntryDialog dialog(nullptr, followingEntry({}), true, false, {});
    dialog.addMatchRow("Plató", "");
    dialog.addMatchRow("", "Entrevista");
    dialog.addMatchRow("Entrevista", "Plató");
    EXPECT_EQ(dialog.matchRows()[0].right->currentIndex(), -1);
    EXPECT_EQ(currentShownText(dialog.matchRows()[2].left), "⚠ Entrevista (ya no existe)");
    EXPECT_EQ(dialog.resultEntry().equivalencias, SceneMatchMap({{"Entrevista", "Plató"}}));
}

} // namespace
