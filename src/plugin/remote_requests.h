#pragma once

#include "engine/destinations/destination_status.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace relaycast {

class EntryController;
struct DestinationChange;

// What scripts and stream decks ask of the plug-in through obs-websocket, and what it tells
// them. Request and event names are a public interface: they never change.
inline constexpr const char* kRemoteVendorName = "relaycast";
inline constexpr const char* kDestinationStateChangedEvent = "DestinationStateChanged";
inline constexpr const char* kRecordingStateChangedEvent = "RecordingStateChanged";

// "GetEntries", "StartDestination", "StopDestination", "StartEntry", "StopEntry", "StartAll",
// "StopAll", "SwitchSource", "StartRecording", "StopRecording", "GetServices" (see
// remote_services.h) and the management requests (see remote_management.h).
QStringList remoteRequestTypes();

// Runs one request on the controller and returns its response. A request that cannot be done
// answers {"error": {"code": ..., "message": ...}}; codes: "UnknownRequest", "MissingArgument",
// "UnknownEntry", "UnknownDestination", "NotStreaming", "StartFailed", "SwitchFailed", and
// the management requests' "InvalidArgument", "UnknownField", "UnknownSource",
// "UnknownProfile", "UnknownEncoder", "InvalidAddress", "EntryLive", "UnknownService",
// "UnknownServer".
// Interface thread only.
QJsonObject runRemoteRequest(EntryController& controller, const QString& type,
                             const QJsonObject& data);

// A response that reports a failure.
QJsonObject remoteError(const char* code, const QString& message);

// The event data of one change of state: entryId, destinationId, oldState, newState.
QJsonObject destinationChangeEvent(const DestinationChange& change);
// The event a change is told with: a recording's or a destination's.
const char* changeEventName(const DestinationChange& change);

// "Idle", "Starting", "Live", "Reconnecting" or "Failed".
QString remoteStateName(DestinationState state);

} // namespace relaycast
