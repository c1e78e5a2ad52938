#include "engine/picture/entry_pipeline.h"

namespace relaycast {

void setViewSource(EntryPipeline& pipeline, obs_source_t* source) {
    if (!pipeline.view || !source)
        return;

    // The old wrapper stays alive until channel 0 shows the new content, so the view never
    // points at a destroyed scene.
    OBSSceneAutoRelease previous = std::move(pipeline.privateScene);

    if (!obs_source_is_scene(source) || pipeline.ownSize) {
        pipeline.privateScene = obs_scene_create_private("relaycast-escena");
        obs_sceneitem_t* item = obs_scene_add(pipeline.privateScene, source);
        if (item) {
            // One bounds box covering the frame, content centred in it: fit leaves bars where
            // the shapes differ, fill lets the overflow fall outside the frame.
            obs_sceneitem_set_bounds_type(item, pipeline.fill ? OBS_BOUNDS_SCALE_OUTER
                                                              : OBS_BOUNDS_SCALE_INNER);
            obs_sceneitem_set_bounds_alignment(item, OBS_ALIGN_CENTER);
            vec2 bounds;
            vec2_set(&bounds, static_cast<float>(pipeline.width),
                     static_cast<float>(pipeline.height));
            obs_sceneitem_set_bounds(item, &bounds);
            vec2 position;
            vec2_set(&position, 0.0f, 0.0f);
            obs_sceneitem_set_pos(item, &position);
        }
        obs_view_set_source(pipeline.view, 0, obs_scene_get_source(pipeline.privateScene));
    } else {
        obs_view_set_source(pipeline.view, 0, source);
    }

    previous = nullptr;
}

} // namespace relaycast
