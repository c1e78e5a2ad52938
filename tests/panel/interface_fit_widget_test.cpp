// The dock at its default width (360 px) and the editor at its opening size in the languages
// with the longest and the widest texts: no button, check box, plain label or state line is cut
// where the cut would hide what it says. The language comes from RELAYCAST_FIT_LOCALE (the build
// runs this program once per language); each text that does not fit is named. With
// RELAYCAST_SCREENSHOT_DIR set it also saves both as pictures for the documentation, e.g.
//   RELAYCAST_SCREENSHOT_DIR=docs/languages RELAYCAST_FIT_LOCALE=pt-BR
//   xvfb-run -a -s "-screen 0 1280x1024x24" interface_fit_widget_test

#include "editor/dest_row_widget.h"
#include "editor/entry_dialog.h"
#include "editor/input_widgets.h"
#include "support/panel_fixture.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

extern "C" const char* relaycastHostTestLocale() {
    const char* locale = std::getenv("RELAYCAST_FIT_LOCALE");
    return locale && *locale ? locale : "de-DE";
}

using namespace relaycast;
using namespace relaycast::test;

namespace {

// Every visible text of `root` that is narrower than it needs: buttons and check boxes against
// their size hint, labels that neither wrap nor elide against theirs, state lines (elided by
// design) against their full text.
QStringList cutTexts(QWidget* root) {
    QStringList cut;
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        if (button->isVisibleTo(root) && !button->text().isEmpty() &&
            button->width() < button->sizeHint().width())
            cut << QStringLiteral("button \"%1\": %2 of %3 px")
                       .arg(button->text())
                       .arg(button->width())
                       .arg(button->sizeHint().width());
    }
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(root) || label->text().isEmpty() || label->wordWrap())
            continue;
        const auto* elided = dynamic_cast<ElidedLabel*>(label);
        const QString text = elided ? elided->fullText : label->text();
        const int needed = label->fontMetrics().horizontalAdvance(text);
        if (label->contentsRect().width() < needed)
            cut << QStringLiteral("label \"%1\": %2 of %3 px")
                       .arg(text)
                       .arg(label->contentsRect().width())
                       .arg(needed);
    }
    return cut;
}

void savePictureIfAsked(QWidget* widget, const char* name) {
    const char* dir = std::getenv("RELAYCAST_SCREENSHOT_DIR");
    if (!dir || !*dir)
        return;
    const QString file =
        QDir(QString::fromLocal8Bit(dir))
            .filePath(QStringLiteral("%1-%2.png")
                          .arg(QLatin1String(name), QLatin1String(relaycastHostTestLocale())));
    EXPECT_TRUE(widget->grab().save(file)) << file.toStdString();
}

EntryConfig entryWithTwoDestinations() {
    EntryConfig entry =
        entrySending(QStringLiteral("fit-scene"), 1080, 1920,
                     {destination("d1", "rtmp://127.0.0.1/live", "k"),
                      destination("d2", "srt://127.0.0.1:9000", "id", "passphrase-1")});
    entry.id = QStringLiteral("e1");
    entry.nombre = QStringLiteral("Vertical");
    return entry;
}

TEST(InterfaceFit, TheDockAndTheEditorShowEveryTextWhole) {
    OBSSceneAutoRelease scene = createScene("fit-scene");
    PanelWorld world;
    world.entries() << entryWithTwoDestinations();
    auto panel = world.openPanel();
    QCoreApplication::processEvents();
    // A text that needs more room widens the dock past its default width instead of being cut.
    EXPECT_LE(panel->width(), 360)
        << relaycastHostTestLocale() << ": the dock needs " << panel->width() << " px";
    const QStringList dockCut = cutTexts(panel.get());
    EXPECT_TRUE(dockCut.isEmpty()) << relaycastHostTestLocale() << " dock:\n"
                                   << dockCut.join('\n').toStdString();
    savePictureIfAsked(panel.get(), "dock");

    // With its relay, whose section then opens, and one row marked for it.
    EntryConfig edited = world.entries().at(0);
    edited.relevo.entrada = QStringLiteral("rtmp://127.0.0.1/live");
    edited.relevo.estadisticas = QStringLiteral("http://127.0.0.1:8080/stat");
    edited.destinos[0].porRelevo = true;
    EntryDialog dialog(panel.get(), edited, true, false, {});
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QCoreApplication::processEvents();
    const QStringList editorCut = cutTexts(&dialog);
    EXPECT_TRUE(editorCut.isEmpty()) << relaycastHostTestLocale() << " editor:\n"
                                     << editorCut.join('\n').toStdString();
    savePictureIfAsked(&dialog, "editor");
}

} // namespace
