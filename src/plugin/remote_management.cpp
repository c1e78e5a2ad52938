#include "plugin/remote_management.h"

#include "address/host_services.h"
#include "config/config_store.h"
#include "editor/ui_helpers.h"
#include "editor/video_encoder_list.h"
#include "engine/encoding/service_check.h"
#include "engine/encoding/video_renditions.h"
#include "engine/entry/entry_controller.h"
#include "engine/host/host_source_lookup.h"
#include "engine/picture/entry_pipeline.h"
#include "module/ui_text.h"
#include "plugin/remote_arguments.h"
#include "plugin/remote_entry_fields.h"
#include "plugin/remote_requests.h"
#include "plugin/remote_services.h"
#include "relay/entry_relay.h"

#include <QJsonArray>

#include <algorithm>
#include <utility>

namespace relaycast {
namespace {

RemoteChoices hostChoices(EntryController& controller) {
    RemoteChoices choices;
    choices.sourceExists = [](const QString& name) {
        return !name.isEmpty() && findHostSource(name) != nullptr;
    };
    for (const VideoEncoderChoice& encoder : listVideoEncoders())
        choices.videoEncoders << encoder.id;
    choices.profiles = controller.store().profiles();
    choices.services = hostServices();
    choices.serviceFit = [](const EntryConfig& entry, const DestConfig& destination) {
        return hostServiceFit(entry, destination);
    };
    return choices;
}

QJsonObject refusalAnswer(const RemoteRefusal& refusal) {
    QJsonObject answer = remoteError(refusal.code, refusal.message);
    if (!refusal.fields.isEmpty()) {
        QJsonObject error = answer.value(QLatin1String("error")).toObject();
        error.insert(QStringLiteral("fields"), namedList(refusal.fields, "name"));
        answer.insert(QStringLiteral("error"), error);
    }
    return answer;
}

QJsonArray destinationList(EntryController& controller, const EntryConfig& entry) {
    QJsonArray list;
    for (const DestConfig& destination : entry.destinos) {
        QJsonObject listed = remoteServiceFields(destination, hostServiceFit(entry, destination));
        listed.insert(QStringLiteral("destinationId"), destination.id);
        listed.insert(QStringLiteral("throughRelay"), sendsThroughRelay(entry, destination));
        // Never a key, query or passphrase.
        listed.insert(QStringLiteral("address"), maskAddress(destination.url));
        listed.insert(
            QStringLiteral("state"),
            remoteStateName(controller.destinationStatus(entry.id, destination.id).state));
        list.append(listed);
    }
    return list;
}

QJsonObject missingField(const char* name) {
    return remoteError("MissingArgument",
                       uiText("Falta %1.").arg(uiText("«%1»").arg(QLatin1String(name))));
}

// A successful edit's answer about one part of the input: its destination list gives way to
// `fields`. Errors pass unchanged.
QJsonObject narrowed(QJsonObject answer, const QJsonObject& fields) {
    if (answer.contains(QLatin1String("error")))
        return answer;
    answer.remove(QStringLiteral("destinations"));
    for (auto it = fields.begin(); it != fields.end(); ++it)
        answer.insert(it.key(), it.value());
    return answer;
}

QJsonObject withProblems(QJsonObject answer, const QStringList& problems) {
    if (!problems.isEmpty())
        answer.insert(QStringLiteral("warning"), problems.join(QLatin1Char('\n')));
    return answer;
}

// Lays the request's copy of the entry over the entry, whole or not at all: a streaming input
// refuses what needs it stopped.
QJsonObject applyEdit(EntryController& controller, const EntryConfig& after) {
    const EntryConfig* entry = controller.findEntry(after.id);
    if (!entry)
        return remoteError("UnknownEntry", QStringLiteral("No entry with id \"%1\" in the current "
                                                          "scene collection.")
                                               .arg(after.id));
    if (auto refusal = checkDestinations(after))
        return refusalAnswer(*refusal);
    const EditOutcome outcome = controller.editEntry({*entry, after}, NeedsStop::Refuse);
    if (outcome.result == EditOutcome::Result::Refused) {
        QStringList fields;
        for (StopField field : outcome.needingStop)
            fields << remoteFieldName(field);
        return refusalAnswer({"EntryLive",
                              uiText("La entrada está emitiendo; para cambiar %1 hay que "
                                     "detenerla antes.")
                                  .arg(fields.join(QLatin1String(", "))),
                              fields});
    }
    return withProblems({{"entryId", after.id},
                         {"live", outcome.live},
                         {"destinations", destinationList(controller, after)}},
                        outcome.problems);
}

// The entry a request names, as a copy to change.
bool entryCopy(EntryController& controller, const QJsonObject& data, EntryConfig* copy,
               QJsonObject* error) {
    Ids ids;
    if (!entryArgument(controller, data, &ids, error))
        return false;
    *copy = *controller.findEntry(ids.entryId);
    return true;
}

// `answer` is already made: the state read here is the one after the edit.
QJsonObject destinationAnswer(QJsonObject answer, EntryController& controller,
                              const QString& entryId, const DestConfig& destination) {
    const EntryConfig* entry = controller.findEntry(entryId);
    QJsonObject fields = remoteServiceFields(
        destination, entry ? hostServiceFit(*entry, destination) : std::nullopt);
    fields.insert(QStringLiteral("destinationId"), destination.id);
    fields.insert(QStringLiteral("throughRelay"), entry && sendsThroughRelay(*entry, destination));
    fields.insert(QStringLiteral("address"), maskAddress(destination.url));
    fields.insert(QStringLiteral("state"),
                  remoteStateName(controller.destinationStatus(entryId, destination.id).state));
    return narrowed(std::move(answer), fields);
}

} // namespace

QJsonObject getProfiles(EntryController& controller, const QJsonObject&) {
    QJsonArray profiles;
    for (const EncoderProfile& profile : controller.store().profiles())
        profiles.append(QJsonObject{{"name", profile.nombre},
                                    {"encoder", profile.codificador},
                                    {"videoKbps", profile.videoKbps},
                                    {"audioKbps", profile.audioKbps},
                                    {"audioCodec", profile.codificadorAudio.isEmpty()
                                                       ? QStringLiteral("aac")
                                                       : profile.codificadorAudio}});
    return {{"profiles", profiles}};
}

QJsonObject createEntry(EntryController& controller, const QJsonObject& data) {
    EntryConfig entry;
    entry.id = newConfigId();
    if (auto refusal = applyEntryFields(data, hostChoices(controller), false, &entry))
        return refusalAnswer(*refusal);
    QStringList problems;
    controller.createEntry(entry, &problems);
    return withProblems(
        {{"entryId", entry.id}, {"destinations", destinationList(controller, entry)}}, problems);
}

QJsonObject updateEntry(EntryController& controller, const QJsonObject& data) {
    EntryConfig copy;
    QJsonObject error;
    if (!entryCopy(controller, data, &copy, &error))
        return error;
    if (auto refusal = applyEntryFields(data, hostChoices(controller), true, &copy))
        return refusalAnswer(*refusal);
    return applyEdit(controller, copy);
}

QJsonObject deleteEntry(EntryController& controller, const QJsonObject& data) {
    Ids ids;
    QJsonObject error;
    if (!entryArgument(controller, data, &ids, &error))
        return error;
    // Its streams stop in the background, as when the dock deletes it.
    QStringList problems;
    controller.deleteEntry(ids.entryId, &problems);
    return withProblems({{"entryId", ids.entryId}}, problems);
}

QJsonObject addDestination(EntryController& controller, const QJsonObject& data) {
    EntryConfig copy;
    QJsonObject error;
    if (!entryCopy(controller, data, &copy, &error))
        return error;
    // A service alone gives the address of its server.
    if (!data.value(QLatin1String("address")).isString() &&
        !data.contains(QLatin1String("service")))
        return missingField("address");
    DestConfig destination;
    destination.id = newConfigId();
    if (auto refusal = applyDestinationFields(data, {QStringLiteral("entryId")},
                                              hostChoices(controller), copy, &destination))
        return refusalAnswer(*refusal);
    copy.destinos.append(destination);
    return destinationAnswer(applyEdit(controller, copy), controller, copy.id, destination);
}

QJsonObject updateDestination(EntryController& controller, const QJsonObject& data) {
    Ids ids;
    QJsonObject error;
    if (!destinationArgument(controller, data, &ids, &error))
        return error;
    EntryConfig copy = *controller.findEntry(ids.entryId);
    auto destination = std::find_if(copy.destinos.begin(), copy.destinos.end(),
                                    [&](const DestConfig& d) { return d.id == ids.destinationId; });
    if (auto refusal = applyDestinationFields(
            data, {QStringLiteral("entryId"), QStringLiteral("destinationId")},
            hostChoices(controller), copy, &*destination))
        return refusalAnswer(*refusal);
    const DestConfig changed = *destination;
    QJsonObject answer =
        destinationAnswer(applyEdit(controller, copy), controller, copy.id, changed);
    answer.remove(QStringLiteral("state"));
    return answer;
}

QJsonObject removeDestination(EntryController& controller, const QJsonObject& data) {
    Ids ids;
    QJsonObject error;
    if (!destinationArgument(controller, data, &ids, &error))
        return error;
    EntryConfig copy = *controller.findEntry(ids.entryId);
    copy.destinos.erase(
        std::remove_if(copy.destinos.begin(), copy.destinos.end(),
                       [&](const DestConfig& d) { return d.id == ids.destinationId; }),
        copy.destinos.end());
    return narrowed(applyEdit(controller, copy), {{"destinationId", ids.destinationId}});
}

QJsonObject setBitrate(EntryController& controller, const QJsonObject& data) {
    EntryConfig copy;
    QJsonObject error;
    if (!entryCopy(controller, data, &copy, &error))
        return error;
    if (!data.contains(QLatin1String("videoKbps")))
        return missingField("videoKbps");
    if (auto refusal =
            refuseUnknownFields(data, {QStringLiteral("entryId"), QStringLiteral("videoKbps")}))
        return refusalAnswer(*refusal);
    if (auto refusal = applyEntryFields(data, hostChoices(controller), true, &copy))
        return refusalAnswer(*refusal);
    // The input's own encode changes for every destination on it; those capped lower keep
    // their cap.
    const auto [width, height] = pictureSizeOf(copy);
    QStringList onIt;
    for (const DestConfig& destination : copy.destinos) {
        if (sentRendition(copy, destination.envio, width, height) == RenditionKey{})
            onIt << destination.id;
    }
    return narrowed(
        applyEdit(controller, copy),
        {{"videoKbps", copy.videoKbps}, {"destinations", namedList(onIt, "destinationId")}});
}

QJsonObject entryListChangeEvent(const EntryListChange& change) {
    const char* name = change.kind == EntryListChange::Kind::Created   ? "created"
                       : change.kind == EntryListChange::Kind::Removed ? "removed"
                                                                       : "updated";
    return {{"change", QLatin1String(name)},
            {"entryId", change.entryId},
            {"destinations", namedList(change.destinationIds, "destinationId")}};
}

} // namespace relaycast
