// The entry dialog and its destination rows in an English interface.
#include "editor/entry_dialog.h"

#include "editor/dest_row_widget.h"
#include "editor/input_widgets.h"
#include "editor/recording_box.h"
#include "editor/relay_box.h"
#include "support/fake_frontend.h"
#include "support/icon_text.h"
#include "support/test_host.h"

#include <obs.hpp>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

RELAYCAST_HOST_TEST_LOCALE("en-US")

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

using namespace relaycast;

namespace {

QString currentShownText(const QComboBox* combo) {
    return test::shownItemText(combo, combo->currentIndex());
}

QStringList itemTexts(const QComboBox* combo) {
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts.append(test::shownItemText(combo, i));
    return texts;
}

QStringList formLabels(const EntryDialog& dialog) {
    auto* form = dialog.findChild<QScrollArea*>()->widget()->findChild<QFormLayout*>();
    QStringList labels;
    for (int row = 0; row < form->rowCount(); ++row) {
        QLayoutItem* item = form->itemAt(row, QFormLayout::LabelRole);
        if (auto* label = item ? qobject_cast<QLabel*>(item->widget()) : nullptr)
            labels.append(label->text());
    }
    return labels;
}

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

struct EnglishFixture : ::testing::Test {
    EnglishFixture()
        : stage(test::createScene("Stage")),
          camera(test::createColorSource("Camera", test::kOpaqueRed, 64, 64)) {}
    ~EnglishFixture() override {
        obs_source_remove(obs_scene_get_source(stage));
        obs_source_remove(camera);
    }
    test::FakeFrontend frontend;
    OBSSceneAutoRelease stage;
    OBSSourceAutoRelease camera;
};

TEST_F(EnglishFixture, TheWholeWindowSpeaksEnglish) {
    EntryDialog dialog(nullptr, EntryConfig{}, false, false, {});
    EXPECT_EQ(dialog.windowTitle(), "Add input");
    EXPECT_EQ(formLabels(dialog),
              QStringList({"What do you want to stream:", "Name (optional):", "Video encoder:",
                           "Video quality:", "Audio quality:", "Audio codec:", "Audio delay:",
                           "Image size:", "Framing:", "Profile:"}));
    EXPECT_TRUE(itemTexts(dialog.sourceCombo()).contains("🎬 Scene: Stage"));
    EXPECT_TRUE(itemTexts(dialog.sourceCombo()).contains("🎥 Source: Camera"));
    EXPECT_EQ(dialog.nameEdit()->placeholderText(), "If left empty, the source name is used");
    EXPECT_EQ(dialog.followCheck()->text(), "Follow the scene OBS has live");
    EXPECT_EQ(dialog.advancedToggle()->text(), " Advanced encoder settings");
    EXPECT_EQ(dialog.audioDelaySpin()->suffix(), " ms");
    EXPECT_EQ(itemTexts(dialog.sizeCombo()),
              QStringList({"Same as the OBS canvas", "1920×1080 (landscape)",
                           "1280×720 (landscape)", "1080×1920 (vertical, phones)",
                           "720×1280 (vertical, phones)", "1080×1080 (square)"}));
    EXPECT_EQ(itemTexts(dialog.framingCombo()), QStringList({"Fit, with bars if the shape differs",
                                                             "Fill, cropping what overflows"}));
    EXPECT_EQ(test::shownText(dialog.addDestButton()), "＋ Add another destination");
    EXPECT_EQ(dialog.showKeysCheck()->text(), "Show keys");
    EXPECT_EQ(test::shownText(dialog.addMatchButton()), "＋ Add match");
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    EXPECT_EQ(buttons->button(QDialogButtonBox::Ok)->text(), "OK");
    EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), "Cancel");

    DestRowWidget* row = dialog.destRows().value(0);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(itemTexts(row->serviceCombo()).mid(0, 4),
              QStringList({"Own address…", "Custom RTMP", "Custom SRT", "Custom RIST"}));
    EXPECT_EQ(row->addressEdit()->placeholderText(),
              "rtmp://server/application   or   srt://server:port");
    EXPECT_EQ(row->hintLabel()->text(),
              "Enter an address starting with rtmp://, rtmps://, srt:// or rist://");
    row->addressEdit()->setText("srt://host:9000");
    EXPECT_EQ(row->hintLabel()->text(), "Detected type: SRT");
    EXPECT_EQ(row->keyEdit()->placeholderText(), "Stream ID (optional)");
    EXPECT_EQ(row->passphraseEdit()->placeholderText(), "SRT passphrase (optional)");
    EXPECT_EQ(row->removeButton()->toolTip(), "Remove this destination");
    EXPECT_EQ(row->relayCheck()->text(), "Through the relay");
    EXPECT_EQ(dialog.relayBox()->toggle()->text(), " Own relay");

    const RecordingBox* recording = dialog.recordingBox();
    EXPECT_EQ(recording->title(), "Recording");
    EXPECT_EQ(recording->formatCombo()->itemData(0, Qt::ToolTipRole).toString(),
              "If OBS closes suddenly, what was recorded until then still plays.");
    EXPECT_EQ(recording->folderEdit()->placeholderText(), "OBS's recording folder");
    EXPECT_EQ(recording->browseButton()->toolTip(), "Choose the recording folder");
    EXPECT_EQ(recording->withStreamsCheck()->text(), "Record whenever this input streams");
}

TEST_F(EnglishFixture, StoredValuesOutsideTheListsAndWarningsReadInEnglish) {
    EntryConfig entry;
    entry.id = "e-1";
    entry.fuente = "Old camera";
    entry.ancho = 1600;
    entry.alto = 900;
    entry.seguirObs = true;
    entry.equivalencias = {{"Gone scene", "Stage"}};
    entry.destinos = {{"d-0", "", "", ""}, {"d-1", "rtmp://h", "key", ""}};
    EntryDialog dialog(nullptr, entry, true, false, {});
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Edit input");
    EXPECT_EQ(currentShownText(dialog.sourceCombo()), "⚠ Old camera (no longer exists)");
    EXPECT_EQ(dialog.sizeCombo()->currentText(), "1600×900 (custom)");
    EXPECT_EQ(currentShownText(dialog.matchRows().value(0).left),
              "⚠ Gone scene (no longer exists)");
    EXPECT_EQ(pressOk(dialog), "Destination 1: the RTMP address is missing its final part, for "
                               "example rtmp://server/live.");

    dialog.followCheck()->setChecked(false);
    dialog.sourceCombo()->addItem("nothing", QString());
    dialog.sourceCombo()->setCurrentIndex(dialog.sourceCombo()->count() - 1);
    EXPECT_EQ(pressOk(dialog), "There is no source or scene to choose. Create one in OBS first.");
    EXPECT_TRUE(dialog.isVisible());
}

} // namespace
