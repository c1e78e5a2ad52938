#pragma once

// The host's streaming services as the remote requests offer them, and a destination's
// "service" and "server" fields, checked against the host's list.

#include "address/service_catalog.h"
#include "address/service_limits.h"
#include "config/config_model.h"
#include "plugin/remote_entry_fields.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <optional>

namespace relaycast {

class EntryController;

// obs-websocket carries our answers as OBS data, whose arrays hold objects only: a list of
// names is a list of objects with one field.
QJsonArray namedList(const QStringList& names, const char* field);

// "GetServices": every service of the host's list we can send to, with its servers and its
// limits (a zero or empty limit is left out). Where the list was read from is not told.
QJsonObject remoteServiceList(const ServiceCatalog& catalog);
QJsonObject getServices(EntryController& controller, const QJsonObject& data);

// Applies "service" (a name or former name in `catalog`, "" for an address of the user's own)
// and "server" (a server's name or address) over `destination`, whose "address" the request
// already set (`before`: as it was). A service without an address takes its server's, or its
// preferred one's; an address changed without a service is recognised in the list, as the
// editor recognises a typed one; an address given with a service must be one of its servers or
// on the same host. The service is stored by its current name.
std::optional<RemoteRefusal> applyServiceFields(const QJsonObject& data,
                                                const ServiceCatalog& catalog,
                                                const DestConfig& before, DestConfig* destination);

// When the request changed the destination's service or address (from `before`) and left its
// encode fields out, the destination takes the size and the bitrate cap its service needs.
void applyServiceFit(const QJsonObject& data, const RemoteChoices::ServiceFitOf& fitOf,
                     const EntryConfig& entry, const DestConfig& before, DestConfig* destination);

// What an answer tells of a destination's service: "service" when it has one, and
// "serviceRefusals" and "serviceNotes" (each a list of {message}) when its fit has any.
QJsonObject remoteServiceFields(const DestConfig& destination,
                                const std::optional<ServiceFit>& fit);

} // namespace relaycast
