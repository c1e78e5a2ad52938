// The interface helpers' own texts in an English interface (host locale en-US).
#include "editor/ui_helpers.h"

#include "support/message_box_driver.h"
#include "support/test_host.h"

#include <obs.hpp>

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>

#include <gtest/gtest.h>

RELAYCAST_HOST_TEST_LOCALE("en-US")

using namespace relaycast;

namespace {

QStringList buttonTexts(const QMessageBox* box) {
    QStringList texts;
    for (const QAbstractButton* button : box->buttons())
        texts.append(button->text());
    texts.sort();
    return texts;
}

TEST(EnglishHelpers, WarningAndConfirmationSpeakEnglish) {
    QString title;
    QStringList warningButtons, confirmButtons;
    test::whenMessageBoxOpens([&](QMessageBox* box) {
        title = box->windowTitle();
        warningButtons = buttonTexts(box);
        box->buttons().value(0)->click();
    });
    showWarning(nullptr, "The address is not valid.");
    EXPECT_EQ(title, "Relaycast");
    EXPECT_EQ(warningButtons, QStringList({"Got it"}));

    test::whenMessageBoxOpens([&](QMessageBox* box) {
        confirmButtons = buttonTexts(box);
        for (QAbstractButton* button : box->buttons()) {
            if (box->buttonRole(button) == QMessageBox::RejectRole)
                button->click();
        }
    });
    EXPECT_FALSE(askConfirmation(nullptr, "Delete input", "Delete it?", "Delete"));
    EXPECT_EQ(confirmButtons, QStringList({"Cancel", "Delete"}));
}

TEST(EnglishHelpers, SourceCaptionsSpeakEnglish) {
    OBSSceneAutoRelease scene = test::createScene("Stage");
    EXPECT_EQ(describeSource("Stage"), "🎬 Scene: Stage");
    EXPECT_EQ(describeSource("Nobody"), "🎥 Source: Nobody");
    obs_source_remove(obs_scene_get_source(scene));
}

} // namespace
