#pragma once

// The host's streaming services list, found where its rtmp-services module keeps it: the copy
// it updated in the user's configuration folder first, then the one it was installed with.
// Any thread, once the host has loaded its modules.

#include "address/service_catalog.h"

namespace relaycast {

// Read again only when one of the two files changed since the last call.
ServiceCatalog hostServices();

} // namespace relaycast
