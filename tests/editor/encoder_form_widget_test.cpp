// The advanced settings form generated from an encoder's property description: the real x264
// encoder of the host, and fake encoder types for the property kinds x264 does not declare.

#include "editor/encoder_form.h"
#include "editor/entry_dialog.h"
#include "editor/input_widgets.h"

#include "support/fake_encoder_types.h"

#include <obs.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

namespace relaycast {
namespace {

using FormRow = EncoderForm::FormRow;

const FormRow* findRow(const EncoderForm& form, const char* name) {
    for (const FormRow& row : form.rows())
        if (row.name == name)
            return &row;
    return nullptr;
}

template <typename Editor> Editor* editorOf(const EncoderForm& form, const char* name) {
    const FormRow* row = findRow(form, name);
    return row ? dynamic_cast<Editor*>(row->editor) : nullptr;
}

bool rowShown(const EncoderForm& form, const char* name) {
    const FormRow* row = findRow(form, name);
    return row && row->label->isVisibleTo(&form) && row->editor->isVisibleTo(&form);
}

// Chooses an item as the user does: the combo's current item changes, then it reports the
// activation.
void choose(QComboBox* combo, const QString& text) {
    const int index = combo->findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    combo->setCurrentIndex(index);
    Q_EMIT combo->activated(index);
}

QJsonObject settingsJson(const EncoderForm& form) {
    return QJsonDocument::fromJson(obs_data_get_json(form.settingsObject())).object();
}

TEST(EncoderFormX264Test, RateControlChoiceShowsAndHidesTheDependentRowsAtOnce) {
    EncoderForm form;
    form.rebuild("obs_x264", 3500, QString());

    // The dialog's video quality owns the bitrate: no row, yet the settings carry it.
    EXPECT_EQ(findRow(form, "bitrate"), nullptr);
    EXPECT_EQ(obs_data_get_int(form.settingsObject(), "bitrate"), 3500);
    for (const char* name : {"rate_control", "crf", "keyint_sec", "preset", "profile", "tune",
                             "x264opts", "use_bufsize", "buffer_size"})
        EXPECT_NE(findRow(form, name), nullptr) << name;

    // First-time values of a new entry show in their editors.
    ASSERT_NE(editorOf<QSpinBox>(form, "keyint_sec"), nullptr);
    EXPECT_EQ(editorOf<QSpinBox>(form, "keyint_sec")->value(), 2);
    EXPECT_EQ(editorOf<QLineEdit>(form, "x264opts")->text(), QString("bframes=0"));

    auto* rateControl = editorOf<QComboBox>(form, "rate_control");
    ASSERT_NE(rateControl, nullptr);
    EXPECT_EQ(rateControl->currentData().toString(), QString("CBR"));
    EXPECT_FALSE(rowShown(form, "crf"));
    EXPECT_TRUE(rowShown(form, "use_bufsize"));
    EXPECT_FALSE(rowShown(form, "buffer_size"));

    choose(rateControl, "CRF");
    EXPECT_STREQ(obs_data_get_string(form.settingsObject(), "rate_control"), "CRF");
    EXPECT_TRUE(rowShown(form, "crf"));
    EXPECT_FALSE(rowShown(form, "use_bufsize"));
    EXPECT_FALSE(rowShown(form, "buffer_size"));

    choose(rateControl, "VBR");
    EXPECT_TRUE(rowShown(form, "crf"));
    EXPECT_TRUE(rowShown(form, "use_bufsize"));

    // The custom buffer switch reveals its size.
    editorOf<QCheckBox>(form, "use_bufsize")->click();
    EXPECT_TRUE(obs_data_get_bool(form.settingsObject(), "use_bufsize"));
    EXPECT_TRUE(rowShown(form, "buffer_size"));
}

TEST(EncoderFormX264Test, EditsGoIntoTheSettingsObject) {
    EncoderForm form;
    form.rebuild("obs_x264", 4000, QString());

    editorOf<QSpinBox>(form, "keyint_sec")->setValue(5);
    choose(editorOf<QComboBox>(form, "preset"), "slow");
    auto* options = editorOf<QLineEdit>(form, "x264opts");
    options->clear();
    QTest::keyClicks(options, "ref=3");

    const QJsonObject json = settingsJson(form);
    EXPECT_EQ(json.value("keyint_sec").toInt(), 5);
    EXPECT_EQ(json.value("preset").toString(), QString("slow"));
    EXPECT_EQ(json.value("x264opts").toString(), QString("ref=3"));
    EXPECT_EQ(json.value("bitrate").toInt(), 4000);
}

TEST(EncoderFormX264Test, StoredValuesOutsideTheDeclaredChoicesAreShownAndKept) {
    EncoderForm form;
    form.rebuild("obs_x264", 2500,
                 R"({"keyint_sec": 45, "crf": -3, "preset": "ultrafaster", "bitrate": 9000})");

    // Out of the declared 0..20 and 0..51: the range widens, the value is not clamped.
    auto* keyint = editorOf<QSpinBox>(form, "keyint_sec");
    ASSERT_NE(keyint, nullptr);
    EXPECT_EQ(keyint->value(), 45);
    EXPECT_GE(keyint->maximum(), 45);
    auto* crf = editorOf<QSpinBox>(form, "crf");
    EXPECT_EQ(crf->value(), -3);
    EXPECT_LE(crf->minimum(), -3);

    // A preset the encoder does not list shows as an extra item of its own.
    auto* preset = editorOf<QComboBox>(form, "preset");
    EXPECT_EQ(preset->currentText(), QString("ultrafaster"));
    EXPECT_EQ(preset->currentData().toString(), QString("ultrafaster"));

    // Another edit leaves all of them as stored; the bitrate is the entry's.
    choose(editorOf<QComboBox>(form, "rate_control"), "CRF");
    const QJsonObject json = settingsJson(form);
    EXPECT_EQ(json.value("keyint_sec").toInt(), 45);
    EXPECT_EQ(json.value("crf").toInt(), -3);
    EXPECT_EQ(json.value("preset").toString(), QString("ultrafaster"));
    EXPECT_EQ(json.value("bitrate").toInt(), 2500);
    EXPECT_EQ(preset->currentText(), QString("ultrafaster"));
    int extraItems = 0;
    for (int i = 0; i < preset->count(); ++i)
        extraItems += preset->itemText(i) == QString("ultrafaster") ? 1 : 0;
    EXPECT_EQ(extraItems, 1);
}

// A fake encoder that declares one property of each kind the form knows and some it does not.
int stepReactions = 0;

bool autoModified(obs_properties_t* props, obs_property_t*, obs_data_t* settings) {
    const bool automatic = obs_data_get_bool(settings, "auto");
    if (automatic) {
        obs_data_set_int(settings, "level", 3);
        obs_data_set_int(settings, "step_zero", 50);
    }
    obs_property_set_enabled(obs_properties_get(props, "level"), !automatic);
    obs_property_set_visible(obs_properties_get(props, "ratio"), !automatic);
    return true;
}

bool stepModified(obs_properties_t*, obs_property_t*, obs_data_t*) {
    ++stepReactions;
    return false;
}

obs_properties_t* kindsProperties(void*) {
    obs_properties_t* props = obs_properties_create();
    obs_properties_add_int(props, "", "Sin nombre", 0, 10, 1);
    obs_properties_add_int(props, "bitrate", "Tasa", 0, 100000, 1);
    obs_property_t* p = obs_properties_add_int(props, "step_zero", "Paso cero", 0, 100, 0);
    obs_property_int_set_suffix(p, "ms");
    obs_property_set_modified_callback(p, stepModified);
    obs_properties_add_float(props, "float_zero", "Flotante", 0.0, 10.0, 0.0);
    p = obs_properties_add_float(props, "float_quarter", "", 0.0, 10.0, 0.25);
    obs_property_float_set_suffix(p, "dB");
    obs_properties_add_text(props, "secret", "Secreto", OBS_TEXT_PASSWORD);
    obs_properties_add_text(props, "plain", "Texto", OBS_TEXT_DEFAULT);
    p = obs_properties_add_list(props, "level", "Nivel", OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_INT);
    obs_property_list_add_int(p, "Uno", 1);
    obs_property_list_add_int(p, "Dos", 2);
    obs_property_list_item_disable(p, 1, true);
    obs_property_list_add_int(p, "Tres", 3);
    p = obs_properties_add_list(props, "ratio", "Proporción", OBS_COMBO_TYPE_LIST,
                                OBS_COMBO_FORMAT_FLOAT);
    obs_property_list_add_float(p, "Mitad", 0.5);
    obs_property_list_add_float(p, "Entera", 1.0);
    p = obs_properties_add_bool(props, "auto", "Automático");
    obs_property_set_modified_callback(p, autoModified);
    obs_properties_add_path(props, "file", "Archivo", OBS_PATH_FILE, "*", nullptr);
    obs_properties_add_color(props, "colour", "Color");
    obs_properties_add_button2(props, "press", "Pulsar", nullptr, nullptr);
    obs_properties_t* inner = obs_properties_create();
    obs_properties_add_int(inner, "inner", "Dentro", 0, 10, 1);
    obs_properties_add_group(props, "group", "Grupo", OBS_GROUP_NORMAL, inner);
    return props;
}

void kindsDefaults(obs_data_t* settings) {
    obs_data_set_default_int(settings, "step_zero", 5);
    obs_data_set_default_double(settings, "float_zero", 1.5);
    obs_data_set_default_int(settings, "level", 1);
    obs_data_set_default_double(settings, "ratio", 0.5);
    obs_data_set_default_string(settings, "plain", "hola");
}

class EncoderFormKindsTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        test::registerFakeEncoderType({.id = "rc_test_form_kinds",
                                       .displayName = "Tipos",
                                       .getProperties = kindsProperties,
                                       .getDefaults = kindsDefaults});
        test::registerFakeEncoderType({.id = "rc_test_form_bare", .displayName = "Sin ajustes"});
    }
};

