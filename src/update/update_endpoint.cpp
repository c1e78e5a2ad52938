#include "update/update_endpoint.h"

#include <optional>

namespace relaycast {
namespace {

std::optional<UpdateEndpoint>& installedEndpoint() {
    static std::optional<UpdateEndpoint> endpoint;
    return endpoint;
}

} // namespace

UpdateEndpoint panelUpdateEndpoint() {
    return installedEndpoint().value_or(UpdateEndpoint{});
}

void setPanelUpdateEndpoint(const UpdateEndpoint* endpoint) {
    if (endpoint)
        installedEndpoint() = *endpoint;
    else
        installedEndpoint().reset();
}

} // namespace relaycast
