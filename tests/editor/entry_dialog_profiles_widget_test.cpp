// Encoder profiles in the entry dialog: saving, replacing, applying and deleting them, with
// the input dialog and the message boxes answered as a user would.

#include "editor/encoder_form.h"
#include "editor/entry_dialog.h"
#include "editor/input_widgets.h"

#include "support/fake_encoder_types.h"
#include "support/modal_dialog_driver.h"

#include <obs.hpp>

#include <QAbstractButton>
#include <QInputDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>

namespace relaycast {
namespace {

constexpr const char* kFakeHardware = "rc_test_hw_profiles";

QJsonObject formJson(const EntryDialog& dialog) {
    return QJsonDocument::fromJson(obs_data_get_json(dialog.encoderForm()->settingsObject()))
        .object();
}

QStringList comboTexts(const QComboBox* combo) {
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

EncoderProfile profile(const QString& name, const QString& encoder, int32_t videoKbps,
                       int32_t audioKbps = 128, const QString& codec = "aac",
                       const QString& settings = QString()) {
    EncoderProfile p;
    p.nombre = name;
    p.codificador = encoder;
    p.videoKbps = videoKbps;
    p.audioKbps = audioKbps;
    p.codificadorAudio = codec;
    p.ajustesCodificador = settings;
    return p;
}

// What a message box showed, and the answer given to it.
struct BoxSeen {
    QString title;
    QString text;
    QStringList buttons;
};

// Answers the next message box by clicking the button with `answer` as its text.
std::shared_ptr<test::ModalWatch> answerBox(BoxSeen* seen, const QString& answer) {
    return test::whenModalDialogOpens(
        [seen, answer](QDialog* dialog) {
            auto* box = qobject_cast<QMessageBox*>(dialog);
            if (!box)
                return;
            seen->title = box->windowTitle();
            seen->text = box->text();
            for (QAbstractButton* button : box->buttons())
                seen->buttons << button->text();
            for (QAbstractButton* button : box->buttons())
                if (button->text() == answer)
                    button->click();
        },
        &QMessageBox::staticMetaObject);
}

class EntryDialogProfilesTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // A hardware encoder, so the dialog offers two and a new entry starts on this one.
        test::registerFakeEncoderType({.id = kFakeHardware, .displayName = "Tarjeta Prueba"});
    }

    std::unique_ptr<EntryDialog> openNew(const QList<EncoderProfile>& profiles = {}) {
        return std::make_unique<EntryDialog>(nullptr, EntryConfig{}, false, false, profiles);
    }

    std::unique_ptr<EntryDialog> openStored(bool live, const QList<EncoderProfile>& profiles) {
        EntryConfig entry;
        entry.id = "e1";
        entry.codificador = "obs_x264";
        entry.videoKbps = 2500;
        entry.ajustesCodificador = R"({"preset":"fast","bitrate":2500})";
        return std::make_unique<EntryDialog>(nullptr, entry, true, live, profiles);
    }

    // Presses "Guardar perfil…" and types `name` into the name question (or cancels it).
    // Returns the question's title and label.
    QStringList saveAs(EntryDialog& dialog, const QString& name, bool cancel = false) {
        QStringList asked;
        auto watch = test::whenModalDialogOpens(
            [&asked, name, cancel](QDialog* modal) {
                auto* input = qobject_cast<QInputDialog*>(modal);
                if (!input)
                    return;
                asked << input->windowTitle() << input->labelText();
                input->setTextValue(name);
                if (cancel)
                    input->reject();
                else
                    input->accept();
            },
            &QInputDialog::staticMetaObject);
        dialog.saveProfileButton()->click();
        EXPECT_TRUE(watch->acted());
        return asked;
    }

