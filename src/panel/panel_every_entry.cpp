// The dock header's actions on every entry of the current collection at once.

#include "editor/ui_helpers.h"
#include "module/ui_text.h"
#include "panel/salidas_panel.h"

namespace relaycast {

void SalidasPanel::startAllEntries() {
    guarded("Error inesperado al cambiar la emisión.", [&] {
        if (!startDespiteUpload(controller_.uploadWarningForAll()))
            return;
        QString error;
        if (controller_.startAll(&error))
            showNotice({}, false);
        else if (!error.isEmpty())
            showNotice(error, true);
        refreshStatus();
    });
}

void SalidasPanel::stopAllEntries() {
    guarded("Error inesperado al cambiar la emisión.", [&] {
        bool anyLive = false;
        for (const EntryConfig& entry : currentEntries())
            anyLive = anyLive || isEntryLive(entry.id);
        if (!anyLive)
            return;
        // One click would cut a whole show: ask first.
        if (!askConfirmation(this, uiText("Parar todo"),
                             uiText("Hay emisiones en marcha. Si paras todo, se detendrán "
                                    "todas.\n\n¿Pararlas?"),
                             uiText("Sí, parar todo")))
            return;
        controller_.stopAll();
        showNotice({}, false);
        refreshStatus();
    });
}

bool SalidasPanel::startDespiteUpload(const QString& warning) {
    return warning.isEmpty() ||
           askConfirmation(this, uiText("Subida"),
                           warning + QStringLiteral("\n\n") + uiText("¿Empezar de todos modos?"),
                           uiText("Sí, empezar"));
}

} // namespace relaycast
