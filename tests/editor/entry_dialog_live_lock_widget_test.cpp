// The entry dialog opened on a streaming entry: what stays editable, and that OK hands back
// only the live-changeable fields.
#include "editor/entry_dialog.h"

#include "editor/dest_row_widget.h"
#include "editor/input_widgets.h"
#include "editor/relay_box.h"
#include "support/fake_frontend.h"
#include "support/test_host.h"

#include <obs.hpp>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

using namespace relaycast;

namespace {

struct LiveLockFixture : ::testing::Test {
    LiveLockFixture()
        : plato(test::createScene("Plató")), entrevista(test::createScene("Entrevista")) {
        stored.id = "e-live";
        stored.fuente = "Plató";
        stored.nombre = "En directo";
        stored.codificador = "obs_x264";
        stored.videoKbps = 3000;
        stored.audioKbps = 160;
        stored.codificadorAudio = "opus";
        stored.retrasoAudioMs = 40;
        stored.ajustesCodificador = R"({"bitrate": 3000, "preset": "veryfast"})";
        stored.ancho = 1280;
        stored.alto = 720;
        stored.llenar = true;
        stored.seguirObs = true;
        stored.equivalencias = {{"Plató", "Entrevista"}};
        stored.destinos = {{"d-1", "rtmp://servidor/live", "clave", ""},
                           {"d-2", "srt://servidor:9000", "id", "frase"}};
    }
    ~LiveLockFixture() override {
        obs_source_remove(obs_scene_get_source(plato));
        obs_source_remove(obs_scene_get_source(entrevista));
    }

    test::FakeFrontend frontend;
    OBSSceneAutoRelease plato;
    OBSSceneAutoRelease entrevista;
    EntryConfig stored;
};

TEST_F(LiveLockFixture, DisablesExactlyWhatWouldNeedARestart) {
    EntryDialog dialog(nullptr, stored, true, true, {});
    dialog.show();
    EXPECT_TRUE(dialog.isLiveLocked());

    const std::vector<std::pair<const char*, QWidget*>> locked{
        {"source", dialog.sourceCombo()},
        {"follow", dialog.followCheck()},
        {"matches", dialog.matchBox()},
        {"match row", dialog.matchRows().value(0).row},
        {"add match", dialog.addMatchButton()},
        {"encoder", dialog.encoderCombo()},
        {"audio quality", dialog.audioKbpsCombo()},
        {"codec", dialog.audioCodecCombo()},
        {"size", dialog.sizeCombo()},
        {"framing", dialog.framingCombo()},
        {"add destination", dialog.addDestButton()},
        {"relay address", dialog.relayBox()->ingestEdit()},
        {"new relay secret", dialog.relayBox()->newSecretButton()}};
    for (const auto& [what, widget] : locked) {
        ASSERT_NE(widget, nullptr) << what;
        EXPECT_FALSE(widget->isEnabled()) << what;
    }
    for (DestRowWidget* row : dialog.destRows()) {
        EXPECT_FALSE(row->addressEdit()->isEnabled());
        EXPECT_FALSE(row->keyEdit()->isEnabled());
        EXPECT_FALSE(row->serviceCombo()->isEnabled());
        EXPECT_FALSE(row->removeButton()->isEnabled());
    }

    const std::vector<std::pair<const char*, QWidget*>> editable{
        {"name", dialog.nameEdit()},
        {"video quality", dialog.videoKbpsSpin()},
        {"audio delay", dialog.audioDelaySpin()},
        {"advanced toggle", dialog.advancedToggle()},
        {"advanced form", dialog.advancedPanel()},
        {"profile", dialog.profileCombo()},
        {"save profile", dialog.saveProfileButton()},
        {"show keys", dialog.showKeysCheck()},
        {"ok", dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)}};
    for (const auto& [what, widget] : editable)
        EXPECT_TRUE(widget->isEnabled()) << what;

    // The locked rows still follow "Mostrar claves".
    dialog.showKeysCheck()->setChecked(true);
    EXPECT_EQ(dialog.destRows()[1]->passphraseEdit()->echoMode(), QLineEdit::Normal);

    // Following keeps the source locked even after the check box would allow it.
    dialog.followCheck()->setChecked(false);
    EXPECT_FALSE(dialog.sourceCombo()->isEnabled());
}

TEST_F(LiveLockFixture, OkChangesOnlyTheNameTheVideoBitrateTheDelayAndTheEncoderSettings) {
    EntryDialog dialog(nullptr, stored, true, true, {});
    dialog.nameEdit()->setText(" Nuevo nombre ");
    dialog.videoKbpsSpin()->setValue(4500);
    dialog.audioDelaySpin()->setValue(300);
    // Locked widgets changed behind the user's back still give the stored values.
    dialog.sourceCombo()->setCurrentIndex(dialog.sourceCombo()->findData("Entrevista"));
    dialog.followCheck()->setChecked(false);
    dialog.addMatchRow("Entrevista", "Plató");
    dialog.audioKbpsCombo()->setCurrentIndex(0);
    dialog.audioCodecCombo()->setCurrentIndex(0);
    dialog.sizeCombo()->setCurrentIndex(0);
    dialog.framingCombo()->setCurrentIndex(0);
    dialog.destRows()[0]->addressEdit()->setText("rtmp://otro/live");
    dialog.addDestRow({"", "rtmp://tercero/live", "k", ""});

    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    const EntryConfig result = dialog.resultEntry();

    EntryConfig expected = stored;
    expected.nombre = "Nuevo nombre";
    expected.videoKbps = 4500;
    expected.retrasoAudioMs = 300;
    expected.ajustesCodificador = result.ajustesCodificador;
    EXPECT_EQ(result, expected);

    const QJsonObject settings =
        QJsonDocument::fromJson(result.ajustesCodificador.toUtf8()).object();
    EXPECT_EQ(settings.value("bitrate").toInt(), 4500);
    EXPECT_EQ(settings.value("preset").toString(), "veryfast");
}

TEST_F(LiveLockFixture, ARunningEncoderThatIsNotOfferedKeepsItsOwnSettings) {
    // Unlocked, such an entry would move to the recommended encoder; while it streams it
    // cannot, so its stored settings must not be replaced by another encoder's.
    stored.codificador = "codificador_retirado";
    stored.ajustesCodificador = R"({"bitrate": 3000, "modo": "propio"})";
    EntryDialog dialog(nullptr, stored, true, true, {});
    EXPECT_EQ(dialog.encoderCombo()->currentData().toString(), "codificador_retirado");
    EXPECT_EQ(dialog.encoderCombo()->currentText(), "codificador_retirado");
    dialog.videoKbpsSpin()->setValue(2000);

    const EntryConfig result = dialog.resultEntry();
    EXPECT_EQ(result.codificador, "codificador_retirado");
    const QJsonObject settings =
        QJsonDocument::fromJson(result.ajustesCodificador.toUtf8()).object();
    EXPECT_EQ(settings.value("modo").toString(), "propio");
    EXPECT_EQ(settings.value("bitrate").toInt(), 2000);
}

} // namespace
