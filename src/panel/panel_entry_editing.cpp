// Adding and editing entries through the entry dialog, and applying a live edit to the
// running stream.

#include "config/config_store.h"
#include "editor/entry_dialog.h"
#include "engine/encoder_settings.h"
#include "engine/entry_pipeline.h"
#include "module/ui_text.h"
#include "panel/salidas_panel.h"

#include <exception>

namespace relaycast {
namespace {

// Profiles saved or deleted in the dialog are kept even when the dialog was cancelled.
bool storeChangedProfiles(const EntryDialog& dialog, ConfigStore& store) {
    if (!dialog.profilesChanged())
        return false;
    store.profiles() = dialog.profiles();
    return true;
}

// Applies the live-changeable fields of an edited, streaming entry to its running pipeline.
void applyLiveEdit(SalidasPanel& panel, const QString& entryId, const EntryConfig& entry) {
    try {
        // What the encoder cannot change on the fly takes effect at the next start.
        if (EntryPipeline* pipeline = panel.controller().pipelineOf(entryId))
            applyLiveChanges(*pipeline, entry);
        panel.showNotice(
            uiText("Cambios guardados. Se aplican a la emisión en marcha lo que admite el "
                   "codificador; el resto, al volver a emitir."),
            false);
    } catch (const std::exception& e) {
        panel.showNotice(uiText("Cambios guardados, pero no se pudieron aplicar en caliente: %1")
                             .arg(QString::fromUtf8(e.what())),
                         true);
    } catch (...) {
        panel.showNotice(uiText("Cambios guardados, pero no se pudieron aplicar en caliente."),
                         true);
    }
}

} // namespace

void SalidasPanel::addEntry() {
    EntryDialog dialog(this, EntryConfig{}, false, false, configStore->profiles());
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (storeChangedProfiles(dialog, *configStore))
        saveWithNotice();
    if (!accepted)
        return;
    const EntryConfig entry = dialog.resultEntry();
    currentEntries().append(entry);
    saveWithNotice();
    controller_.tellEntryListChanged(entryListChangeOf(EntryListChange::Kind::Created, entry));
}

void SalidasPanel::editEntry(const QString& entryId) {
    const EntryConfig* stored = findEntry(entryId);
    if (!stored)
        return;
    const bool wasLive = isEntryLive(entryId);
    EntryDialog dialog(this, *stored, true, wasLive, configStore->profiles());
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (storeChangedProfiles(dialog, *configStore))
        saveWithNotice();
    if (!accepted)
        return;

    // Host events ran while the dialog was open: the entry may be gone, stopped or started.
    EntryConfig* entry = findEntry(entryId);
    if (!entry)
        return;
    const EntryConfig result = dialog.resultEntry();
    if (!wasLive || isEntryLive(entryId)) {
        *entry = result;
        saveWithNotice();
        controller_.tellEntryListChanged(entryListChangeOf(EntryListChange::Kind::Updated, result));
        if (wasLive)
            applyLiveEdit(*this, entryId, result);
        return;
    }
    // It stopped meanwhile: keep only what the live dialog let the user change.
    entry->nombre = result.nombre;
    entry->conEmisionObs = result.conEmisionObs;
    entry->videoKbps = result.videoKbps;
    entry->retrasoAudioMs = result.retrasoAudioMs;
    entry->ajustesCodificador = result.ajustesCodificador;
    entry->grabacion = result.grabacion;
    saveWithNotice();
    controller_.tellEntryListChanged(entryListChangeOf(EntryListChange::Kind::Updated, *entry));
}

} // namespace relaycast
