// The encoder choice, the encoder form and the profile row in an English interface.

#include "editor/encoder_form.h"
#include "editor/entry_dialog.h"
#include "editor/input_widgets.h"
#include "editor/video_encoder_list.h"

#include "support/fake_encoder_types.h"
#include "support/modal_dialog_driver.h"
#include "support/test_host.h"

#include <QAbstractButton>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

RELAYCAST_HOST_TEST_LOCALE("en-US")

namespace relaycast {
namespace {

constexpr const char* kFakeHardware = "rc_test_hw_english";

struct Seen {
    QString title;
    QString text;
    QStringList buttons;
};

// Notes what the next message box shows and clicks the button reading `answer`.
std::shared_ptr<test::ModalWatch> answerBox(Seen* seen, const QString& answer) {
    return test::whenModalDialogOpens(
        [seen, answer](QDialog* dialog) {
            auto* box = static_cast<QMessageBox*>(dialog);
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

std::shared_ptr<test::ModalWatch> typeName(Seen* seen, const QString& name) {
    return test::whenModalDialogOpens(
        [seen, name](QDialog* dialog) {
            auto* input = static_cast<QInputDialog*>(dialog);
            seen->title = input->windowTitle();
            seen->text = input->labelText();
            input->setTextValue(name);
            input->accept();
        },
        &QInputDialog::staticMetaObject);
}

class EnglishEncoderTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        hostOwnHardware = test::hostHasOwnHardwareH264();
        test::registerFakeEncoderType({.id = kFakeHardware, .displayName = "Card"});
    }
    static inline bool hostOwnHardware = false;
};

TEST_F(EnglishEncoderTest, EncoderChoiceAndFormSpeakEnglish) {
    if (hostOwnHardware)
        GTEST_SKIP() << "this host has a hardware H.264 encoder of its own";
    const QList<VideoEncoderChoice> choices = listVideoEncoders();
    ASSERT_EQ(choices.size(), 2);
    EXPECT_EQ(choices[0].label, QString("Card · graphics card · recommended"));
    EXPECT_EQ(choices[1].label, QString("CPU (x264)"));

    EncoderForm form;
    form.rebuild(kFakeHardware, 1000, QString());
    auto* layout = static_cast<QFormLayout*>(form.layout());
    ASSERT_EQ(layout->rowCount(), 1);
    auto* hint = qobject_cast<QLabel*>(layout->itemAt(0, QFormLayout::SpanningRole)->widget());
    ASSERT_NE(hint, nullptr);
    EXPECT_EQ(hint->text(), QString("This encoder has no advanced settings."));
}

TEST_F(EnglishEncoderTest, ProfileRowQuestionsAndWarningsSpeakEnglish) {
    EntryConfig entry;
    entry.codificador = "obs_x264";
    EntryDialog dialog(nullptr, entry, true, false, {});
    EXPECT_EQ(dialog.profileCombo()->itemText(0), QString("(none saved yet)"));
    EXPECT_EQ(dialog.saveProfileButton()->text(), QString("Save profile…"));
    EXPECT_EQ(dialog.deleteProfileButton()->text(), QString("Delete"));

    Seen nothingChosen;
    auto warning = answerBox(&nothingChosen, "Got it");
    dialog.deleteProfileButton()->setEnabled(true);
    dialog.deleteProfileButton()->click();
    ASSERT_TRUE(warning->acted());
    EXPECT_EQ(nothingChosen.text,
              QString("First choose from the list the profile you want to delete."));

    Seen asked;
    auto input = typeName(&asked, "Evening");
    dialog.saveProfileButton()->click();
    ASSERT_TRUE(input->acted());
    EXPECT_EQ(asked.title, QString("Save profile"));
    EXPECT_EQ(asked.text, QString("Profile name:"));
    EXPECT_EQ(dialog.profileCombo()->itemText(0), QString("Choose a profile…"));

    Seen replace;
    auto again = typeName(&asked, "evening");
    auto question = answerBox(&replace, "Yes, replace");
    dialog.saveProfileButton()->click();
    ASSERT_TRUE(question->acted());
    EXPECT_EQ(replace.title, QString("Save profile"));
    EXPECT_EQ(replace.text, QString("A profile named “evening” already exists. Replace it?"));
    EXPECT_EQ(replace.buttons, (QStringList{"Yes, replace", "Cancel"}));

    Seen remove;
    auto confirm = answerBox(&remove, "Cancel");
    dialog.deleteProfileButton()->click();
    ASSERT_TRUE(confirm->acted());
    EXPECT_EQ(remove.title, QString("Delete profile"));
    EXPECT_EQ(remove.text, QString("Delete profile “evening”?"));
    EXPECT_EQ(remove.buttons, (QStringList{"Yes, delete", "Cancel"}));
}

TEST_F(EnglishEncoderTest, ProfileOfAMissingEncoderWarnsInEnglish) {
    EncoderProfile elsewhere;
    elsewhere.nombre = "Laptop";
    elsewhere.codificador = "rc_test_missing_encoder";
    EntryDialog dialog(nullptr, EntryConfig{}, false, false, {elsewhere});

    Seen seen;
    auto warning = answerBox(&seen, "Got it");
    dialog.profileCombo()->setCurrentIndex(1);
    Q_EMIT dialog.profileCombo()->activated(1);
    ASSERT_TRUE(warning->acted());
    EXPECT_EQ(seen.text, QString("Profile “Laptop” uses another encoder that cannot be applied "
                                 "here. Only the video quality was applied."));
}

} // namespace
} // namespace relaycast
