// What the controller does when asked: start and stop destinations, entries and everything,
// switch and follow what an entry sends, retire a deleted entry, stop for a collection change
// or the host's exit.

#include "engine/entry/entry_controller.h"

#include "engine/host/host_source_lookup.h"
#include "engine/host/output_connections.h"
#include "engine/picture/entry_pipeline.h"
#include "engine/recording/recording_file.h"
#include "engine/recording/recording_id.h"
#include "engine/recording/stuck_writer.h"
#include "module/host_frontend.h"
#include "module/module_log.h"
#include "module/ui_text.h"
#include "relay/entry_relay.h"

#include <obs.hpp>

#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>

namespace relaycast {
namespace {

// Whether a destination still in the outputs runs or will: one that failed or ended, and the
// next heartbeat removes, is started anew once it is gone.
bool stillRuns(DestinationOutput& d) {
    d.deliverHostEvents();
    return !d.stopRequested && d.phase != DestinationPhase::Failed &&
           d.phase != DestinationPhase::Idle;
}

bool hostHasSource(const QString& name) {
    return !name.isEmpty() && findHostSource(name) != nullptr;
}

void setError(QString* error, const QString& text) {
    if (error)
        *error = text;
}

// How long a recording's start waits for its claim before it goes on in the background: a
// folder that answers at all answers far sooner, and a moment is not noticed in the window. The
// output itself starts on its strand, never here.
constexpr std::chrono::milliseconds kQuickFolderAnswer{50};

} // namespace

QString EntryController::effectiveSourceName(const EntryConfig& entry) const {
    if (!entry.seguirObs)
        return entry.fuente;
    OBSSourceAutoRelease scene = hostFrontend().currentScene();
    const QString live = scene ? QString::fromUtf8(obs_source_get_name(scene)) : QString();
    if (live.isEmpty())
        return entry.fuente;
    const auto mapped = entry.equivalencias.constFind(live);
    return mapped != entry.equivalencias.constEnd() ? *mapped : live;
}

bool EntryController::startDestination(const QString& entryId, const QString& destinationId,
                                       QString* error) {
    try {
        const bool started = startUnguarded(entryId, destinationId, error);
        detectChanges();
        return started;
    } catch (const std::exception& e) {
        setError(error, uiText("Error inesperado: %1").arg(QString::fromUtf8(e.what())));
    } catch (...) {
        setError(error, uiText("Error inesperado al cambiar la emisión."));
    }
    return false;
}

bool EntryController::startUnguarded(const QString& entryId, const QString& asked, QString* error) {
    const EntryConfig* entry = findEntry(entryId);
    if (!entry || shutDown_)
        return false;
    // A destination the relay carries starts as the one output to the relay; one that runs
    // already is that output, whatever its mark says now.
    const QString destinationId = outputIdFor(entryId, asked);
    const bool recording = destinationId == recordingIdOf(entryId);
    const bool toRelay = destinationId == relayOutputIdOf(entryId);
    if (const auto runtime = runtimes_.find(entryId); runtime != runtimes_.end()) {
        const auto running = runtime->second->outputs.find(destinationId);
        if (running != runtime->second->outputs.end() && stillRuns(*running->second)) {
            if (toRelay)
                relayStarted(*entry, asked, false);
            return true; // already running: one output, whoever asks again
        }
    }
    std::optional<DestConfig> relayOutput;
    if (toRelay && usesRelay(*entry)) {
        relayOutput = relayOutputOf(*entry);
        if (relayOutput->url.isEmpty() || relayOutput->clave.isEmpty()) {
            const QString problem = relayConfigurationOf(*entry).error;
            setError(error, uiText("No se pudo emitir por el relé: %1")
                                .arg(problem.isEmpty() ? uiText("falta su secreto.") : problem));
            return false;
        }
    }
    const DestConfig* destination =
        relayOutput ? &*relayOutput : findDestination(entryId, destinationId);
    if (!destination && !recording)
        return false;
    if (pendingStarts_.contains({entryId, destinationId}))
        return true;
    const auto runtime = runtimes_.find(entryId);
    if (runtime != runtimes_.end()) {
        const auto running = runtime->second->outputs.find(destinationId);
        if (running != runtime->second->outputs.end() ||
            isClosing(*runtime->second, destinationId)) {
            // Stopped a moment ago: a new connection now could race the old one at the server,
            // or a new file the old one's last writes.
            pendingStarts_.insert({entryId, destinationId});
            return true;
        }
    }
    const QString name = effectiveSourceName(*entry);
    if (!hostHasSource(name)) {
        setError(error,
                 uiText("«%1» ya no existe en OBS. Cámbiala con «✎ Editar» o bórrala.").arg(name));
        return false;
    }
    // Its encoders serve what OBS sends: the relay's output, not the destinations behind it.
    EntryConfig sent = routedEntry(*entry);
    sent.fuente = name;
    QString failure;
    if (!recording) {
        const DestConfig chosen = *destination;
        if (relaycast::startDestination(runtimeFor(entryId), sent, chosen, &failure)) {
            if (toRelay)
                relayStarted(*entry, asked, true);
            return true;
        }
        setError(error, uiText("No se pudo emitir: %1").arg(failure));
        return false;
    }
    return startRecordingUnguarded(*entry, sent, error);
}

bool EntryController::startRecordingUnguarded(const EntryConfig& entry, const EntryConfig& sent,
                                              QString* error) {
    const QString recordingId = recordingIdOf(entry.id);
    auto claiming = fileClaims_.find(entry.id);
    if (claiming == fileClaims_.end()) {
        const RecordingFileName name =
            recordingFileName(entry.grabacion, hostRecordingPlace(),
                              entry.nombre.isEmpty() ? sent.fuente : entry.nombre);
        if (!folderSafeForShell(name.folder)) {
            const QString failure =
                uiText("La ruta de la carpeta de grabación «%1» tiene un carácter con el que OBS "
                       "no puede grabar ($, `, barra invertida o comillas). Elige otra carpeta.")
                    .arg(name.folder);
            DestinationStatus failed;
            failed.state = DestinationState::Failed;
            failed.message = failure;
            runtimeFor(entry.id).lastStatus.insert(recordingId, failed);
            moduleLog(LOG_WARNING, "could not start recording: its folder's path holds a "
                                   "character the host's writer start would run as a command");
            setError(error, uiText("No se pudo grabar: %1").arg(failure));
            return false;
        }
        FileClaimUnderWay started{
            FolderCall<RecordingFileChoice>::start(name.folder,
                                                   [candidates = recordingFileCandidates(name)] {
                                                       return claimRecordingFile(candidates);
                                                   }),
            name.folder};
        // Most folders answer at once: the start then reads as it always did.
        started.call.waitFor(kQuickFolderAnswer);
        claiming = fileClaims_.emplace(entry.id, std::move(started)).first;
    }
    FolderCall<RecordingFileChoice>& call = claiming->second.call;
    if (call.started() && !call.answered() && !call.overdue()) {
        pendingStarts_.insert({entry.id, recordingId});
        return true;
    }
    const QString folder = claiming->second.folder;
    std::optional<RecordingFileChoice> choice;
    if (call.answered())
        choice = call.take();
    // A claim that answers later lets its name go by itself.
    fileClaims_.erase(claiming);
    QString failure = uiText("La carpeta de grabación «%1» no responde.").arg(folder);
    if (choice && choice->claim) {
        RecordingSink sink{recordingId, choice->claim->path(), entry.grabacion.envio};
        sink.envio.retrasoSegs = 0;
        if (relaycast::startRecording(runtimeFor(entry.id), sent, sink, std::move(choice->claim),
                                      &failure)) {
            moduleLog(LOG_INFO, "recording an input to \"%s\"", sink.file.toUtf8().constData());
            return true;
        }
    } else {
        if (choice)
            failure =
                choice->folderMissing
                    ? uiText("La carpeta de grabación «%1» no existe.").arg(folder)
                    : uiText("No se puede escribir en la carpeta de grabación «%1».").arg(folder);
        DestinationStatus failed;
        failed.state = DestinationState::Failed;
        failed.message = failure;
        runtimeFor(entry.id).lastStatus.insert(recordingId, failed);
    }
    moduleLog(LOG_WARNING, "could not start recording: %s", failure.toUtf8().constData());
    setError(error, uiText("No se pudo grabar: %1").arg(failure));
    return false;
}

bool EntryController::startRecording(const QString& entryId, QString* error) {
    return startDestination(entryId, recordingIdOf(entryId), error);
}

bool EntryController::stopRecording(const QString& entryId) {
    return stopDestination(entryId, recordingIdOf(entryId));
}

bool EntryController::toggleRecording(const QString& entryId, QString* error) {
    return toggleDestination(entryId, recordingIdOf(entryId), error);
}

bool EntryController::hasRecording(const QString& entryId) const {
    return hasOutput(entryId, recordingIdOf(entryId));
}

DestinationStatus EntryController::recordingStatus(const QString& entryId) const {
    return destinationStatus(entryId, recordingIdOf(entryId));
}

void EntryController::dropPendingStarts(const std::function<bool(const DestinationKey&)>& which) {
    std::erase_if(pendingStarts_, which);
    std::erase_if(fileClaims_, [&](const auto& claiming) {
        return which({claiming.first, recordingIdOf(claiming.first)});
    });
}

bool EntryController::stopDestination(const QString& entryId, const QString& asked) {
    const QString destinationId = outputIdFor(entryId, asked);
    const DestinationKey key{entryId, destinationId};
    const bool wasPending = pendingStarts_.contains(key);
    dropPendingStarts([&](const DestinationKey& pending) { return pending == key; });
    const auto found = runtimes_.find(entryId);
    if (found == runtimes_.end())
        return wasPending;
    const auto running = found->second->outputs.find(destinationId);
    if (running == found->second->outputs.end()) {
        if (wasPending)
            detectChanges();
        return wasPending;
    }
    relaycast::stopDestination(*running->second);
    detectChanges();
    return true;
}

void EntryController::runPendingStarts() {
    for (auto it = pendingStarts_.begin(); it != pendingStarts_.end();) {
        const auto [entryId, destinationId] = *it;
        const auto runtime = runtimes_.find(entryId);
        const bool ending =
            runtime != runtimes_.end() && (runtime->second->outputs.contains(destinationId) ||
                                           isClosing(*runtime->second, destinationId));
        if (ending) {
            ++it;
            continue;
        }
        it = pendingStarts_.erase(it);
        QString error;
        if (!startDestination(entryId, destinationId, &error) && !error.isEmpty())
            notice(error, true);
        // A file claim lives as long as the start that waits for it.
        if (isRecordingId(destinationId) && !pendingStarts_.contains({entryId, destinationId}))
            fileClaims_.erase(entryId);
    }
}

bool EntryController::toggleDestination(const QString& entryId, const QString& destinationId,
                                        QString* error) {
    if (stopDestination(entryId, destinationId))
        return true;
    return startDestination(entryId, destinationId, error);
}

bool EntryController::startEntry(const QString& entryId, QString* error) {
    const EntryConfig* entry = findEntry(entryId);
    if (!entry)
        return false;
    bool all = true;
    QStringList ids;
    for (const DestConfig& destination : entry->destinos)
        ids << destination.id;
    if (entry->grabacion.conEmisiones)
        ids << recordingIdOf(entryId);
    // One by one: each start may change the entry list's storage (a runtime is created).
    for (const QString& id : ids) {
        QString failure;
        if (startDestination(entryId, id, &failure))
            continue;
        if (all)
            setError(error, failure);
        all = false;
    }
    return all;
}

void EntryController::stopEntry(const QString& entryId) {
    dropPendingStarts([&](const DestinationKey& key) { return key.first == entryId; });
    const auto found = runtimes_.find(entryId);
    const EntryConfig* entry = findEntry(entryId);
    // A recording of its own keeps going when the streams stop.
    const bool withRecording = !entry || entry->grabacion.conEmisiones;
    if (found != runtimes_.end()) {
        for (auto& [id, output] : found->second->outputs) {
            if (withRecording || !output->recording)
                relaycast::stopDestination(*output);
        }
    }
    detectChanges();
}

bool EntryController::startAll(QString* error) {
    QStringList ids;
    for (const EntryConfig& entry : currentEntries())
        ids << entry.id;
    bool all = true;
    for (const QString& id : ids) {
        QString failure;
        if (startEntry(id, &failure))
            continue;
        if (all)
            setError(error, failure);
        all = false;
    }
    return all;
}

void EntryController::stopAll() {
    dropPendingStarts([](const DestinationKey&) { return true; });
    for (auto& [id, runtime] : runtimes_)
        relaycast::stopAll(*runtime);
    detectChanges();
}

bool EntryController::switchEntrySource(const QString& entryId, const QString& name,
                                        QString* error) {
    const auto found = runtimes_.find(entryId);
    if (found == runtimes_.end() || !found->second || name.isEmpty())
        return false;
    try {
        EntryRuntime& runtime = *found->second;
        QString failure;
        if (runtime.pipeline) {
            if (switchSource(*runtime.pipeline, name, &failure))
                return true;
        } else {
            failure = uiText("La entrada no está emitiendo.");
        }
        setError(error, uiText("No se pudo cambiar de escena: %1").arg(failure));
    } catch (...) {
        setError(error, uiText("Error inesperado al cambiar de escena."));
    }
    return false;
}

void EntryController::followLiveScene() {
    if (shutDown_)
        return;
    try {
        for (const EntryConfig& entry : currentEntries()) {
            if (!entry.seguirObs || !isEntryLive(entry.id))
                continue;
            const QString target = effectiveSourceName(entry);
            if (target.isEmpty() || target == sentSourceName(entry.id))
                continue;
            if (!hostHasSource(target)) {
                notice(uiText("La escena «%1» no existe en OBS; la entrada sigue con la "
                              "anterior.")
                           .arg(target),
                       true);
                continue;
            }
            moduleLog(LOG_INFO, "an entry follows OBS: switching to \"%s\"",
                      target.toUtf8().constData());
            QString error;
            if (!switchEntrySource(entry.id, target, &error))
                notice(error, true);
        }
    } catch (...) {
        moduleLog(LOG_WARNING, "unexpected error while following the OBS scene change");
    }
}

void EntryController::onHostStreamStarted() {
    if (shutDown_)
        return;
    QStringList ids;
    for (const EntryConfig& entry : currentEntries()) {
        if (entry.conEmisionObs)
            ids << entry.id;
    }
    if (ids.isEmpty())
        return;
    moduleLog(LOG_INFO, "OBS started streaming: starting %d input(s) that go with it",
              static_cast<int>(ids.size()));
    for (const QString& id : ids) {
        QString error;
        if (!startEntry(id, &error) && !error.isEmpty())
            notice(error, true);
    }
}

void EntryController::onHostStreamStopped() {
    if (shutDown_)
        return;
    int stopped = 0;
    for (const EntryConfig& entry : currentEntries()) {
        if (entry.conEmisionObs && isEntryLive(entry.id)) {
            stopEntry(entry.id);
            ++stopped;
        }
    }
    if (stopped > 0)
        moduleLog(LOG_INFO, "OBS stopped streaming: stopping %d input(s) that go with it", stopped);
}

void EntryController::retireEntry(const QString& entryId) {
    dropPendingStarts([&](const DestinationKey& key) { return key.first == entryId; });
    const auto found = runtimes_.find(entryId);
    if (found == runtimes_.end())
        return;
    if (found->second) {
        relaycast::stopAll(*found->second);
        retiring_.push_back(std::move(found->second));
    }
    runtimes_.erase(found);
}

void EntryController::stopEverything() {
    releaseEverything();
    // Every destination that ran has ended now: told before the entries change. Not once shut
    // down: the host's front end may be gone by then.
    if (!shutDown_)
        detectChanges();
}

void EntryController::releaseEverything() {
    dropPendingStarts([](const DestinationKey&) { return true; });
    try {
        // Nothing waits here: the outputs close and are released on the host call queue.
        for (auto& [id, runtime] : runtimes_) {
            if (runtime)
                stopAllAndRelease(*runtime);
        }
        runtimes_.clear();
        for (auto& runtime : retiring_)
            stopAllAndRelease(*runtime);
        retiring_.clear();
    } catch (...) {
        moduleLog(LOG_WARNING, "could not stop all streams when changing collection");
    }
}

void EntryController::shutdown() {
    if (shutDown_)
        return;
    shutDown_ = true;
    const auto begin = std::chrono::steady_clock::now();
    exitDeadline_ = begin + kExitBound;
    timer_.stop();
    stopEverything();
    // The host frees its outputs and encoders right after: ours must be gone first, within the
    // exit's bound however many of them are stuck. Outputs still connecting after the grace
    // wait for a server that does not answer: their connections are closed under them.
    bool drained = drainBackgroundHostCallsWithin(kExitGrace);
    if (!drained) {
        const int aborted = abortOutputConnections();
        // A recording's writer that waits for its folder holds its output's release, and the
        // host's shutdown after ours would wait for it too.
        const int writers = endWritersStillHeld();
        moduleLog(LOG_WARNING,
                  "%d output(s) still closing %lld s after exit began: %d connection(s) of "
                  "theirs closed under them, %d recording writer(s) ended",
                  unfinishedBackgroundHostCalls(),
                  static_cast<long long>(kExitGrace.count() / 1000), aborted, writers);
        drained =
            drainBackgroundHostCallsWithin(std::chrono::duration_cast<std::chrono::milliseconds>(
                exitDeadline_ - std::chrono::steady_clock::now()));
    }
    const auto waitedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - begin)
                              .count();
    if (!drained)
        moduleLog(LOG_WARNING, "%d output(s) still closing after %lld ms: left to OBS",
                  unfinishedBackgroundHostCalls(), static_cast<long long>(waitedMs));
    else if (waitedMs > 0)
        moduleLog(LOG_INFO, "waited %lld ms at exit for streams to close",
                  static_cast<long long>(waitedMs));
}

} // namespace relaycast
