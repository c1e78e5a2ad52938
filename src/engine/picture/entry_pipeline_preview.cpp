#include "engine/picture/entry_pipeline.h"

#include <graphics/graphics.h>

#include <algorithm>

namespace relaycast {

void drawPipelinePreview(void* param, uint32_t displayWidth, uint32_t displayHeight) {
    const auto* pipeline = static_cast<const EntryPipeline*>(param);
    if (!pipeline || (!pipeline->view && !pipeline->mainMix) || pipeline->width == 0 ||
        pipeline->height == 0 || displayWidth == 0 || displayHeight == 0)
        return;

    OBSSourceAutoRelease source = pipeline->view ? obs_view_get_source(pipeline->view, 0) : nullptr;
    if (!source && !pipeline->mainMix)
        return;

    const auto width = static_cast<double>(pipeline->width);
    const auto height = static_cast<double>(pipeline->height);

    gs_viewport_push();
    gs_projection_push();
    gs_ortho(0.0f, static_cast<float>(width), 0.0f, static_cast<float>(height), -100.0f, 100.0f);

    // Letterboxed: the largest size with the frame's shape, centred in the display.
    const double scale = std::min(displayWidth / width, displayHeight / height);
    const int drawWidth = static_cast<int>(scale * width);
    const int drawHeight = static_cast<int>(scale * height);
    const int x = static_cast<int>(displayWidth) / 2 - drawWidth / 2;
    const int y = static_cast<int>(displayHeight) / 2 - drawHeight / 2;
    gs_set_viewport(x, y, drawWidth, drawHeight);

    // OBS's program as OBS itself shows it, transitions included.
    if (pipeline->mainMix)
        obs_render_main_texture();
    else
        obs_source_video_render(source);

    gs_projection_pop();
    gs_viewport_pop();
}

} // namespace relaycast
