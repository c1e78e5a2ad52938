#include "engine/audio/audio_source_tree.h"

#include <utility>

namespace relaycast {
namespace {

using SourceList = std::vector<OBSSourceAutoRelease>;

bool isAudioInput(obs_source_t* source) {
    return obs_source_get_type(source) == OBS_SOURCE_TYPE_INPUT &&
           (obs_source_get_output_flags(source) & OBS_SOURCE_AUDIO) != 0;
}

bool contains(const SourceList& list, obs_source_t* source) {
    for (const auto& item : list)
        if (item == source)
            return true;
    return false;
}

void appendRef(SourceList& list, obs_source_t* source) {
    if (obs_source_t* ref = obs_source_get_ref(source))
        list.emplace_back(ref);
}

// What `node` shows one level down. For scenes this is read from item visibility rather than
// from the host's active tree: the host applies the hiding of an item with audio only while
// the scene is part of its own program audio, so a scene seen only through an entry's private
// view would report hidden sources as active for ever.
SourceList shownChildren(obs_source_t* node) {
    SourceList children;
    if (obs_scene_t* scene = obs_group_or_scene_from_source(node)) {
        obs_scene_enum_items(
            scene,
            [](obs_scene_t*, obs_sceneitem_t* item, void* param) {
                if (obs_sceneitem_visible(item))
                    appendRef(*static_cast<SourceList*>(param), obs_sceneitem_get_source(item));
                return true;
            },
            &children);
    } else {
        obs_source_enum_active_sources(
            node,
            [](obs_source_t*, obs_source_t* child, void* param) {
                appendRef(*static_cast<SourceList*>(param), child);
            },
            &children);
    }
    return children;
}

void collect(obs_source_t* node, SourceList& seen, SourceList& wanted) {
    for (OBSSourceAutoRelease& child : shownChildren(node)) {
        if (contains(seen, child))
            continue;
        if (isAudioInput(child))
            appendRef(wanted, child);
        obs_source_t* raw = child;
        seen.push_back(std::move(child));
        collect(raw, seen, wanted);
    }
}

} // namespace

std::vector<OBSSourceAutoRelease> audibleSourcesUnder(obs_source_t* root) {
    SourceList wanted;
    if (!root)
        return wanted;
    if (isAudioInput(root))
        appendRef(wanted, root);
    SourceList seen;
    appendRef(seen, root);
    collect(root, seen, wanted);
    return wanted;
}

} // namespace relaycast
