// The dock header's "start all" and "stop all" on real streams: stopping a live show asks
// first, and a cancelled question leaves every stream running.

#include "support/local_servers.h"
#include "support/message_box_driver.h"
#include "support/panel_fixture.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

QPushButton* headerButton(const SalidasPanel& panel, const QString& text) {
    for (QPushButton* button : panel.findChildren<QPushButton*>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

// Answers the next question with the button of that text; returns what it asked.
void answerNextQuestion(const QString& buttonText, QString* asked) {
    whenMessageBoxOpens([buttonText, asked](QMessageBox* box) {
        *asked = box->windowTitle() + QStringLiteral(": ") + box->text();
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == buttonText)
                button->click();
        }
    });
}

} // namespace

TEST(PanelEveryEntry, StartAllStreamsEverythingAndStopAllAsksBeforeCuttingIt) {
    RtmpServer rtmp;
    QString error;
    ASSERT_TRUE(rtmp.start(&error)) << error.toStdString();
    OBSSceneAutoRelease scene = createScene("todo");
    OBSSourceAutoRelease colour = createColorSource("todo-color", kOpaqueBlue, 640, 360);
    addToScene(scene, colour);
    PanelWorld world;
    for (const char* id : {"e1", "e2"}) {
        EntryConfig entry = entrySending(QStringLiteral("todo"), 640, 360,
                                         {destination(QStringLiteral("d-%1").arg(id), rtmp.url(),
                                                      QStringLiteral("todo-%1").arg(id))});
        entry.id = QString::fromLatin1(id);
        entry.videoKbps = 800;
        world.entries() << entry;
    }
    auto panel = world.openPanel();
    QPushButton* startAll = headerButton(*panel, QString::fromUtf8("▶ Emitir todo"));
    QPushButton* stopAll = headerButton(*panel, QString::fromUtf8("■ Parar todo"));
    ASSERT_NE(startAll, nullptr);
    ASSERT_NE(stopAll, nullptr);

    QTest::mouseClick(startAll, Qt::LeftButton);
    const auto bothLive = [&] {
        return statusTextOf(*panel, "d-e1").startsWith(QString::fromUtf8("● EN EMISIÓN")) &&
               statusTextOf(*panel, "d-e2").startsWith(QString::fromUtf8("● EN EMISIÓN"));
    };
    ASSERT_TRUE(pumpUntil(bothLive, 30s)) << statusTextOf(*panel, "d-e1").toStdString();

    QString asked;
    answerNextQuestion(QStringLiteral("Cancelar"), &asked);
    QTest::mouseClick(stopAll, Qt::LeftButton);
    EXPECT_EQ(asked, QString::fromUtf8("Parar todo: Hay emisiones en marcha. Si paras todo, se "
                                       "detendrán todas.\n\n¿Pararlas?"));
    pumpFor(1s);
    EXPECT_TRUE(bothLive());

    answerNextQuestion(QString::fromUtf8("Sí, parar todo"), &asked);
    QTest::mouseClick(stopAll, Qt::LeftButton);
    EXPECT_TRUE(pumpUntil(
        [&] {
            return statusTextOf(*panel, "d-e1") == QStringLiteral("Parado") &&
                   statusTextOf(*panel, "d-e2") == QStringLiteral("Parado");
        },
        20s));
}
