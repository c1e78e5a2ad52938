#pragma once

#include <QString>

#include <string>

namespace relaycast {

// The relay's statistics page is read at most this long, and no larger than this.
inline constexpr int kRelayStatsTimeoutMs = 2500;
inline constexpr size_t kRelayStatsBodyLimit = 1 << 20;

struct RelayStatsPage {
    bool ok = false;
    std::string body;
    int curlCode = 0;
    long httpStatus = 0;
};

// Once, on the interface thread, before any read.
void prepareRelayStatsFetch();

// One GET of the page, blocking the calling thread for at most kRelayStatsTimeoutMs. Any
// thread: it uses no Qt, so a read still under way as the process ends touches nothing gone.
// Straight to the relay (a proxy would see the secret path); https:// verifies the certificate.
RelayStatsPage fetchRelayStatsPage(const std::string& url);

// Why the page could not be read, in the user's words; neither the address nor the secret.
QString relayStatsPageError(const RelayStatsPage& page);

} // namespace relaycast
