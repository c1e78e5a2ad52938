#include "engine/host/host_source_lookup.h"

namespace relaycast {

OBSSourceAutoRelease findHostSource(const QString& name) {
    OBSSourceAutoRelease source = obs_get_source_by_name(name.toUtf8().constData());
    if (source && obs_source_removed(source))
        return nullptr;
    return source;
}

} // namespace relaycast
