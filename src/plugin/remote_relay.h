#pragma once

#include "config/config_model.h"
#include "relay/relay_watch.h"

#include <QJsonObject>
#include <QString>

namespace relaycast {

class EntryController;

// The name GetEntries gives what the relay is seen doing.
QString remoteRelayLinkName(RelayLink link);

// The entry's relay as GetEntries lists it: address, statsUrl, allowFrom (as stored: they hold
// no secret), configurationStale, link, and while its statistics page was read lately
// pushesConnected of pushes, or pageError when it could not be. Never the secret. Empty
// without a relay.
QJsonObject remoteRelayFields(const EntryController& controller, const EntryConfig& entry);

} // namespace relaycast
