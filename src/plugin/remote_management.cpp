#include "plugin/remote_management.h"

#include "config/config_store.h"
#include "editor/ui_helpers.h"
#include "editor/video_encoder_list.h"
#include "engine/encoder_settings.h"
#include "engine/entry_controller.h"
#include "engine/entry_pipeline.h"
#include "engine/host_source_lookup.h"
#include "module/ui_text.h"
#include "plugin/remote_arguments.h"
#include "plugin/remote_entry_fields.h"
#include "plugin/remote_requests.h"

#include <QJsonArray>

#include <algorithm>
#include <exception>
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
    return choices;
}

// obs-websocket carries our answers as OBS data, whose arrays hold objects only: a list of
// names is a list of objects with one field.
QJsonArray namedList(const QStringList& names, const char* field) {
    QJsonArray list;
    for (const QString& name : names)
        list.append(QJsonObject{{QLatin1String(field), name}});
    return list;
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

bool hasDestination(const EntryConfig& entry, const QString& destinationId) {
    return std::any_of(entry.destinos.cbegin(), entry.destinos.cend(),
                       [&](const DestConfig& d) { return d.id == destinationId; });
}

QJsonArray destinationList(EntryController& controller, const EntryConfig& entry) {
    QJsonArray list;
    for (const DestConfig& destination : entry.destinos)
        list.append(QJsonObject{
            {"destinationId", destination.id},
            {"address", maskAddress(destination.url)}, // never a key, query or passphrase
            {"state",
             remoteStateName(controller.destinationStatus(entry.id, destination.id).state)}});
    return list;
}

// Saved and told as after the editor. A save that fails leaves the change working, as the
// editor does, and says so.
void commit(EntryController& controller, const EntryListChange& change, QStringList* problems) {
    QString error;
    if (!controller.store().save(&error)) {
        const QString text =
            error + uiText(" Los cambios siguen funcionando, pero no se recordarán al cerrar OBS.");
        controller.notice(text, true);
        problems->append(text);
    }
    controller.tellEntryListChanged(change);
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

// What a streaming input takes of an edit: the encoder's live settings and audio delay, what it
// sends, and destinations that came (started) or went (stopped before the edit was stored).
void applyLive(EntryController& controller, const EntryConfig& before, const EntryConfig& after,
               QStringList* problems) {
    const QString& id = after.id;
    try {
        EntryPipeline* pipeline = controller.pipelineOf(id);
        if (pipeline && (before.videoKbps != after.videoKbps ||
                         before.ajustesCodificador != after.ajustesCodificador ||
                         before.retrasoAudioMs != after.retrasoAudioMs ||
                         hasMpegTsDestination(before) != hasMpegTsDestination(after)))
            applyLiveChanges(*pipeline, after);
    } catch (const std::exception& e) {
        problems->append(uiText("Cambios guardados, pero no se pudieron aplicar en caliente: %1")
                             .arg(QString::fromUtf8(e.what())));
    }
    QString error;
    if (!after.seguirObs && after.fuente != before.fuente &&
        !controller.switchEntrySource(id, after.fuente, &error) && !error.isEmpty())
        problems->append(error);
    for (const DestConfig& destination : after.destinos) {
        error.clear();
        if (!hasDestination(before, destination.id) &&
            !controller.startDestination(id, destination.id, &error) && !error.isEmpty())
            problems->append(error);
    }
}

// Replaces the stored entry by `after`, whole or not at all.
QJsonObject applyEdit(EntryController& controller, const EntryConfig& after) {
    EntryConfig* entry = controller.findEntry(after.id);
    if (!entry)
        return remoteError("UnknownEntry", QStringLiteral("No entry with id \"%1\" in the current "
                                                          "scene collection.")
                                               .arg(after.id));
    if (auto refusal = checkDestinations(after))
        return refusalAnswer(*refusal);
    const bool live = controller.isEntryLive(after.id);
    if (live) {
        const QStringList fields = fieldsNeedingStop(
            *entry, after, [&](const QString& id) { return controller.hasOutput(after.id, id); });
        if (!fields.isEmpty())
            return refusalAnswer({"EntryLive",
                                  uiText("La entrada está emitiendo; para cambiar %1 hay que "
                                         "detenerla antes.")
                                      .arg(fields.join(QLatin1String(", "))),
                                  fields});
        for (const DestConfig& destination : entry->destinos) {
            if (!hasDestination(after, destination.id))
                controller.stopDestination(after.id, destination.id);
        }
    }
    const EntryConfig before = *entry;
    *entry = after;
    QStringList problems;
    commit(controller, entryListChangeOf(EntryListChange::Kind::Updated, after), &problems);
    if (live)
        applyLive(controller, before, after, &problems);
    return withProblems({{"entryId", after.id},
                         {"live", live},
                         {"destinations", destinationList(controller, after)}},
                        problems);
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
    return narrowed(
        std::move(answer),
        {{"destinationId", destination.id},
         {"address", maskAddress(destination.url)},
         {"state", remoteStateName(controller.destinationStatus(entryId, destination.id).state)}});
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
    controller.currentEntries().append(entry);
    QStringList problems;
    commit(controller, entryListChangeOf(EntryListChange::Kind::Created, entry), &problems);
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
    controller.deleteEntry(ids.entryId);
    QStringList problems;
    commit(controller, {EntryListChange::Kind::Removed, ids.entryId, {}}, &problems);
    return withProblems({{"entryId", ids.entryId}}, problems);
}

QJsonObject addDestination(EntryController& controller, const QJsonObject& data) {
    EntryConfig copy;
    QJsonObject error;
    if (!entryCopy(controller, data, &copy, &error))
        return error;
    if (!data.value(QLatin1String("address")).isString())
        return missingField("address");
    DestConfig destination;
    destination.id = newConfigId();
    if (auto refusal = applyDestinationFields(data, {QStringLiteral("entryId")}, &destination))
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
            data, {QStringLiteral("entryId"), QStringLiteral("destinationId")}, &*destination))
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
    return narrowed(applyEdit(controller, copy), {{"videoKbps", copy.videoKbps}});
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
