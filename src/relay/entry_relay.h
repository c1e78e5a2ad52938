#pragma once

// What an entry's relay means for the entry: which destinations it carries, the one output OBS
// sends it, and whether the configuration the user installed still matches them. Plain code.

#include "config/config_model.h"
#include "relay/relay_config.h"

#include <QList>
#include <QString>

namespace relaycast {

// Whether `destination` of `entry` goes through the entry's relay rather than out of OBS.
bool sendsThroughRelay(const EntryConfig& entry, const DestConfig& destination);
// Whether any destination of the entry does.
bool usesRelay(const EntryConfig& entry);

RelaySettings relaySettingsOf(const RelayConfig& relay);
// The entry's destinations the relay pushes to, in the entry's order.
QList<RelayedDestination> relayedDestinationsOf(const EntryConfig& entry);
// The configuration its relay needs for them.
RelayConfiguration relayConfigurationOf(const EntryConfig& entry);

// The id of the one output an entry sends its relay; never a destination's id.
QString relayOutputIdOf(const QString& entryId);
bool isRelayOutputId(const QString& outputId);
// That output as a destination: the relay's address, the secret as its stream key.
DestConfig relayOutputOf(const EntryConfig& entry);

// The entry as OBS sends it: its relayed destinations replaced by the one output to the relay,
// where the first of them was.
EntryConfig routedEntry(const EntryConfig& entry);
// The id of the output that carries `destinationId`: the relay's for a relayed destination.
QString routedDestinationId(const EntryConfig& entry, const QString& destinationId);

// A digest of the configuration, keyed with the relay's secret so the settings file tells
// nothing of the keys in it; empty when no configuration can be made.
QString relayConfigurationDigest(const EntryConfig& entry);
// The entry sends through its relay, and its destinations or relay settings changed since the
// configuration was last written (or it never was).
bool relayConfigurationStale(const EntryConfig& entry);

// A new secret: 24 characters of [A-Za-z0-9_-] from the system's random source.
QString newRelaySecret();

} // namespace relaycast
