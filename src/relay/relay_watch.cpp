#include "relay/relay_watch.h"

#include "module/ui_text.h"

namespace relaycast {
namespace {

bool runs(const DestinationStatus& output) {
    return output.state == DestinationState::Starting || output.state == DestinationState::Live ||
           output.state == DestinationState::Reconnecting;
}

} // namespace

bool RelayWatch::readDue(const DestinationStatus& relayOutput, int64_t nowMs) const {
    return runs(relayOutput) && !reading_ &&
           (!lastReadStartMs_ || nowMs - *lastReadStartMs_ >= kRelayReadEveryMs);
}

void RelayWatch::readStarted(int64_t nowMs) {
    reading_ = true;
    lastReadStartMs_ = nowMs;
}

void RelayWatch::readEnded(int64_t nowMs, const RelayStats& stats) {
    reading_ = false;
    lastError_ = stats.error;
    if (stats.error.isEmpty()) {
        lastPage_ = stats;
        lastPageMs_ = nowMs;
    }
}

void RelayWatch::reset() {
    *this = RelayWatch{};
}

bool RelayWatch::pageFresh(int64_t nowMs) const {
    return lastPageMs_ && nowMs - *lastPageMs_ < kRelayPageStaleMs;
}

RelayLink RelayWatch::link(const DestinationStatus& relayOutput, int64_t nowMs) const {
    switch (relayOutput.state) {
    case DestinationState::Idle:
        return RelayLink::Idle;
    case DestinationState::Failed:
        return RelayLink::Unreachable;
    case DestinationState::Starting:
        return RelayLink::Connecting;
    case DestinationState::Reconnecting:
        return RelayLink::Reconnecting;
    case DestinationState::Live:
        break;
    }
    if (pageFresh(nowMs))
        return lastPage_.publisherConnected ? RelayLink::Live : RelayLink::NotReceiving;
    // Live to OBS, but the page has not answered for a while (or not yet).
    return lastPageMs_ || (!lastError_.isEmpty() && !reading_) ? RelayLink::Unreachable
                                                               : RelayLink::Connecting;
}

DestinationStatus RelayWatch::destinationStatus(const DestinationStatus& relayOutput,
                                                const QString& destinationId, int64_t nowMs) const {
    DestinationStatus status;
    status.state = relayOutput.state;
    if (relayOutput.state != DestinationState::Live) {
        status.message = relayOutput.message;
        status.attempts = relayOutput.attempts;
        status.outageSecs = relayOutput.outageSecs;
        status.recoveryAfterSecs = relayOutput.recoveryAfterSecs;
        return status;
    }
    status.throughRelay = true;
    switch (link(relayOutput, nowMs)) {
    case RelayLink::Live:
        break;
    case RelayLink::NotReceiving:
        status.state = DestinationState::Reconnecting;
        status.message = uiText("el relé no recibe la emisión de OBS");
        return status;
    case RelayLink::Unreachable:
        // OBS reaches the relay and the push most likely runs, but nothing says so: not live
        // for whoever reads the state alone.
        status.state = DestinationState::Starting;
        status.message = uiText("la página de estadísticas del relé no responde: no se sabe si "
                                "llega");
        return status;
    default:
        status.state = DestinationState::Starting;
        return status;
    }
    for (const RelayPushState& push : lastPage_.pushes) {
        if (push.destinationId != destinationId)
            continue;
        if (!push.connected) {
            status.state = DestinationState::Reconnecting;
            status.message = uiText("el relé no llega a este destino; lo reintenta cada segundo");
        }
        return status;
    }
    // The relay cannot carry it (see the configuration's list of what it does not relay).
    status.state = DestinationState::Reconnecting;
    status.message = uiText("el relé no envía a este destino");
    return status;
}

std::optional<std::pair<int, int>> RelayWatch::pushesConnected(int64_t nowMs) const {
    if (!pageFresh(nowMs))
        return std::nullopt;
    int connected = 0;
    for (const RelayPushState& push : lastPage_.pushes)
        connected += push.connected ? 1 : 0;
    return std::pair(connected, int(lastPage_.pushes.size()));
}

QString RelayWatch::pageError(int64_t nowMs) const {
    return pageFresh(nowMs) ? QString() : lastError_;
}

} // namespace relaycast