TEST_F(EncoderFormKindsTest, EachPropertyKindGetsItsEditor) {
    EncoderForm form;
    form.rebuild("rc_test_form_kinds", 1000, QString());

    // Unnamed, bitrate, path, colour, button and group properties get no row.
    QList<QByteArray> names;
    for (const FormRow& row : form.rows())
        names << row.name;
    EXPECT_EQ(names, (QList<QByteArray>{"step_zero", "float_zero", "float_quarter", "secret",
                                        "plain", "level", "ratio", "auto"}));

    const FormRow* stepZero = findRow(form, "step_zero");
    EXPECT_EQ(qobject_cast<QLabel*>(stepZero->label)->text(), QString("Paso cero"));
    auto* intSpin = editorOf<NoWheelSpinBox>(form, "step_zero");
    ASSERT_NE(intSpin, nullptr);
    EXPECT_EQ(intSpin->singleStep(), 1);
    EXPECT_EQ(intSpin->suffix(), QString(" ms"));
    EXPECT_EQ(intSpin->value(), 5);

    auto* floatZero = editorOf<NoWheelDoubleSpinBox>(form, "float_zero");
    ASSERT_NE(floatZero, nullptr);
    EXPECT_DOUBLE_EQ(floatZero->singleStep(), 0.1);
    EXPECT_EQ(floatZero->decimals(), 2);
    EXPECT_DOUBLE_EQ(floatZero->value(), 1.5);
    auto* floatQuarter = editorOf<NoWheelDoubleSpinBox>(form, "float_quarter");
    EXPECT_DOUBLE_EQ(floatQuarter->singleStep(), 0.25);
    EXPECT_EQ(floatQuarter->suffix(), QString(" dB"));
    // Without a description the label shows the name.
    EXPECT_EQ(qobject_cast<QLabel*>(findRow(form, "float_quarter")->label)->text(),
              QString("float_quarter"));

    EXPECT_EQ(editorOf<QLineEdit>(form, "secret")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(editorOf<QLineEdit>(form, "plain")->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(editorOf<QLineEdit>(form, "plain")->text(), QString("hola"));

    // Disabled list entries are not offered; items carry the value in the list's format.
    auto* level = editorOf<NoWheelComboBox>(form, "level");
    ASSERT_NE(level, nullptr);
    ASSERT_EQ(level->count(), 2);
    EXPECT_EQ(level->itemText(1), QString("Tres"));
    EXPECT_EQ(level->itemData(1).toLongLong(), 3);
    EXPECT_EQ(level->currentText(), QString("Uno"));
    auto* ratio = editorOf<NoWheelComboBox>(form, "ratio");
    EXPECT_EQ(ratio->currentText(), QString("Mitad"));

    choose(level, "Tres");
    choose(ratio, "Entera");
    EXPECT_EQ(obs_data_get_int(form.settingsObject(), "level"), 3);
    EXPECT_DOUBLE_EQ(obs_data_get_double(form.settingsObject(), "ratio"), 1.0);
    intSpin->setValue(7);
    EXPECT_EQ(obs_data_get_int(form.settingsObject(), "step_zero"), 7);
}

TEST_F(EncoderFormKindsTest, EncoderReactionChangesOtherRowsAtOnce) {
    EncoderForm form;
    form.rebuild("rc_test_form_kinds", 1000, QString());
    auto* level = editorOf<QComboBox>(form, "level");
    ASSERT_TRUE(level->isEnabled());
    ASSERT_TRUE(rowShown(form, "ratio"));

    editorOf<QCheckBox>(form, "auto")->click();
    EXPECT_EQ(obs_data_get_int(form.settingsObject(), "level"), 3);
    EXPECT_EQ(level->currentText(), QString("Tres"));
    EXPECT_EQ(editorOf<QSpinBox>(form, "step_zero")->value(), 50);
    EXPECT_FALSE(level->isEnabled());
    EXPECT_FALSE(rowShown(form, "ratio"));

    editorOf<QCheckBox>(form, "auto")->click();
    EXPECT_TRUE(level->isEnabled());
    EXPECT_TRUE(rowShown(form, "ratio"));
}

TEST_F(EncoderFormKindsTest, ShowingValuesNeitherWritesNorTriggersTheEncoderReaction) {
    EncoderForm form;
    form.rebuild("rc_test_form_kinds", 1000, QString());
    const int reactionsBefore = stepReactions;
    auto* spin = editorOf<QSpinBox>(form, "step_zero");
    EXPECT_EQ(spin->value(), 5);

    // Another property's reaction changes this value: shown, still not an edit.
    editorOf<QCheckBox>(form, "auto")->click();
    EXPECT_EQ(spin->value(), 50);
    EXPECT_EQ(stepReactions, reactionsBefore);

    QTest::keyClicks(editorOf<QLineEdit>(form, "plain"), "!");
    EXPECT_STREQ(obs_data_get_string(form.settingsObject(), "plain"), "hola!");
    EXPECT_EQ(stepReactions, reactionsBefore);

    spin->setValue(51);
    EXPECT_EQ(stepReactions, reactionsBefore + 1);
    EXPECT_EQ(obs_data_get_int(form.settingsObject(), "step_zero"), 51);
}

TEST_F(EncoderFormKindsTest, TypingADecimalNumberIsNotReformattedMidway) {
    EncoderForm form;
    form.rebuild("rc_test_form_kinds", 1000, QString());
    auto* spin = editorOf<QDoubleSpinBox>(form, "float_zero");
    spin->selectAll();
    QTest::keyClicks(spin, QString("2") + spin->locale().decimalPoint() + "5");
    EXPECT_DOUBLE_EQ(spin->value(), 2.5);
    EXPECT_DOUBLE_EQ(obs_data_get_double(form.settingsObject(), "float_zero"), 2.5);
}

TEST_F(EncoderFormKindsTest, UnlistedNumbersShowAsExtraItems) {
    EncoderForm form;
    form.rebuild("rc_test_form_kinds", 1000, R"({"level": 7, "ratio": 0.75})");
    auto* level = editorOf<QComboBox>(form, "level");
    EXPECT_EQ(level->currentText(), QString("7"));
    EXPECT_EQ(level->currentData().toLongLong(), 7);
    auto* ratio = editorOf<QComboBox>(form, "ratio");
    EXPECT_EQ(ratio->currentText(), QString("0.75"));
    EXPECT_DOUBLE_EQ(ratio->currentData().toDouble(), 0.75);
}

TEST_F(EncoderFormKindsTest, EncoderWithoutPropertiesSaysSoAndKeepsItsSettings) {
    EncoderForm form;
    form.rebuild("obs_x264", 1000, QString());
    const QPointer<QWidget> oldEditor = form.rows().first().editor;

    form.rebuild("rc_test_form_bare", 2200, QString());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(oldEditor.isNull());
    EXPECT_TRUE(form.rows().isEmpty());
    auto* layout = qobject_cast<QFormLayout*>(form.layout());
    ASSERT_EQ(layout->rowCount(), 1);
    auto* hint = qobject_cast<QLabel*>(layout->itemAt(0, QFormLayout::SpanningRole)->widget());
    ASSERT_NE(hint, nullptr);
    EXPECT_EQ(hint->text(), QString("Este codificador no ofrece ajustes avanzados."));

    // The entry still stores the first-time values and the bitrate.
    ASSERT_NE(form.settingsObject(), nullptr);
    EXPECT_EQ(obs_data_get_int(form.settingsObject(), "bitrate"), 2200);
    EXPECT_EQ(obs_data_get_int(form.settingsObject(), "keyint_sec"), 2);
}

// The form inside the entry dialog: what the entry stores.
TEST_F(EncoderFormKindsTest, StoredSettingsKeepTheirValuesAndTakeTheVideoQualityAsBitrate) {
    EntryConfig stored;
    stored.id = "e1";
    stored.codificador = "obs_x264";
    stored.videoKbps = 3000;
    stored.ajustesCodificador = R"({"bitrate": 9000, "preset": "ultrafaster", "keyint_sec": 45})";
    EntryDialog dialog(nullptr, stored, true, false, {});
    EncoderForm& form = *dialog.encoderForm();

    choose(editorOf<QComboBox>(form, "rate_control"), "VBR");
    dialog.videoKbpsSpin()->setValue(4200);

    const QJsonObject saved =
        QJsonDocument::fromJson(dialog.resultEntry().ajustesCodificador.toUtf8()).object();
    EXPECT_EQ(saved.value("bitrate").toInt(), 4200);
    EXPECT_EQ(saved.value("preset").toString(), QString("ultrafaster"));
    EXPECT_EQ(saved.value("keyint_sec").toInt(), 45);
    EXPECT_EQ(saved.value("rate_control").toString(), QString("VBR"));
}

TEST_F(EncoderFormKindsTest, SwitchingTheEncoderStartsFromItsDefaultsWithTheVideoQuality) {
    EntryConfig stored;
    stored.codificador = "obs_x264";
    stored.videoKbps = 3000;
    stored.ajustesCodificador = R"({"preset": "slow", "keyint_sec": 7})";
    EntryDialog dialog(nullptr, stored, true, false, {});
    EncoderForm& form = *dialog.encoderForm();
    ASSERT_EQ(editorOf<QSpinBox>(form, "keyint_sec")->value(), 7);

    dialog.videoKbpsSpin()->setValue(2700);
    NoWheelComboBox* encoders = dialog.encoderCombo();
    encoders->setCurrentIndex(encoders->findData("rc_test_form_kinds"));
    EXPECT_NE(findRow(form, "level"), nullptr);
    EXPECT_EQ(findRow(form, "preset"), nullptr);
    EXPECT_EQ(obs_data_get_int(form.settingsObject(), "bitrate"), 2700);

    // Back to x264: its first-time values, the stored edits are gone.
    encoders->setCurrentIndex(encoders->findData("obs_x264"));
    EXPECT_EQ(editorOf<QSpinBox>(form, "keyint_sec")->value(), 2);
    EXPECT_EQ(editorOf<QLineEdit>(form, "x264opts")->text(), QString("bframes=0"));
    EXPECT_NE(settingsJson(form).value("preset").toString(), QString("slow"));
    EXPECT_EQ(settingsJson(form).value("bitrate").toInt(), 2700);
}

} // namespace
} // namespace relaycast
