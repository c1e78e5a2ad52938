#include "panel/salidas_panel.h"

#include "module/ui_text.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace relaycast {

QWidget* SalidasPanel::buildSetAsideRow(int index, const SetAsideEntries& group) {
    auto* row = new QFrame(cardContainer);
    row->setFrameShape(QFrame::StyledPanel);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(6, 4, 6, 4);
    QStringList names;
    for (const EntryConfig& entry : group.entradas)
        names << (entry.nombre.isEmpty() ? entry.fuente : entry.nombre);
    auto* label =
        new QLabel(uiText("Entradas apartadas de la colección «%1», que OBS ya no tiene: %2")
                       .arg(group.coleccion, names.join(QStringLiteral(", "))),
                   row);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    layout->addWidget(label, 1);
    auto* bring = new QPushButton(uiText("Traer aquí"), row);
    bring->setToolTip(uiText("Añade estas entradas a la colección de escenas actual"));
    connect(bring, &QPushButton::clicked, this, [this, index] { bringBackSetAside(index); });
    layout->addWidget(bring);
    return row;
}

void SalidasPanel::bringBackSetAside(int index) {
    // The cards follow from the change told.
    guarded("Error inesperado al recuperar las entradas.",
            [this, index] { controller_.bringBackSetAside(index); });
}

} // namespace relaycast
