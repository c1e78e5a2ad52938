// Previews: a host display per live, previewed entry, drawn on the card's native window while
// the dock is visible.

#include "engine/picture/entry_pipeline.h"
#include "panel/preview_widget.h"
#include "panel/salidas_panel.h"

#include <obs.h>
#if !defined(_WIN32)
#include <obs-nix-platform.h>
#endif

namespace relaycast {
namespace {

constexpr int kPreviewHeight = 130;
constexpr uint32_t kPreviewBackground = 0xFF000000; // opaque black

// The host's description of a native window. Only X11 windows can be handed over on Linux;
// elsewhere in Linux (Wayland) no display is created.
bool describeWindow(WId window, gs_window& out) {
#if defined(_WIN32)
    out.hwnd = reinterpret_cast<void*>(window);
    return true;
#else
    if (obs_get_nix_platform() != OBS_NIX_PLATFORM_X11_EGL)
        return false;
    out.id = static_cast<uint32_t>(window);
    out.display = obs_get_nix_platform_display();
    return true;
#endif
}

void createDisplay(EntryPipeline& pipeline, WId window, uint32_t width, uint32_t height) {
    gs_init_data init = {};
    if (!describeWindow(window, init.window))
        return;
    init.cx = width;
    init.cy = height;
    init.num_backbuffers = 0;
    init.format = GS_BGRA;
    init.zsformat = GS_ZS_NONE;
    init.adapter = 0;
    obs_display_t* display = obs_display_create(&init, kPreviewBackground);
    if (!display)
        return; // tried again at the next refresh
    pipeline.previewDisplay = display;
    pipeline.previewWindow = reinterpret_cast<void*>(window);
    obs_display_add_draw_callback(display, drawPipelinePreview, &pipeline);
    obs_display_set_enabled(display, true);
}

} // namespace

PreviewWidget::PreviewWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_PaintOnScreen);
    setAttribute(Qt::WA_StaticContents);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_DontCreateNativeAncestors);
    setAttribute(Qt::WA_NativeWindow);
    setFixedHeight(kPreviewHeight);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

PreviewWidget::~PreviewWidget() = default;

QPaintEngine* PreviewWidget::paintEngine() const {
    return nullptr;
}

void SalidasPanel::onPreviewToggled(const QString& entryId, bool on) {
    guarded("Error inesperado al mostrar la vista previa.", [&] {
        if (on)
            previewEnabled.insert(entryId);
        else
            previewEnabled.remove(entryId);
        refreshStatus();
    });
}

void SalidasPanel::refreshPreview(const QString& entryId, PreviewWidget* preview) {
    EntryPipeline* pipeline = controller_.pipelineOf(entryId);
    const bool show = controller_.isEntryLive(entryId) && previewEnabled.contains(entryId);
    if (!show) {
        preview->hide();
        if (pipeline)
            destroyPreviewDisplay(*pipeline);
        return;
    }

    preview->show();
    const qreal ratio = preview->devicePixelRatioF();
    const auto width = static_cast<uint32_t>(preview->width() * ratio);
    const auto height = static_cast<uint32_t>(preview->height() * ratio);
    const WId window = preview->winId(); // creates the native window when needed
    if (!pipeline)
        return;

    if ((!pipeline->view && !pipeline->mainMix) || window == 0 || width == 0 || height == 0) {
        destroyPreviewDisplay(*pipeline);
        return;
    }
    // A rebuilt card has a new native window: the old display cannot follow it.
    if (pipeline->previewDisplay && pipeline->previewWindow != reinterpret_cast<void*>(window))
        destroyPreviewDisplay(*pipeline);
    if (pipeline->previewDisplay) {
        obs_display_resize(pipeline->previewDisplay, width, height);
        obs_display_set_enabled(pipeline->previewDisplay, true);
        return;
    }
    createDisplay(*pipeline, window, width, height);
}

void SalidasPanel::destroyPreviewDisplays() {
    controller_.forEachPipeline([](EntryPipeline& pipeline) { destroyPreviewDisplay(pipeline); });
}

} // namespace relaycast
