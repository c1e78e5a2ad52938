#pragma once

#include <QJsonObject>
#include <QString>

namespace relaycast {

class EntryController;

// The ids a request names.
struct Ids {
    QString entryId;
    QString destinationId;
};

// Each reads a request argument; false with the error response when it is missing, not a
// non-empty text, or names nothing of the current scene collection.
bool textArgument(const QJsonObject& data, const char* name, QString* value, QJsonObject* error);
bool entryArgument(EntryController& controller, const QJsonObject& data, Ids* ids,
                   QJsonObject* error);
bool destinationArgument(EntryController& controller, const QJsonObject& data, Ids* ids,
                         QJsonObject* error);

} // namespace relaycast
