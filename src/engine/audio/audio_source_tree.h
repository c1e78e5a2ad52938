#pragma once

#include <obs.hpp>

#include <vector>

namespace relaycast {

// The input sources with audio that `root` shows: the root itself first when it is one, then
// every one reached through visible scene items (nested scenes and groups included) or other
// sources' active children. Each appears once and carries its own reference.
std::vector<OBSSourceAutoRelease> audibleSourcesUnder(obs_source_t* root);

} // namespace relaycast
