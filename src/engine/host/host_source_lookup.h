#pragma once

#include <obs.hpp>

#include <QString>

namespace relaycast {

// The host source or scene of that name, or empty when there is none. A source the user has
// deleted counts as missing even while something (a scene item, a view) still holds it: the
// host keeps such a source findable by name until its last reference goes.
OBSSourceAutoRelease findHostSource(const QString& name);

} // namespace relaycast
