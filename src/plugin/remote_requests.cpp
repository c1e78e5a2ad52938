#include "plugin/remote_requests.h"

#include "editor/ui_helpers.h"
#include "engine/encoding/rendition_plan.h"
#include "engine/encoding/video_renditions.h"
#include "engine/entry/entry_controller.h"
#include "engine/picture/entry_pipeline.h"
#include "engine/recording/recording_id.h"
#include "module/host_frontend.h"
#include "plugin/remote_arguments.h"
#include "plugin/remote_entry_fields.h"
#include "plugin/remote_management.h"
#include "plugin/remote_relay.h"
#include "plugin/remote_services.h"
#include "relay/entry_relay.h"

#include <QJsonArray>

#include <functional>
#include <map>

namespace relaycast {
namespace {

QJsonObject startFailure(const QString& error) {
    return remoteError("StartFailed",
                       error.isEmpty() ? QStringLiteral("The stream could not start.") : error);
}

QJsonObject destinationState(EntryController& controller, const Ids& ids) {
    return {{"entryId", ids.entryId},
            {"destinationId", ids.destinationId},
            {"state",
             remoteStateName(controller.destinationStatus(ids.entryId, ids.destinationId).state)}};
}

// A destination the relay carries: its status as composed from the relay's.
QJsonObject destinationEntry(EntryController& controller, const EntryConfig& entry,
                             const DestConfig& destination) {
    const DestinationStatus status = controller.destinationStatus(entry.id, destination.id);
    QJsonObject listed{
        {"destinationId", destination.id},
        {"address", maskAddress(destination.url)}, // never a key, query or passphrase
        {"state", remoteStateName(status.state)},
        {"message", status.message},
        {"bitrateKbps", status.bitrateKbps},
        {"droppedFrames", status.droppedFrames},
        {"droppedPercent", status.droppedPercent()},
        {"cuts", status.cuts},
        {"outageSecs", status.outageSecs},
        {"attempts", status.attempts},
        {"uptimeSecs", static_cast<double>(status.uptimeSecs)},
        {"sentBytes", static_cast<double>(status.sentBytes)},
        {"congested", status.congested},
        {"receivedKbps", status.receivedKbps},
        {"queuedMs", status.queuedMs},
        {"congestionPercent", status.congestionPercent},
        {"throughRelay", sendsThroughRelay(entry, destination)},
    };
    if (!destination.servicio.isEmpty())
        listed.insert(QStringLiteral("service"), destination.servicio);
    const QJsonObject choice = remoteSendChoiceFields(destination.envio);
    for (auto it = choice.begin(); it != choice.end(); ++it)
        listed.insert(it.key(), it.value());
    return listed;
}

QJsonObject recordingEntry(EntryController& controller, const EntryConfig& entry) {
    const DestinationStatus status = controller.recordingStatus(entry.id);
    return {
        {"state", remoteStateName(status.state)},
        {"path", status.file}, // the file written, or last written; empty before any
        {"message", status.message},
        {"uptimeSecs", static_cast<double>(status.uptimeSecs)},
        {"bytes", static_cast<double>(status.sentBytes)},
        {"format", entry.grabacion.formato},
        {"withStreams", entry.grabacion.conEmisiones},
    };
}

// The encodes the input's destinations take: those on one send the packets of one encoder.
QJsonArray renditionList(EntryController& controller, const EntryConfig& entry) {
    const EntryPipeline* pipeline = controller.pipelineOf(entry.id);
    const auto [width, height] =
        pipeline ? std::pair{pipeline->width, pipeline->height} : pictureSizeOf(entry);
    QJsonArray list;
    int number = 0;
    // While it runs, what its encoders really are (OBS's type and bitrate when they are OBS's).
    const EntryConfig running = pipeline ? encodeAsRunning(*pipeline, entry) : entry;
    for (const PlannedRendition& rendition : planRenditions(running, width, height)) {
        const RenditionKey& key = rendition.key;
        // Objects, not texts: OBS's data arrays carry only objects.
        QJsonArray on;
        for (const QString& destinationId : rendition.destinationIds)
            on.append(QJsonObject{{"destinationId", destinationId}});
        list.append(QJsonObject{
            {"id", ++number},
            {"encoder", key.encoder},
            {"width", static_cast<int>(key.scaled() ? key.width : width)},
            {"height", static_cast<int>(key.scaled() ? key.height : height)},
            {"videoKbps", key.videoKbps},
            {"destinations", on},
            // OBS's own stream encoder, lent to the input for its own encode.
            {"obs", pipeline && pipeline->borrowsObsEncoders && key == ownRendition(running)},
        });
    }
    return list;
}

QJsonObject getEntries(EntryController& controller, const QJsonObject&) {
    QJsonArray entries;
    for (const EntryConfig& entry : controller.currentEntries()) {
        QJsonArray destinations;
        for (const DestConfig& destination : entry.destinos)
            destinations.append(destinationEntry(controller, entry, destination));
        QJsonObject listed = remoteEntryFields(entry);
        listed.insert(QStringLiteral("entryId"), entry.id);
        listed.insert(QStringLiteral("name"), entry.nombre);
        listed.insert(QStringLiteral("source"), entry.fuente);
        listed.insert(QStringLiteral("followsObs"), entry.seguirObs);
        listed.insert(QStringLiteral("live"), controller.isEntryLive(entry.id));
        listed.insert(QStringLiteral("sending"), controller.sentSourceName(entry.id));
        listed.insert(QStringLiteral("destinations"), destinations);
        listed.insert(QStringLiteral("renditions"), renditionList(controller, entry));
        listed.insert(QStringLiteral("recording"), recordingEntry(controller, entry));
        if (const QJsonObject relay = remoteRelayFields(controller, entry); !relay.isEmpty())
            listed.insert(QStringLiteral("relay"), relay);
        entries.append(listed);
    }
    const UploadBudget& upload = controller.upload();
    QJsonObject uploadFigures{{"neededKbps", upload.neededKbps()}};
    if (upload.carriedKbps() >= 0)
        uploadFigures.insert(QStringLiteral("carriedKbps"), upload.carriedKbps());
    return {{"sceneCollection", hostFrontend().currentSceneCollection()},
            {"entries", entries},
            {"upload", uploadFigures}};
}

// A start that needs more than the upload was seen to carry goes ahead (a script starting a
// show must not stall on it) and its answer says so.
QJsonObject withUploadWarning(QJsonObject answer, const QString& warning) {
    if (!warning.isEmpty() && !answer.contains(QLatin1String("error")))
        answer.insert(QStringLiteral("uploadWarning"), warning);
    return answer;
}

QJsonObject startDestination(EntryController& controller, const QJsonObject& data) {
    Ids ids;
    QJsonObject error;
    if (!destinationArgument(controller, data, &ids, &error))
        return error;
    const QString warning = controller.uploadWarning(ids.entryId, {ids.destinationId});
    QString failure;
    if (!controller.startDestination(ids.entryId, ids.destinationId, &failure))
        return startFailure(failure);
    return withUploadWarning(destinationState(controller, ids), warning);
}

QJsonObject stopDestination(EntryController& controller, const QJsonObject& data) {
    Ids ids;
    QJsonObject error;
    if (!destinationArgument(controller, data, &ids, &error))
        return error;
    // Stopping what does not run is no failure: the destination is stopped either way.
    controller.stopDestination(ids.entryId, ids.destinationId);
    return destinationState(controller, ids);
}

QJsonObject startEntry(EntryController& controller, const QJsonObject& data) {
    Ids ids;
    QJsonObject error;
    if (!entryArgument(controller, data, &ids, &error))
        return error;
    const QString warning = controller.uploadWarningForEntry(ids.entryId);
    QString failure;
    if (!controller.startEntry(ids.entryId, &failure))
        return startFailure(failure);
    return withUploadWarning({{"entryId", ids.entryId}}, warning);
}

QJsonObject stopEntry(EntryController& controller, const QJsonObject& data) {
    Ids ids;
    QJsonObject error;
    if (!entryArgument(controller, data, &ids, &error))
        return error;
    controller.stopEntry(ids.entryId);
    return {{"entryId", ids.entryId}};
}

QJsonObject recordingState(EntryController& controller, const QString& entryId) {
    const DestinationStatus status = controller.recordingStatus(entryId);
    return {{"entryId", entryId}, {"state", remoteStateName(status.state)}, {"path", status.file}};
}

QJsonObject startRecording(EntryController& controller, const QJsonObject& data) {
    Ids ids;
    QJsonObject error;
    if (!entryArgument(controller, data, &ids, &error))
        return error;
    QString failure;
    if (!controller.startRecording(ids.entryId, &failure))
        return remoteError("StartFailed", failure.isEmpty()
                                              ? QStringLiteral("The recording could not start.")
                                              : failure);
    return recordingState(controller, ids.entryId);
}

QJsonObject stopRecording(EntryController& controller, const QJsonObject& data) {
    Ids ids;
    QJsonObject error;
    if (!entryArgument(controller, data, &ids, &error))
        return error;
    controller.stopRecording(ids.entryId);
    return recordingState(controller, ids.entryId);
}

QJsonObject startAll(EntryController& controller, const QJsonObject&) {
    const QString warning = controller.uploadWarningForAll();
    QString failure;
    if (!controller.startAll(&failure))
        return startFailure(failure);
    return withUploadWarning({}, warning);
}

QJsonObject stopAll(EntryController& controller, const QJsonObject&) {
    controller.stopAll();
    return {};
}

QJsonObject switchSource(EntryController& controller, const QJsonObject& data) {
    Ids ids;
    QJsonObject error;
    QString source;
    if (!entryArgument(controller, data, &ids, &error) ||
        !textArgument(data, "source", &source, &error))
        return error;
    if (!controller.isEntryLive(ids.entryId))
        return remoteError("NotStreaming",
                           QStringLiteral("The entry \"%1\" is not streaming.").arg(ids.entryId));
    QString failure;
    if (!controller.switchEntrySource(ids.entryId, source, &failure))
        return remoteError("SwitchFailed", failure);
    return {{"entryId", ids.entryId}, {"source", source}};
}

using Handler = std::function<QJsonObject(EntryController&, const QJsonObject&)>;

const std::map<QString, Handler>& handlers() {
    static const std::map<QString, Handler> table = {
        {QStringLiteral("GetEntries"), getEntries},
        {QStringLiteral("StartDestination"), startDestination},
        {QStringLiteral("StopDestination"), stopDestination},
        {QStringLiteral("StartEntry"), startEntry},
        {QStringLiteral("StopEntry"), stopEntry},
        {QStringLiteral("StartAll"), startAll},
        {QStringLiteral("StopAll"), stopAll},
        {QStringLiteral("SwitchSource"), switchSource},
        {QStringLiteral("StartRecording"), startRecording},
        {QStringLiteral("StopRecording"), stopRecording},
        {QStringLiteral("GetProfiles"), getProfiles},
        {QStringLiteral("CreateEntry"), createEntry},
        {QStringLiteral("UpdateEntry"), updateEntry},
        {QStringLiteral("DeleteEntry"), deleteEntry},
        {QStringLiteral("AddDestination"), addDestination},
        {QStringLiteral("UpdateDestination"), updateDestination},
        {QStringLiteral("RemoveDestination"), removeDestination},
        {QStringLiteral("SetBitrate"), setBitrate},
        {QStringLiteral("GetServices"), getServices},
    };
    return table;
}

} // namespace

QStringList remoteRequestTypes() {
    QStringList types;
    for (const auto& [type, handler] : handlers())
        types << type;
    return types;
}

QJsonObject runRemoteRequest(EntryController& controller, const QString& type,
                             const QJsonObject& data) {
    const auto found = handlers().find(type);
    if (found == handlers().end())
        return remoteError("UnknownRequest",
                           QStringLiteral("Relaycast has no request \"%1\".").arg(type));
    return found->second(controller, data);
}

QJsonObject remoteError(const char* code, const QString& message) {
    return {{"error", QJsonObject{{"code", QLatin1String(code)}, {"message", message}}}};
}

QJsonObject destinationChangeEvent(const DestinationChange& change) {
    if (isRecordingId(change.destinationId))
        return {{"entryId", change.entryId},
                {"oldState", remoteStateName(change.previous)},
                {"newState", remoteStateName(change.status.state)},
                {"path", change.status.file},
                {"message", change.status.message}};
    return {{"entryId", change.entryId},
            {"destinationId", change.destinationId},
            {"oldState", remoteStateName(change.previous)},
            {"newState", remoteStateName(change.status.state)}};
}

const char* changeEventName(const DestinationChange& change) {
    return isRecordingId(change.destinationId) ? kRecordingStateChangedEvent
                                               : kDestinationStateChangedEvent;
}

QString remoteStateName(DestinationState state) {
    switch (state) {
    case DestinationState::Idle:
        return QStringLiteral("Idle");
    case DestinationState::Starting:
        return QStringLiteral("Starting");
    case DestinationState::Live:
        return QStringLiteral("Live");
    case DestinationState::Reconnecting:
        return QStringLiteral("Reconnecting");
    case DestinationState::Failed:
        return QStringLiteral("Failed");
    }
    return QStringLiteral("Idle");
}

} // namespace relaycast
