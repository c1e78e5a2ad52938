// Previews on a screen scaled by 1.5: a host display on the card's native window, sized in
// device pixels, only while the entry is live, its toggle on and the dock visible.

#include "engine/picture/entry_pipeline.h"
#include "panel/preview_widget.h"
#include "support/local_servers.h"
#include "support/panel_fixture.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <obs.h>

#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

// Read by the toolkit when the test's QApplication is created, after static initialisation.
const bool kScaled = [] { return setenv("QT_SCALE_FACTOR", "1.5", 1) == 0; }();

obs_display_t* displayOf(const SalidasPanel& panel, const QString& entryId) {
    const EntryRuntime* runtime = panel.runtimeOf(entryId);
    return runtime && runtime->pipeline ? runtime->pipeline->previewDisplay : nullptr;
}

QToolButton* previewToggle(const SalidasPanel& panel, const QString& entryId) {
    return panel.switchRow(entryId)->parentWidget()->findChildren<QToolButton*>().front();
}

TEST(PanelPreview, ADisplayFollowsLiveToggleAndVisibilityAtTheScreensPixelRatio) {
    ASSERT_TRUE(kScaled);
    RtmpServer rtmp;
    QString error;
    ASSERT_TRUE(rtmp.start(&error)) << error.toStdString();
    OBSSceneAutoRelease scene = createScene("vista-escena");
    OBSSourceAutoRelease colour = createColorSource("vista-color", kOpaqueGreen, 640, 360);
    addToScene(scene, colour);

    PanelWorld world;
    EntryConfig entry = entrySending(QStringLiteral("vista-escena"), 640, 360,
                                     {destination("d1", rtmp.url(), "vista")});
    entry.id = QStringLiteral("e1");
    entry.videoKbps = 600;
    world.entries() << entry;
    auto panel = world.openPanel();
    ASSERT_DOUBLE_EQ(panel->devicePixelRatioF(), 1.5);

    // On before the entry is live: nothing shows.
    QTest::mouseClick(previewToggle(*panel, "e1"), Qt::LeftButton);
    ASSERT_TRUE(previewToggle(*panel, "e1")->isChecked());
    EXPECT_TRUE(panel->previewWidget("e1")->isHidden());

    clickDestination(*panel, "d1");
    PreviewWidget* preview = panel->previewWidget("e1");
    EXPECT_FALSE(preview->isHidden());
    ASSERT_TRUE(pumpUntil([&] { return displayOf(*panel, "e1") != nullptr; }, 5s));
    // The widget is laid out once shown; the display follows its size at the next refresh.
    uint32_t width = 0;
    uint32_t height = 0;
    EXPECT_TRUE(pumpUntil(
        [&] {
            obs_display_size(displayOf(*panel, "e1"), &width, &height);
            return width == static_cast<uint32_t>(preview->width() * 1.5) && width > 0;
        },
        3s))
        << width << " for a widget " << preview->width() << " wide";
    EXPECT_EQ(height, 195u);
    EXPECT_EQ(panel->runtimeOf("e1")->pipeline->previewWindow,
              reinterpret_cast<void*>(preview->winId()));

    // A hidden dock costs no rendering; shown again, the display comes back.
    panel->hide();
    EXPECT_TRUE(pumpUntil([&] { return displayOf(*panel, "e1") == nullptr; }, 3s));
    EXPECT_TRUE(panel->isEntryLive("e1"));
    panel->show();
    EXPECT_TRUE(pumpUntil([&] { return displayOf(*panel, "e1") != nullptr; }, 3s));

    // A rebuild gives the card a new native window and the display follows it.
    const void* oldWindow = panel->runtimeOf("e1")->pipeline->previewWindow;
    panel->rebuildCards();
    EXPECT_TRUE(pumpUntil(
        [&] {
            const EntryRuntime* runtime = panel->runtimeOf("e1");
            return runtime->pipeline && runtime->pipeline->previewDisplay &&
                   runtime->pipeline->previewWindow ==
                       reinterpret_cast<void*>(panel->previewWidget("e1")->winId());
        },
        3s));
    EXPECT_NE(panel->runtimeOf("e1")->pipeline->previewWindow, oldWindow);
    EXPECT_TRUE(previewToggle(*panel, "e1")->isChecked());

    // Stopping the last destination hides the preview and keeps the toggle on.
    clickDestination(*panel, "d1");
    EXPECT_TRUE(pumpUntil([&] { return !panel->isEntryLive("e1"); }, 20s));
    pumpFor(600ms);
    EXPECT_TRUE(panel->previewWidget("e1")->isHidden());
    EXPECT_EQ(displayOf(*panel, "e1"), nullptr);
    EXPECT_TRUE(previewToggle(*panel, "e1")->isChecked());

    // Toggled off while live: hidden at once, display gone.
    clickDestination(*panel, "d1");
    EXPECT_TRUE(pumpUntil([&] { return displayOf(*panel, "e1") != nullptr; }, 5s));
    QTest::mouseClick(previewToggle(*panel, "e1"), Qt::LeftButton);
    EXPECT_TRUE(panel->previewWidget("e1")->isHidden());
    EXPECT_EQ(displayOf(*panel, "e1"), nullptr);
}

} // namespace
