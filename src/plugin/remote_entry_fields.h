#pragma once

#include "address/service_limits.h"
#include "config/config_model.h"
#include "engine/entry/entry_edit.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace relaycast {

// Why a remote request was refused: its error code, the message (in the interface language)
// and, for a change a streaming input cannot take, the fields that need it stopped.
struct RemoteRefusal {
    const char* code = "InvalidArgument";
    QString message;
    QStringList fields;
};

// What the host offers that an input may name, as the editor lists it.
struct RemoteChoices {
    std::function<bool(const QString&)> sourceExists;
    QStringList videoEncoders;
    QList<EncoderProfile> profiles;
    // The host's streaming services, and how a destination of an entry fits its service.
    ServiceCatalog services;
    using ServiceFitOf =
        std::function<std::optional<ServiceFit>(const EntryConfig&, const DestConfig&)>;
    ServiceFitOf serviceFit;
};

// The longest text a field takes: the editor's text fields hold no more.
inline constexpr int kMaxRemoteTextLength = 32767;

// UnknownField for the first field of `data` not in `allowed`.
std::optional<RemoteRefusal> refuseUnknownFields(const QJsonObject& data,
                                                 const QStringList& allowed);

// Applies the input fields of a CreateEntry or UpdateEntry request over `entry`, checked as the
// editor checks them: "name", "source", "followsObs", "matches", "width", "height", "fill",
// "encoder", "videoKbps", "audioKbps", "audioCodec", "audioDelayMs", "profile",
// "withObsStream", "sameAsObsStream", "relay" ({"address", "statsUrl", "allowFrom"}; null or {}
// removes it; a new one gets a new secret, which no request gives or reads), "destinations"
// (and "entryId" when `withEntryId`). A "profile" goes first and the request's own fields over
// it. New destinations get new ids. On a refusal `entry` may be half changed: the caller works
// on a copy.
std::optional<RemoteRefusal> applyEntryFields(const QJsonObject& data, const RemoteChoices& choices,
                                              bool withEntryId, EntryConfig* entry);

// Applies "address", "key", "passphrase", "service", "server" (see remote_services.h),
// "throughRelay" and what it takes of the encode ("maxVideoKbps", "width", "height",
// "audioTrack", "delaySecs"; 0 is "as the input") over one destination of `entry`, with
// `allowed` naming the other fields the request may carry (its ids). A field left out stays as
// it was.
std::optional<RemoteRefusal> applyDestinationFields(const QJsonObject& data,
                                                    const QStringList& allowed,
                                                    const RemoteChoices& choices,
                                                    const EntryConfig& entry,
                                                    DestConfig* destination);

// Reads a text field into `out`, left alone when the field is absent.
std::optional<RemoteRefusal> readTextField(const QJsonObject& data, const QString& name,
                                           QString* out);

// Reads the encode fields of a destination; all or nothing.
std::optional<RemoteRefusal> readSendChoice(const QJsonObject& data, SendChoice* choice);

// What a destination takes of the encode, named as the requests name it.
QJsonObject remoteSendChoiceFields(const SendChoice& choice);

// The editor's check of every destination of the entry, numbered as its rows, and of its relay
// with the destinations it carries.
std::optional<RemoteRefusal> checkDestinations(const EntryConfig& entry);

// A field that needs a streaming input stopped, named as the requests name it.
QString remoteFieldName(StopField field);

// The input's fields as GetEntries lists them beside its state (never a key).
QJsonObject remoteEntryFields(const EntryConfig& entry);

} // namespace relaycast
