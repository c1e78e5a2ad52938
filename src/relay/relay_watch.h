#pragma once

#include "engine/destinations/destination_status.h"
#include "relay/relay_stats.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace relaycast {

// How OBS's stream to the relay and the relay's pushes are seen, from the output OBS sends the
// relay and the relay's statistics page, read every kRelayReadEveryMs while that output runs.
// Plain state fed the page reads and a clock; the caller runs the reads.
inline constexpr int64_t kRelayReadEveryMs = 2000;
// Without a page read this long, what the relay does is not known any more.
inline constexpr int64_t kRelayPageStaleMs = 6000;

enum class RelayLink {
    Idle,         // OBS sends the relay nothing
    Connecting,   // the output to the relay is starting, or no page was read yet
    Live,         // the relay receives OBS's stream
    Reconnecting, // the output to the relay lost it and is recovering
    NotReceiving, // the output runs, yet the relay's page shows no stream from OBS
    Unreachable,  // the output to the relay failed, or its page does not answer
};

class RelayWatch {
public:
    // Whether a page read should start now: the output to the relay runs, none is under way,
    // and the last one began at least kRelayReadEveryMs ago.
    bool readDue(const DestinationStatus& relayOutput, int64_t nowMs) const;
    void readStarted(int64_t nowMs);
    // A read ended: the page as read (`stats.error` set when it could not be read or parsed).
    void readEnded(int64_t nowMs, const RelayStats& stats);
    // OBS stopped sending: what was read is forgotten.
    void reset();

    RelayLink link(const DestinationStatus& relayOutput, int64_t nowMs) const;
    // A relayed destination's status: the output's state while it is not live, else what the
    // relay's page says of its push to it.
    DestinationStatus destinationStatus(const DestinationStatus& relayOutput,
                                        const QString& destinationId, int64_t nowMs) const;
    // How many pushes the last page showed connected, of how many; nothing without a page.
    std::optional<std::pair<int, int>> pushesConnected(int64_t nowMs) const;
    // Why the page could not be read lately; empty when it was.
    QString pageError(int64_t nowMs) const;

private:
    bool pageFresh(int64_t nowMs) const;

    bool reading_ = false;
    std::optional<int64_t> lastReadStartMs_;
    std::optional<int64_t> lastPageMs_; // the last page read whole
    RelayStats lastPage_;
    QString lastError_; // of the last read, when it failed
};

} // namespace relaycast
