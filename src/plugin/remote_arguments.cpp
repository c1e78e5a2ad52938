#include "plugin/remote_arguments.h"

#include "engine/entry/entry_controller.h"
#include "plugin/remote_requests.h"

namespace relaycast {

bool textArgument(const QJsonObject& data, const char* name, QString* value, QJsonObject* error) {
    const QJsonValue found = data.value(QLatin1String(name));
    if (found.isString() && !found.toString().isEmpty()) {
        *value = found.toString();
        return true;
    }
    *error = remoteError(
        "MissingArgument",
        QStringLiteral("The request needs \"%1\" as a non-empty text.").arg(QLatin1String(name)));
    return false;
}

bool entryArgument(EntryController& controller, const QJsonObject& data, Ids* ids,
                   QJsonObject* error) {
    if (!textArgument(data, "entryId", &ids->entryId, error))
        return false;
    if (controller.findEntry(ids->entryId))
        return true;
    *error = remoteError("UnknownEntry",
                         QStringLiteral("No entry with id \"%1\" in the current scene collection.")
                             .arg(ids->entryId));
    return false;
}

bool destinationArgument(EntryController& controller, const QJsonObject& data, Ids* ids,
                         QJsonObject* error) {
    if (!entryArgument(controller, data, ids, error) ||
        !textArgument(data, "destinationId", &ids->destinationId, error))
        return false;
    if (controller.findDestination(ids->entryId, ids->destinationId))
        return true;
    *error = remoteError("UnknownDestination",
                         QStringLiteral("The entry \"%1\" has no destination with id \"%2\".")
                             .arg(ids->entryId, ids->destinationId));
    return false;
}

} // namespace relaycast
