// What the user and the host ask of existing entries: delete, start/stop one destination,
// switch what a live entry sends, follow the host's live scene, stop everything.

#include "editor/ui_helpers.h"
#include "engine/entry_pipeline.h"
#include "engine/host_call_queue.h"
#include "engine/host_source_lookup.h"
#include "module/host_frontend.h"
#include "module/module_log.h"
#include "module/ui_text.h"
#include "panel/salidas_panel.h"
#include "update/update_checker.h"

#include <obs.hpp>

#include <QTimer>

#include <exception>

namespace relaycast {
namespace {

bool hostHasSource(const QString& name) {
    return !name.isEmpty() && findHostSource(name) != nullptr;
}

QString sentSourceName(const EntryRuntime& runtime) {
    return runtime.pipeline ? QString::fromUtf8(runtime.pipeline->sourceName) : QString();
}

} // namespace

void SalidasPanel::guarded(const char* fallback, const std::function<void()>& body) {
    try {
        body();
    } catch (const std::exception& e) {
        showNotice(uiText("Error inesperado: %1").arg(QString::fromUtf8(e.what())), true);
    } catch (...) {
        showNotice(uiText(fallback), true);
    }
}

void SalidasPanel::deleteEntry(const QString& entryId) {
    guarded("Error inesperado al borrar la entrada.", [&] { deleteEntryUnguarded(entryId); });
}

void SalidasPanel::deleteEntryUnguarded(const QString& entryId) {
    if (!findEntry(entryId))
        return;
    const bool live = isEntryLive(entryId);
    const QString question =
        live ? uiText("Esta entrada está emitiendo ahora mismo. Si la borras, se detendrán sus "
                      "emisiones.\n\n¿Borrarla?")
             : uiText("¿Borrar esta entrada y todos sus destinos?");
    if (!askConfirmation(this, uiText("Borrar entrada"), question, uiText("Sí, borrar")))
        return;

    // Its outputs close in the background; the heartbeat destroys the runtime once they ended.
    if (const auto found = runtimes.find(entryId); found != runtimes.end()) {
        if (found->second) {
            stopAll(*found->second);
            retiringRuntimes.push_back(std::move(found->second));
        }
        runtimes.erase(found);
    }

    // The dialog is modal, but host events run meanwhile: remove by id, not by position.
    CollectionConfig& entries = currentEntries();
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->id == entryId) {
            entries.erase(it);
            break;
        }
    }
    saveWithNotice();
    rebuildCards();
}

void SalidasPanel::toggleDestination(const QString& entryId, const QString& destinationId) {
    try {
        const EntryConfig* entry = findEntry(entryId);
        if (!entry)
            return;
        EntryRuntime& runtime = runtimeFor(entryId);

        if (const auto running = runtime.outputs.find(destinationId);
            running != runtime.outputs.end()) {
            stopDestination(*running->second);
            showNotice({}, false);
            refreshStatus();
            return;
        }

        const DestConfig* destination = nullptr;
        for (const DestConfig& candidate : entry->destinos) {
            if (candidate.id == destinationId) {
                destination = &candidate;
                break;
            }
        }
        if (!destination)
            return;

        const QString name = effectiveSourceName(*entry);
        if (!hostHasSource(name)) {
            showNotice(
                uiText("«%1» ya no existe en OBS. Cámbiala con «✎ Editar» o bórrala.").arg(name),
                true);
            return;
        }
        EntryConfig sent = *entry;
        sent.fuente = name;
        const DestConfig chosen = *destination;
        QString error;
        if (startDestination(runtime, sent, chosen, &error))
            showNotice({}, false);
        else
            showNotice(uiText("No se pudo emitir: %1").arg(error), true);
        refreshStatus();
    } catch (const std::exception& e) {
        showNotice(uiText("Error inesperado: %1").arg(QString::fromUtf8(e.what())), true);
    } catch (...) {
        showNotice(uiText("Error inesperado al cambiar la emisión."), true);
    }
}

QString SalidasPanel::effectiveSourceName(const EntryConfig& entry) const {
    if (!entry.seguirObs)
        return entry.fuente;
    OBSSourceAutoRelease scene = hostFrontend().currentScene();
    const QString live = scene ? QString::fromUtf8(obs_source_get_name(scene)) : QString();
    if (live.isEmpty())
        return entry.fuente;
    const auto mapped = entry.equivalencias.constFind(live);
    return mapped != entry.equivalencias.constEnd() ? *mapped : live;
}

void SalidasPanel::switchEntrySource(const QString& entryId, const QString& name) {
    const auto found = runtimes.find(entryId);
    if (found == runtimes.end() || !found->second || name.isEmpty())
        return;
    try {
        EntryRuntime& runtime = *found->second;
        QString error;
        if (runtime.pipeline) {
            if (switchSource(*runtime.pipeline, name, &error))
                return;
        } else {
            error = uiText("La entrada no está emitiendo.");
        }
        showNotice(uiText("No se pudo cambiar de escena: %1").arg(error), true);
    } catch (...) {
        showNotice(uiText("Error inesperado al cambiar de escena."), true);
    }
}

void SalidasPanel::followLiveScene() {
    if (closing)
        return;
    try {
        for (const EntryConfig& entry : currentEntries()) {
            if (!entry.seguirObs || !isEntryLive(entry.id))
                continue;
            const QString target = effectiveSourceName(entry);
            const QString current = sentSourceName(*runtimes.at(entry.id));
            if (target.isEmpty() || target == current)
                continue;
            if (hostHasSource(target)) {
                moduleLog(LOG_INFO, "an entry follows OBS: switching to \"%s\"",
                          target.toUtf8().constData());
                switchEntrySource(entry.id, target);
            } else {
                showNotice(uiText("La escena «%1» no existe en OBS; la entrada sigue con la "
                                  "anterior.")
                               .arg(target),
                           true);
            }
        }
        refreshStatus();
    } catch (...) {
        moduleLog(LOG_WARNING, "unexpected error while following the OBS scene change");
    }
}

void SalidasPanel::stopAllRuntimes() {
    try {
        // Nothing waits here: the outputs close and are released on the host call queue.
        for (auto& [id, runtime] : runtimes) {
            if (runtime)
                stopAllAndRelease(*runtime);
        }
        runtimes.clear();
        for (auto& runtime : retiringRuntimes)
            stopAllAndRelease(*runtime);
        retiringRuntimes.clear();
    } catch (...) {
        moduleLog(LOG_WARNING, "could not stop all streams when changing collection");
    }
}

void SalidasPanel::onCollectionChanged() {
    if (closing)
        return;
    showNotice({}, false);
    rebuildCards();
}

void SalidasPanel::onHostExit() {
    if (closing)
        return;
    closing = true;
    refreshTimer->stop();
    // The module may be unloaded before the host destroys this widget: no check may outlive it.
    updateChecker->cancelAndJoin();
    destroyPreviewDisplays();
    stopAllRuntimes();
    // The host frees its outputs and encoders right after this event: ours must be gone first.
    const long long waitedMs = drainBackgroundHostCalls();
    if (waitedMs > 0)
        moduleLog(LOG_INFO, "waited %lld ms at exit for streams to close", waitedMs);
}

} // namespace relaycast
