// How the controller changes the current entries: created, edited, deleted, brought back from
// a removed collection; each change saved and told from one place.

#include "engine/entry/entry_controller.h"

#include "config/config_store.h"
#include "engine/encoding/encoder_settings.h"
#include "engine/encoding/video_renditions.h"
#include "engine/picture/entry_pipeline.h"
#include "module/host_frontend.h"
#include "module/ui_text.h"
#include "relay/entry_relay.h"

#include <algorithm>
#include <exception>

namespace relaycast {
namespace {

bool hasDestination(const EntryConfig& entry, const QString& destinationId) {
    return std::any_of(entry.destinos.cbegin(), entry.destinos.cend(),
                       [&](const DestConfig& d) { return d.id == destinationId; });
}

void addProblem(QStringList* problems, const QString& text) {
    if (problems && !text.isEmpty())
        problems->append(text);
}

} // namespace

bool EntryController::saveSettings(QString* problem) {
    QString error;
    if (!store_.save(&error)) {
        const QString text =
            error + uiText(" Los cambios siguen funcionando, pero no se recordarán al cerrar OBS.");
        notice(text, true);
        if (problem)
            *problem = text;
        return false;
    }
    const QString warning = store_.takeProtectionWarning();
    if (!warning.isEmpty())
        notice(warning, true);
    return true;
}

void EntryController::saveAndTell(const QList<EntryListChange>& changes, QStringList* problems) {
    QString problem;
    if (!saveSettings(&problem))
        addProblem(problems, problem);
    for (const EntryListChange& change : changes) {
        // A listener may remove itself (the dock closing): walk a copy.
        for (const auto& [id, listener] : std::vector(entryListListeners_))
            listener(change);
    }
}

void EntryController::createEntry(const EntryConfig& entry, QStringList* problems) {
    currentEntries().append(entry);
    saveAndTell({entryListChangeOf(EntryListChange::Kind::Created, entry)}, problems);
}

EditOutcome EntryController::editEntry(const EntryEdit& edit, NeedsStop rule) {
    EditOutcome outcome;
    const QString& id = edit.base.id;
    const EntryConfig* found = findEntry(id);
    if (!found)
        return outcome;
    const EntryConfig before = *found;
    const EntryConfig after = layEditOver(before, edit, &outcome.lostDestinations);
    outcome.live = isEntryLive(id);
    if (outcome.live) {
        outcome.needingStop = fieldsNeedingStop(before, after, [&](const QString& destinationId) {
            return hasOutput(id, destinationId);
        });
        // OBS's own encoders, lent, are never changed from here, and whether they are lent
        // depends on the very fields a running encoder would take live (bitrate, advanced
        // settings, audio delay, an MPEG-TS destination): those wait for a new start.
        const EntryPipeline* pipeline = pipelineOf(id);
        if (pipeline && pipeline->borrowsObsEncoders && changesLiveEncoding(before, after) &&
            !outcome.needingStop.contains(StopField::Encoder))
            outcome.needingStop << StopField::Encoder;
        if (!outcome.needingStop.isEmpty() && rule == NeedsStop::Refuse) {
            outcome.result = EditOutcome::Result::Refused;
            return outcome;
        }
        // Nothing streams that the settings do not hold.
        for (const DestConfig& destination : before.destinos) {
            // The relay goes on for the destinations it still carries.
            const bool relayStays = sendsThroughRelay(before, destination) && usesRelay(after);
            if (!hasDestination(after, destination.id) && !relayStays)
                stopDestination(id, destination.id);
        }
    }
    if (EntryConfig* entry = findEntry(id))
        *entry = after;
    outcome.result = EditOutcome::Result::Done;
    saveAndTell({entryListChangeOf(EntryListChange::Kind::Updated, after)}, &outcome.problems);
    outcome.appliedLive =
        outcome.live && outcome.needingStop.isEmpty() && rule != NeedsStop::AllAtNextStart;
    if (outcome.appliedLive)
        applyLiveEdit(before, after, &outcome.problems);
    return outcome;
}

void EntryController::applyLiveEdit(const EntryConfig& before, const EntryConfig& after,
                                    QStringList* problems) {
    const QString& id = after.id;
    try {
        // What the encoder cannot change on the fly takes effect at the next start.
        EntryPipeline* pipeline = pipelineOf(id);
        if (pipeline && changesLiveEncoding(before, after)) {
            applyLiveChanges(*pipeline, after);
            updateRenditionSettings(*pipeline, after, hostCalls_);
        }
        if (pipeline) {
            // Caps are measured against the encoder that runs: OBS's, at OBS's bitrate, when
            // it is lent (see acquireVideoRendition).
            const QStringList restarts = destinationsToRestart(
                encodeAsRunning(*pipeline, before), encodeAsRunning(*pipeline, after),
                pipeline->width, pipeline->height,
                [&](const QString& destinationId) { return hasOutput(id, destinationId); });
            for (const QString& destinationId : restarts) {
                stopDestination(id, destinationId);
                QString error;
                if (!startDestination(id, destinationId, &error))
                    addProblem(problems, error);
            }
        }
    } catch (const std::exception& e) {
        addProblem(problems,
                   uiText("Cambios guardados, pero no se pudieron aplicar en caliente: %1")
                       .arg(QString::fromUtf8(e.what())));
    } catch (...) {
        addProblem(problems, uiText("Cambios guardados, pero no se pudieron aplicar en caliente."));
    }
    QString error;
    if (!after.seguirObs && after.fuente != before.fuente &&
        !switchEntrySource(id, after.fuente, &error))
        addProblem(problems, error);
    for (const DestConfig& destination : after.destinos) {
        error.clear();
        if (!hasDestination(before, destination.id) &&
            !startDestination(id, destination.id, &error))
            addProblem(problems, error);
    }
}

bool EntryController::deleteEntry(const QString& id, QStringList* problems) {
    const QString entryId = id; // `id` may belong to the entry that goes
    CollectionConfig& entries = currentEntries();
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [&](const EntryConfig& entry) { return entry.id == entryId; });
    if (found == entries.end())
        return false;
    // Its outputs close in the background; the heartbeat ends the runtime once they ended.
    retireEntry(entryId);
    entries.erase(found);
    saveAndTell({{EntryListChange::Kind::Removed, entryId, {}}}, problems);
    return true;
}

bool EntryController::bringBackSetAside(int index, QStringList* problems) {
    const qsizetype before = currentEntries().size();
    const QString& followed = store_.followedCollection();
    if (!store_.bringBack(index,
                          followed.isNull() ? hostFrontend().currentSceneCollection() : followed))
        return false;
    QList<EntryListChange> changes;
    const CollectionConfig& entries = currentEntries();
    for (qsizetype i = before; i < entries.size(); ++i)
        changes << entryListChangeOf(EntryListChange::Kind::Created, entries.at(i));
    saveAndTell(changes, problems);
    return true;
}

} // namespace relaycast
