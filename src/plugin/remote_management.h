#pragma once

#include <QJsonObject>

namespace relaycast {

class EntryController;
struct EntryListChange;

inline constexpr const char* kEntryListChangedEvent = "EntryListChanged";

// Inputs and destinations created, changed and removed remotely, checked as the editor checks
// them: "GetProfiles", "CreateEntry", "UpdateEntry", "DeleteEntry", "AddDestination",
// "UpdateDestination", "RemoveDestination", "SetBitrate". A change is whole or not at all;
// a streaming input takes live what the editor changes live and answers "EntryLive" with the
// fields that need it stopped. Each change is saved and told to the entry-list listeners.
// Interface thread only.
QJsonObject getProfiles(EntryController& controller, const QJsonObject& data);
QJsonObject createEntry(EntryController& controller, const QJsonObject& data);
QJsonObject updateEntry(EntryController& controller, const QJsonObject& data);
QJsonObject deleteEntry(EntryController& controller, const QJsonObject& data);
QJsonObject addDestination(EntryController& controller, const QJsonObject& data);
QJsonObject updateDestination(EntryController& controller, const QJsonObject& data);
QJsonObject removeDestination(EntryController& controller, const QJsonObject& data);
QJsonObject setBitrate(EntryController& controller, const QJsonObject& data);

// The event data of an entry-list change: change ("created", "updated", "removed"), entryId,
// destinations (each {destinationId}).
QJsonObject entryListChangeEvent(const EntryListChange& change);

} // namespace relaycast
