// Pictures of the input editor for the documentation, in the interface language of the host
// locale: a new input, an input edited while it streams, and the encoder's advanced settings.
// Skipped unless asked for, e.g. for English pictures in docs/:
//   RELAYCAST_SCREENSHOT_DIR=docs RELAYCAST_SCREENSHOT_LOCALE=en-US
//   xvfb-run -a -s "-screen 0 1280x1024x24" entry_dialog_screenshots_widget_test
//   --gtest_also_run_disabled_tests

#include "editor/entry_dialog.h"
#include "module/ui_text.h"
#include "support/fake_frontend.h"
#include "support/panel_fixture.h"
#include "support/test_host.h"

#include <obs.hpp>

#include <QDir>
#include <QScrollArea>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>

extern "C" const char* relaycastHostTestLocale() {
    const char* locale = std::getenv("RELAYCAST_SCREENSHOT_LOCALE");
    return locale && *locale ? locale : "es-ES";
}

using namespace relaycast;
using namespace std::chrono_literals;

namespace {

bool savePicture(EntryDialog& dialog, const QString& name) {
    dialog.resize(540, 900);
    dialog.show();
    test::pumpFor(300ms);
    const QString suffix = isSpanishInterface() ? QStringLiteral("es") : QStringLiteral("en");
    const QDir dir(QString::fromLocal8Bit(std::getenv("RELAYCAST_SCREENSHOT_DIR")));
    return dialog.grab().save(
        dir.filePath(QStringLiteral("entry-dialog-%1-%2.png").arg(name, suffix)));
}

} // namespace

TEST(EntryDialogScreenshots, DISABLED_SaveEditorPictures) {
    if (!std::getenv("RELAYCAST_SCREENSHOT_DIR"))
        GTEST_SKIP() << "RELAYCAST_SCREENSHOT_DIR is not set";
    test::FakeFrontend frontend;
    OBSSceneAutoRelease escenario = test::createScene("Escenario");
    OBSSceneAutoRelease entrevista = test::createScene("Entrevista");

    {
        EntryDialog dialog(nullptr, EntryConfig{}, false, false, {});
        EXPECT_TRUE(savePicture(dialog, QStringLiteral("new")));
    }

    EntryConfig live;
    live.id = "programa";
    live.fuente = "Escenario";
    live.nombre = "Programa";
    live.codificador = "obs_x264";
    live.videoKbps = 4500;
    live.ajustesCodificador = R"({"bitrate": 4500, "preset": "veryfast", "profile": "high"})";
    live.ancho = 1280;
    live.alto = 720;
    live.destinos = {{"d-1", "rtmp://live.example/app", "clave-del-canal", ""},
                     {"d-2", "srt://respaldo.example:9000", "", "frase-de-paso"}};
    {
        EntryDialog dialog(nullptr, live, true, true, {});
        EXPECT_TRUE(savePicture(dialog, QStringLiteral("live")));
    }
    {
        EntryDialog dialog(nullptr, live, true, false, {});
        dialog.advancedToggle()->click();
        test::pumpFor(100ms);
        if (auto* scroll = dialog.findChild<QScrollArea*>())
            scroll->ensureWidgetVisible(dialog.advancedPanel(), 0, 0);
        EXPECT_TRUE(savePicture(dialog, QStringLiteral("advanced")));
    }

    obs_source_remove(obs_scene_get_source(escenario));
    obs_source_remove(obs_scene_get_source(entrevista));
}
