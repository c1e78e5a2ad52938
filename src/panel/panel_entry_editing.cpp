// Adding and editing entries through the entry dialog. Remote requests and host events run
// while the dialog is open: only what the user changed in it is laid over the entry as it is
// then, by the controller, which also decides what a streaming entry takes live.

#include "config/config_store.h"
#include "editor/entry_dialog.h"
#include "module/ui_text.h"
#include "panel/salidas_panel.h"

namespace relaycast {
namespace {

// Profiles saved or deleted in the dialog are kept even when the dialog was cancelled.
bool storeChangedProfiles(const EntryDialog& dialog, ConfigStore& store) {
    if (!dialog.profilesChanged())
        return false;
    store.profiles() = dialog.profiles();
    return true;
}

// What the user is told of an edit: what went wrong first, then what the edit did not do.
void tellOutcome(SalidasPanel& panel, const EditOutcome& outcome) {
    if (outcome.result == EditOutcome::Result::NoEntry) {
        panel.showNotice(uiText("La entrada se borró mientras la editabas; tus cambios no se "
                                "guardaron."),
                         true);
    } else if (!outcome.problems.isEmpty()) {
        panel.showNotice(outcome.problems.join(QLatin1Char('\n')), true);
    } else if (!outcome.lostDestinations.isEmpty()) {
        panel.showNotice(uiText("Un destino que cambiaste se quitó mientras editabas; ese cambio "
                                "no se guardó."),
                         true);
    } else if (outcome.live && !outcome.appliedLive) {
        panel.showNotice(uiText("Cambios guardados. La entrada empezó a emitir mientras la "
                                "editabas: se aplican al volver a emitir."),
                         false);
    } else if (outcome.live) {
        panel.showNotice(
            uiText("Cambios guardados. Se aplican a la emisión en marcha lo que admite el "
                   "codificador; el resto, al volver a emitir."),
            false);
    }
}

} // namespace

void SalidasPanel::addEntry() {
    EntryDialog dialog(this, EntryConfig{}, false, false, configStore->profiles());
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (storeChangedProfiles(dialog, *configStore))
        controller_.saveSettings();
    if (accepted)
        controller_.createEntry(dialog.resultEntry());
}

void SalidasPanel::editEntry(const QString& entryId) {
    const EntryConfig* stored = findEntry(entryId);
    if (!stored)
        return;
    const EntryConfig opened = *stored;
    const bool openedLive = isEntryLive(entryId);
    EntryDialog dialog(this, opened, true, openedLive, configStore->profiles());
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (storeChangedProfiles(dialog, *configStore))
        controller_.saveSettings();
    if (!accepted)
        return;
    // A dialog opened on a stopped entry was edited for the next start, also when the entry
    // started meanwhile: nothing of it reaches that stream but the removal of destinations. One
    // opened live has the fields that need a stop locked and applies the rest live; a
    // destination that started meanwhile keeps a changed address for the next start.
    const NeedsStop rule = openedLive ? NeedsStop::NextStart : NeedsStop::AllAtNextStart;
    tellOutcome(*this, controller_.editEntry({opened, dialog.resultEntry()}, rule));
}

} // namespace relaycast
