// The relay's statistics page on arbitrary text (it comes over the network from a server we do
// not control): reading never fails on it, and what it gives back is only our destinations' ids,
// each once and in their order, never an address or key from the page.

#include "relay/relay_stats.h"

#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>

using namespace relaycast;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const RelaySettings relay = {QStringLiteral("rtmp://127.0.0.1:19352/in"),
                                        QStringLiteral("http://127.0.0.1:19354/stats"),
                                        QStringLiteral("Rel4ySecretAbcdefgh"), QString()};
    static const QList<RelayedDestination> destinations = {
        {"up", "rtmp://127.0.0.1:19351/live", "platformkey123"},
        {"tls", "rtmps://live.example/app", "tlskey-9012"},
        {"srt", "srt://srt.example:9000", "srt-streamid"},
    };
    const QByteArray page(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const RelayStats stats = readRelayStats(page, relay, destinations);
    if (!stats.error.isEmpty()) {
        FUZZ_CHECK(stats.pushes.isEmpty() && !stats.publisherConnected);
        return 0;
    }
    FUZZ_CHECK(stats.pushes.size() == destinations.size());
    for (int i = 0; i < stats.pushes.size(); ++i)
        FUZZ_CHECK(stats.pushes[i].destinationId == destinations[i].id);
    return 0;
}
