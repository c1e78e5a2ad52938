// Adding and editing entries through the entry dialog.

#include "panel/salidas_panel.h"

namespace relaycast {

void SalidasPanel::addEntry() {
    // Opens the entry dialog in create mode once it exists.
}

void SalidasPanel::editEntry(const QString& entryId) {
    // Opens the entry dialog in edit mode once it exists.
    (void)entryId;
}

} // namespace relaycast
