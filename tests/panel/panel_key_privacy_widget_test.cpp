// Keys carried in address queries, in key fields and in passphrases never show in the dock (its
// labels, tooltips and notices) or in the plug-in's log lines, whatever the servers and the host
// answer; the editor hides an address's query like a key and warns that OBS logs addresses as
// they are.

#include "editor/dest_row_widget.h"
#include "editor/entry_dialog.h"
#include "support/local_servers.h"
#include "support/log_capture.h"
#include "support/panel_fixture.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

const QStringList kSecrets{QStringLiteral("token-secreto-rtmp"),
                           QStringLiteral("clave-secreta-rtmp"), QStringLiteral("id-secreto-srt"),
                           QStringLiteral("frase-secreta-123"),
                           QStringLiteral("id-secreto-muerto")};

// Every text a user can see on the dock: labels, buttons and their tooltips.
QStringList visibleTexts(const QWidget& root) {
    QStringList texts;
    for (const QLabel* label : root.findChildren<QLabel*>())
        texts << label->text() << label->toolTip();
    for (const QAbstractButton* button : root.findChildren<QAbstractButton*>())
        texts << button->text() << button->toolTip();
    return texts;
}

QStringList leaksIn(const QStringList& texts) {
    QStringList leaks;
    for (const QString& text : texts)
        for (const QString& secret : kSecrets)
            if (text.contains(secret))
                leaks << text;
    return leaks;
}

TEST(PanelKeyPrivacy, KeysInQueriesNeverReachTheDockItsNoticesOrThePluginsLog) {
    LogCapture log;
    RtmpServer rtmp;
    SrtListener srt(QStringLiteral("frase-correcta-9"));
    QString error;
    ASSERT_TRUE(rtmp.start(&error)) << error.toStdString();
    ASSERT_TRUE(srt.start(&error)) << error.toStdString();
    OBSSceneAutoRelease scene = createScene("privada");
    OBSSourceAutoRelease colour = createColorSource("privada-color", kOpaqueRed, 640, 360);
    addToScene(scene, colour);

    PanelWorld world;
    EntryConfig entry = entrySending(
        QStringLiteral("privada"), 640, 360,
        {destination("rtmp", rtmp.url() + QStringLiteral("?token=token-secreto-rtmp"),
                     "clave-secreta-rtmp"),
         destination("srt", srt.url() + QStringLiteral("?streamid=id-secreto-srt"), {},
                     "frase-secreta-123"),
         destination(
             "muerto",
             QStringLiteral("srt://127.0.0.1:%1?streamid=id-secreto-muerto").arg(freePort()))});
    entry.id = QStringLiteral("e1");
    entry.videoKbps = 800;
    world.entries() << entry;
    auto panel = world.openPanel();

    for (const char* id : {"rtmp", "srt", "muerto"}) {
        clickDestination(*panel, id);
        pumpFor(200ms);
    }
    // The RTMP one streams; the wrong passphrase and the dead server fail with the host's words.
    ASSERT_TRUE(pumpUntil(
        [&] {
            return statusTextOf(*panel, "rtmp").startsWith(QString::fromUtf8("● EN EMISIÓN")) &&
                   statusTextOf(*panel, "srt").startsWith(QString::fromUtf8("⚠")) &&
                   statusTextOf(*panel, "muerto").startsWith(QString::fromUtf8("⚠"));
        },
        40s))
        << statusTextOf(*panel, "rtmp").toStdString() << " / "
        << statusTextOf(*panel, "srt").toStdString() << " / "
        << statusTextOf(*panel, "muerto").toStdString();
    clickDestination(*panel, "rtmp");
    ASSERT_TRUE(pumpUntil([&] { return !panel->isEntryLive("e1"); }, 20s));

    EXPECT_EQ(leaksIn(visibleTexts(*panel)), QStringList());
    EXPECT_EQ(leaksIn(log.lines().filter(QStringLiteral("[relaycast]"))), QStringList());
    // The host's own lines are not ours to change: they quote addresses as they are (which is
    // why the editor warns about queries), but a key or passphrase typed in its own field
    // never appears in any line.
    for (const QString& line : leaksIn(log.lines())) {
        EXPECT_TRUE(line.contains(QStringLiteral("?token=token-secreto-rtmp")) ||
                    line.contains(QStringLiteral("?streamid=id-secreto")))
            << line.toStdString();
        EXPECT_FALSE(line.contains(QStringLiteral("clave-secreta-rtmp")) ||
                     line.contains(QStringLiteral("frase-secreta-123")))
            << line.toStdString();
    }

    // The editor: queries hidden like keys until "Mostrar claves", and the RTMP warning.
    EntryDialog dialog(nullptr, world.entries().front(), true, false, {});
    const QList<DestRowWidget*>& rows = dialog.destRows();
    ASSERT_EQ(rows.size(), 3);
    for (const DestRowWidget* row : rows)
        EXPECT_EQ(leaksIn({row->addressEdit()->displayText(), row->keyEdit()->displayText(),
                           row->passphraseEdit()->displayText()}),
                  QStringList());
    for (const DestRowWidget* row : rows)
        EXPECT_FALSE(row->queryWarningLabel()->isHidden());
    dialog.showKeysCheck()->setChecked(true);
    EXPECT_TRUE(
        rows[0]->addressEdit()->displayText().contains(QStringLiteral("token-secreto-rtmp")));
    EXPECT_EQ(rows[0]->addressEdit()->text(),
              rtmp.url() + QStringLiteral("?token=token-secreto-rtmp"))
        << "the stored address is not rewritten";
}

} // namespace
