// What the user and the host ask of existing entries, passed on to the entry controller:
// delete, start/stop one destination, switch what a live entry sends, follow the host's live
// scene; and the panel's part of the host's exit.

#include "editor/ui_helpers.h"
#include "module/ui_text.h"
#include "panel/salidas_panel.h"
#include "update/update_checker.h"

#include <exception>

namespace relaycast {

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

    // The dialog is modal, but host events run meanwhile: the entry is removed by id.
    controller_.deleteEntry(entryId);
}

void SalidasPanel::toggleDestination(const QString& entryId, const QString& destinationId) {
    if (!controller_.hasOutput(entryId, destinationId) &&
        !startDespiteUpload(controller_.uploadWarning(entryId, {destinationId})))
        return;
    QString error;
    if (controller_.toggleDestination(entryId, destinationId, &error))
        showNotice({}, false);
    else if (!error.isEmpty())
        showNotice(error, true);
    refreshStatus();
}

void SalidasPanel::switchEntrySource(const QString& entryId, const QString& name) {
    QString error;
    if (!controller_.switchEntrySource(entryId, name, &error) && !error.isEmpty())
        showNotice(error, true);
}

void SalidasPanel::followLiveScene() {
    if (closing)
        return;
    controller_.followLiveScene(); // a missing target comes back as a notice
    refreshStatus();
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
    // The module may be unloaded before the host destroys this widget: no check may outlive it.
    updateChecker->cancelAndJoin();
    // Displays draw the pipelines' views: they go before the controller releases those.
    destroyPreviewDisplays();
}

} // namespace relaycast
