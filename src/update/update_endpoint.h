#pragma once

#include <QString>

namespace relaycast {

// The maker's web host: where the version manifest is published and the only host a download
// address may point to.
inline constexpr const char* kUpdateHost = "updates.relaycast.app";
inline constexpr int kUpdatePort = 443;
inline constexpr const char* kUpdatePath = "/relaycast/version.json";
inline constexpr const char* kUpdateUserAgent = "Relaycast-UpdateCheck";

// Where an update check connects.
struct UpdateEndpoint {
    // Name checked against the server certificate, sent as the Host header and required as the
    // host of a download address.
    QString host = QString::fromLatin1(kUpdateHost);
    int port = kUpdatePort;
    // A certificate authority file trusted besides the system's own; empty for none.
    QString caFile;
    // Connect to this address instead of resolving `host`; empty to resolve it.
    QString connectAddress;
};

// The endpoint the panel's check uses: the published one unless a test installed another.
UpdateEndpoint panelUpdateEndpoint();
// Installs `endpoint` (copied) for checks created afterwards; null restores the published one.
// Interface thread only.
void setPanelUpdateEndpoint(const UpdateEndpoint* endpoint);

} // namespace relaycast