    void choose(EntryDialog& dialog, int item) {
        dialog.profileCombo()->setCurrentIndex(item);
        Q_EMIT dialog.profileCombo()->activated(item);
    }
};

TEST_F(EntryDialogProfilesTest, SavingTheFirstProfileListsAndSelectsIt) {
    auto dialog = openNew();
    EXPECT_EQ(comboTexts(dialog->profileCombo()), QStringList{"(ninguno guardado todavía)"});
    EXPECT_FALSE(dialog->deleteProfileButton()->isEnabled());

    dialog->encoderCombo()->setCurrentIndex(dialog->encoderCombo()->findData("obs_x264"));
    dialog->videoKbpsSpin()->setValue(6000);
    dialog->audioKbpsCombo()->setCurrentIndex(dialog->audioKbpsCombo()->findData(192));
    dialog->audioCodecCombo()->setCurrentIndex(dialog->audioCodecCombo()->findText("opus"));

    EXPECT_EQ(saveAs(*dialog, "  Directo "), (QStringList{"Guardar perfil", "Nombre del perfil:"}));

    ASSERT_EQ(dialog->profiles().size(), 1);
    const EncoderProfile& saved = dialog->profiles().first();
    EXPECT_EQ(saved.nombre, QString("Directo"));
    EXPECT_EQ(saved.codificador, QString("obs_x264"));
    EXPECT_EQ(saved.videoKbps, 6000);
    EXPECT_EQ(saved.audioKbps, 192);
    EXPECT_EQ(saved.codificadorAudio, QString("opus"));
    const QJsonObject settings =
        QJsonDocument::fromJson(saved.ajustesCodificador.toUtf8()).object();
    EXPECT_EQ(settings.value("bitrate").toInt(), 6000);
    EXPECT_EQ(settings.value("keyint_sec").toInt(), 2);
    EXPECT_TRUE(dialog->profilesChanged());

    EXPECT_EQ(comboTexts(dialog->profileCombo()),
              (QStringList{"Elige un perfil…", "Directo · 6000 kbps"}));
    EXPECT_EQ(dialog->profileCombo()->currentIndex(), 1);
    EXPECT_TRUE(dialog->deleteProfileButton()->isEnabled());
}

TEST_F(EntryDialogProfilesTest, CancelledOrBlankNameSavesNothingSilently) {
    const QList<EncoderProfile> stored{profile("Directo", "obs_x264", 3000)};
    auto dialog = openNew(stored);

    saveAs(*dialog, "Otro", true);
    BoxSeen seen;
    auto noBox = answerBox(&seen, "Sí, sustituir");
    saveAs(*dialog, "   ");
    EXPECT_FALSE(noBox->acted());
    noBox->stop();

    EXPECT_EQ(dialog->profiles(), stored);
    EXPECT_FALSE(dialog->profilesChanged());
}

TEST_F(EntryDialogProfilesTest, SavingUnderAnExistingNameAsksAndReplacesInPlace) {
    const QList<EncoderProfile> stored{profile("directo", "obs_x264", 3000),
                                       profile("Otro", "obs_x264", 1500)};
    auto dialog = openStored(false, stored);
    dialog->videoKbpsSpin()->setValue(4500);

    // Answered "Cancelar": nothing changes.
    BoxSeen declined;
    auto first = answerBox(&declined, "Cancelar");
    saveAs(*dialog, "Directo");
    EXPECT_TRUE(first->acted());
    EXPECT_EQ(dialog->profiles(), stored);
    EXPECT_FALSE(dialog->profilesChanged());

    BoxSeen seen;
    auto second = answerBox(&seen, "Sí, sustituir");
    saveAs(*dialog, "Directo");
    ASSERT_TRUE(second->acted());
    EXPECT_EQ(seen.title, QString("Guardar perfil"));
    EXPECT_EQ(seen.text, QString("Ya existe un perfil llamado «Directo». ¿Sustituirlo?"));
    EXPECT_EQ(seen.buttons, (QStringList{"Sí, sustituir", "Cancelar"}));

    ASSERT_EQ(dialog->profiles().size(), 2);
    EXPECT_EQ(dialog->profiles()[0].nombre, QString("Directo"));
    EXPECT_EQ(dialog->profiles()[0].videoKbps, 4500);
    EXPECT_EQ(dialog->profiles()[1], stored[1]);
    EXPECT_TRUE(dialog->profilesChanged());
    EXPECT_EQ(dialog->profileCombo()->currentIndex(), 1);
    EXPECT_EQ(dialog->profileCombo()->currentText(), QString("Directo · 4500 kbps"));
}

TEST_F(EntryDialogProfilesTest, ApplyingAProfileSetsQualityAudioEncoderAndItsSettings) {
    const QList<EncoderProfile> stored{
        profile("Noche", "obs_x264", 6000, 192, "OPUS",
                R"({"preset":"slow","keyint_sec":3,"bitrate":6000})"),
        profile("Raro", kFakeHardware, 3000, 64, "flac")};
    auto dialog = openNew(stored);
    ASSERT_EQ(dialog->encoderCombo()->currentData().toString(), QString(kFakeHardware));

    BoxSeen seen;
    auto noWarning = answerBox(&seen, "Entendido");
    choose(*dialog, 1);
    EXPECT_EQ(dialog->videoKbpsSpin()->value(), 6000);
    EXPECT_EQ(dialog->audioKbpsCombo()->currentData().toInt(), 192);
    EXPECT_EQ(dialog->audioCodecCombo()->currentText(), QString("opus"));
    EXPECT_EQ(dialog->encoderCombo()->currentData().toString(), QString("obs_x264"));
    // The profile's own settings, not the encoder's first-time values.
    const QJsonObject settings = formJson(*dialog);
    EXPECT_EQ(settings.value("preset").toString(), QString("slow"));
    EXPECT_EQ(settings.value("keyint_sec").toInt(), 3);
    EXPECT_NE(settings.value("x264opts").toString(), QString("bframes=0"));
    EXPECT_EQ(dialog->profileCombo()->currentText(), QString("Noche · 6000 kbps"));

    // An audio quality the combo does not offer leaves it; an unknown codec is added.
    choose(*dialog, 2);
    EXPECT_EQ(dialog->videoKbpsSpin()->value(), 3000);
    EXPECT_EQ(dialog->audioKbpsCombo()->currentData().toInt(), 192);
    EXPECT_EQ(dialog->audioCodecCombo()->currentText(), QString("flac"));
    EXPECT_EQ(dialog->encoderCombo()->currentData().toString(), QString(kFakeHardware));
    EXPECT_FALSE(noWarning->acted());
    noWarning->stop();

    // The prompt item applies nothing.
    dialog->videoKbpsSpin()->setValue(1234);
    choose(*dialog, 0);
    EXPECT_EQ(dialog->videoKbpsSpin()->value(), 1234);
    EXPECT_FALSE(dialog->profilesChanged());
}

TEST_F(EntryDialogProfilesTest, ProfileOfAnEncoderNotOfferedHereAppliesOnlyTheQualities) {
    const QList<EncoderProfile> stored{
        profile("Portátil", "rc_test_missing_encoder", 8000, 160, "opus", R"({"bf":3})")};
    auto dialog = openStored(false, stored);
    const QByteArray settingsBefore = obs_data_get_json(dialog->encoderForm()->settingsObject());

    BoxSeen seen;
    auto warning = answerBox(&seen, "Entendido");
    choose(*dialog, 1);
    ASSERT_TRUE(warning->acted());
    EXPECT_EQ(seen.title, QString("Relaycast"));
    EXPECT_EQ(seen.text, QString("El perfil «Portátil» usa otro codificador que no se puede "
                                 "aplicar aquí. Se ha aplicado solo la calidad de vídeo."));

    EXPECT_EQ(dialog->videoKbpsSpin()->value(), 8000);
    EXPECT_EQ(dialog->audioKbpsCombo()->currentData().toInt(), 160);
    EXPECT_EQ(dialog->audioCodecCombo()->currentText(), QString("opus"));
    EXPECT_EQ(dialog->encoderCombo()->currentData().toString(), QString("obs_x264"));
    EXPECT_EQ(QByteArray(obs_data_get_json(dialog->encoderForm()->settingsObject())),
              settingsBefore);
    EXPECT_EQ(dialog->profileCombo()->currentIndex(), 1);
}

TEST_F(EntryDialogProfilesTest, WhileStreamingOnlyTheRunningEncodersSettingsApply) {
    const QList<EncoderProfile> stored{
        profile("Igual", "obs_x264", 6000, 192, "opus", R"({"preset":"slow","bitrate":6000})"),
        profile("Otra tarjeta", kFakeHardware, 7000, 256, "opus")};
    auto dialog = openStored(true, stored);

    BoxSeen none;
    auto noWarning = answerBox(&none, "Entendido");
    choose(*dialog, 1);
    EXPECT_FALSE(noWarning->acted());
    noWarning->stop();
    EXPECT_EQ(dialog->videoKbpsSpin()->value(), 6000);
    EXPECT_EQ(formJson(*dialog).value("preset").toString(), QString("slow"));
    // Audio quality and codec are locked while live.
    EXPECT_EQ(dialog->audioKbpsCombo()->currentData().toInt(), 128);
    EXPECT_EQ(dialog->audioCodecCombo()->currentText(), QString("aac"));

    const QByteArray settingsBefore = obs_data_get_json(dialog->encoderForm()->settingsObject());
    BoxSeen seen;
    auto warning = answerBox(&seen, "Entendido");
    choose(*dialog, 2);
    ASSERT_TRUE(warning->acted());
    EXPECT_EQ(seen.text, QString("El perfil «Otra tarjeta» usa otro codificador que no se puede "
                                 "aplicar aquí. Se ha aplicado solo la calidad de vídeo."));
    EXPECT_EQ(dialog->videoKbpsSpin()->value(), 7000);
    EXPECT_EQ(dialog->audioKbpsCombo()->currentData().toInt(), 128);
    EXPECT_EQ(dialog->encoderCombo()->currentData().toString(), QString("obs_x264"));
    EXPECT_EQ(QByteArray(obs_data_get_json(dialog->encoderForm()->settingsObject())),
              settingsBefore);
}

TEST_F(EntryDialogProfilesTest, DeletingAsksAndNeedsAChosenProfile) {
    // A name with a placeholder-like part stays as typed.
    const QList<EncoderProfile> stored{profile("A", "obs_x264", 1000),
                                       profile("B 50%1", "obs_x264", 2000),
                                       profile("C", "obs_x264", 3000)};
    auto dialog = openNew(stored);
    EXPECT_EQ(
        comboTexts(dialog->profileCombo()),
        (QStringList{"Elige un perfil…", "A · 1000 kbps", "B 50%1 · 2000 kbps", "C · 3000 kbps"}));

    BoxSeen warned;
    auto warning = answerBox(&warned, "Entendido");
    dialog->deleteProfileButton()->click();
    ASSERT_TRUE(warning->acted());
    EXPECT_EQ(warned.text, QString("Primero elige en la lista el perfil que quieres borrar."));
    EXPECT_EQ(dialog->profiles(), stored);

    dialog->profileCombo()->setCurrentIndex(2);
    BoxSeen declined;
    auto cancel = answerBox(&declined, "Cancelar");
    dialog->deleteProfileButton()->click();
    ASSERT_TRUE(cancel->acted());
    EXPECT_EQ(dialog->profiles(), stored);
    EXPECT_FALSE(dialog->profilesChanged());

    BoxSeen seen;
    auto confirm = answerBox(&seen, "Sí, borrar");
    dialog->deleteProfileButton()->click();
    ASSERT_TRUE(confirm->acted());
    EXPECT_EQ(seen.title, QString("Borrar perfil"));
    EXPECT_EQ(seen.text, QString("¿Borrar el perfil «B 50%1»?"));
    EXPECT_EQ(dialog->profiles(), (QList<EncoderProfile>{stored[0], stored[2]}));
    EXPECT_TRUE(dialog->profilesChanged());
    EXPECT_EQ(dialog->profileCombo()->currentIndex(), 0);
    EXPECT_EQ(comboTexts(dialog->profileCombo()),
              (QStringList{"Elige un perfil…", "A · 1000 kbps", "C · 3000 kbps"}));

    for (int remaining = 2; remaining > 0; --remaining) {
        dialog->profileCombo()->setCurrentIndex(1);
        BoxSeen again;
        auto yes = answerBox(&again, "Sí, borrar");
        dialog->deleteProfileButton()->click();
        ASSERT_TRUE(yes->acted());
    }
    EXPECT_EQ(comboTexts(dialog->profileCombo()), QStringList{"(ninguno guardado todavía)"});
    EXPECT_FALSE(dialog->deleteProfileButton()->isEnabled());
}

TEST_F(EntryDialogProfilesTest, ProfileSavedInACancelledDialogIsStillReported) {
    auto dialog = openNew({profile("Viejo", "obs_x264", 1000)});
    dialog->videoKbpsSpin()->setValue(5000);
    saveAs(*dialog, "Nuevo");
    dialog->reject();

    EXPECT_EQ(dialog->result(), int(QDialog::Rejected));
    EXPECT_TRUE(dialog->profilesChanged());
    ASSERT_EQ(dialog->profiles().size(), 2);
    EXPECT_EQ(dialog->profiles()[1].nombre, QString("Nuevo"));
    EXPECT_EQ(dialog->profiles()[1].videoKbps, 5000);
}

} // namespace
} // namespace relaycast
