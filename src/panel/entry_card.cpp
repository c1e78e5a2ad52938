// The card list: one card per entry of the current scene collection.

#include "address/address.h"
#include "config/config_store.h"
#include "editor/input_widgets.h"
#include "editor/send_choice_text.h"
#include "editor/themed_icon.h"
#include "editor/ui_helpers.h"
#include "engine/picture/entry_pipeline.h"
#include "engine/recording/recording_id.h"
#include "module/ui_text.h"
#include "panel/preview_widget.h"
#include "panel/salidas_panel.h"
#include "panel/status_line.h"
#include "relay/entry_relay.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayoutItem>
#include <QPushButton>
#include <QStringList>
#include <QToolButton>
#include <QVBoxLayout>

namespace relaycast {
namespace {

QString cardTitle(const EntryConfig& entry) {
    if (!entry.nombre.isEmpty())
        return entry.nombre;
    if (entry.seguirObs)
        return uiText("↪ Sigue la escena de OBS");
    return describeSource(entry.fuente);
}

QString cardTitleTip(const EntryConfig& entry) {
    if (!entry.nombre.isEmpty())
        return entry.seguirObs ? uiText("↪ Sigue la escena de OBS") : entry.fuente;
    return entry.seguirObs ? uiText("Emite la escena que OBS tenga en directo, con las "
                                    "equivalencias que hayas definido")
                           : entry.fuente;
}

void makeBold(QWidget* widget) {
    QFont font = widget->font();
    font.setBold(true);
    widget->setFont(font);
}

ElidedLabel* newElidedLabel(QWidget* parent) {
    auto* label = new ElidedLabel(parent);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label->setMinimumWidth(16);
    return label;
}

void setElidedText(ElidedLabel* label, const QString& text) {
    label->fullText = text;
    label->updateElided();
}

QToolButton* newToolButton(const QString& text, const QString& tip, QWidget* parent) {
    auto* button = new QToolButton(parent);
    setIconText(button, text);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    button->setToolTip(tip);
    return button;
}

// One output row of a card, the same for a destination and the recording: its kind, where it
// goes (the masked address or the file), its status line and its start/stop button.
struct OutputRow {
    QWidget* row = nullptr;
    ElidedLabel* place = nullptr;
    ElidedLabel* status = nullptr;
    QPushButton* button = nullptr;
};

OutputRow newOutputRow(QWidget* card, const QString& kindText, const QString& buttonText) {
    OutputRow made;
    made.row = new QWidget(card);
    auto* grid = new QGridLayout(made.row);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);
    grid->setColumnStretch(1, 1);

    auto* kind = new QLabel(kindText, made.row);
    makeBold(kind);
    grid->addWidget(kind, 0, 0);

    made.place = newElidedLabel(made.row);
    grid->addWidget(made.place, 0, 1);

    made.status = newElidedLabel(made.row);
    grid->addWidget(made.status, 1, 0, 1, 2);

    made.button = new QPushButton(made.row);
    setIconText(made.button, buttonText, kStreamButtonTextColor);
    made.button->setMinimumSize(92, 36);
    made.button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    makeBold(made.button);
    grid->addWidget(made.button, 0, 2, 2, 1);
    return made;
}

// The host's scenes and input sources, read once per rebuild for every card's switch combo.
struct SwitchChoices {
    QStringList scenes = listSceneNames();
    QStringList sources = listInputSourceNames();
};

} // namespace

void SalidasPanel::rebuildCards() {
    guarded("Error inesperado al actualizar el panel.", [this] { rebuildCardsUnguarded(); });
}

void SalidasPanel::rebuildCardsUnguarded() {
    destroyPreviewDisplays();
    previews.clear();
    destinationWidgets.clear();
    recordingPlaces.clear();
    switchRows.clear();
    encoderLoadLabels.clear();
    while (QLayoutItem* item = cardLayout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }

    // Entries of collections OBS no longer has come first, until the user brings them in.
    const QList<SetAsideEntries>& setAside = configStore->setAside();
    for (int i = 0; i < setAside.size(); ++i)
        cardLayout->addWidget(buildSetAsideRow(i, setAside.at(i)));

    const CollectionConfig& entries = currentEntries();
    everyEntryRow->setVisible(!entries.isEmpty());
    if (entries.isEmpty()) {
        auto* empty = new QLabel(
            withoutSigns(
                uiText("Aún no hay entradas.\n\nPulsa «＋ Añadir entrada», elige una escena o una "
                       "fuente y escribe los destinos a los que quieres enviarla (RTMP, SRT o "
                       "RIST).")),
            cardContainer);
        empty->setWordWrap(true);
        empty->setEnabled(false);
        cardLayout->addWidget(empty);
    } else {
        const SwitchChoices choices;
        for (const EntryConfig& entry : entries)
            cardLayout->addWidget(buildCard(entry, choices.scenes, choices.sources));
    }
    cardLayout->addStretch(1);

    refreshStatus();
}

QFrame* SalidasPanel::buildCard(const EntryConfig& entry, const QStringList& sceneNames,
                                const QStringList& sourceNames) {
    const QString entryId = entry.id;
    auto* card = new QFrame(cardContainer);
    card->setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(6);

    auto* header = new QHBoxLayout();
    header->setSpacing(4);
    layout->addLayout(header);
    const IconText caption = splitIconText(cardTitle(entry));
    ElidedLabel* title = newElidedLabel(card);
    makeBold(title);
    setLabelIcon(title, caption.icon);
    setElidedText(title, caption.text);
    title->setToolTip(cardTitleTip(entry));
    header->addWidget(title, 1);

    QToolButton* previewToggle = newToolButton(
        QString::fromUtf8("👁"),
        uiText("Ver lo que se está emitiendo (solo mientras emite). Gasta un poco de tarjeta "
               "gráfica."),
        card);
    previewToggle->setCheckable(true);
    previewToggle->setChecked(previewEnabled.contains(entryId));
    connect(previewToggle, &QToolButton::toggled, this,
            [this, entryId](bool on) { onPreviewToggled(entryId, on); });
    header->addWidget(previewToggle);

    QToolButton* edit =
        newToolButton(uiText("✎ Editar"),
                      uiText("Cambiar la fuente, los destinos y los ajustes del codificador. Si "
                             "está emitiendo, solo se puede cambiar la calidad y los ajustes "
                             "avanzados del codificador."),
                      card);
    connect(edit, &QToolButton::clicked, this, [this, entryId] { editEntry(entryId); });
    header->addWidget(edit);

    QToolButton* remove = newToolButton(QString::fromUtf8("🗑"),
                                        uiText("Borrar esta entrada y todos sus destinos"), card);
    connect(remove, &QToolButton::clicked, this, [this, entryId] { deleteEntry(entryId); });
    header->addWidget(remove);

    if (entry.conEmisionObs) {
        auto* withStream = new QLabel(uiText("Empieza y para con la emisión de OBS"), card);
        withStream->setEnabled(false);
        layout->addWidget(withStream);
    }
    auto* load = new QLabel(card);
    load->setWordWrap(true);
    load->setStyleSheet(QStringLiteral("color: #e0a030;"));
    load->hide();
    layout->addWidget(load);
    encoderLoadLabels.insert(entryId, load);

    auto* switchRow = new QWidget(card);
    auto* switchLayout = new QHBoxLayout(switchRow);
    switchLayout->setContentsMargins(0, 0, 0, 0);
    switchLayout->setSpacing(4);
    switchLayout->addWidget(new QLabel(uiText("Emite ahora:"), switchRow));
    auto* combo = new WheelProofComboBox(switchRow);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(6);
    combo->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    combo->setToolTip(uiText("Cambia lo que emite esta entrada sin cortar la emisión"));
    for (const QString& name : sceneNames)
        addIconItem(combo, QString::fromUtf8("🎬 ") + name, name);
    for (const QString& name : sourceNames)
        addIconItem(combo, QString::fromUtf8("🎥 ") + name, name);
    connect(combo, QOverload<int>::of(&QComboBox::activated), this, [this, entryId, combo](int) {
        switchEntrySource(entryId, combo->currentData().toString());
    });
    switchLayout->addWidget(combo, 1);
    switchRow->hide();
    layout->addWidget(switchRow);
    switchRows.insert(entryId, {switchRow, combo});

    auto* preview = new PreviewWidget(card);
    preview->hide();
    layout->addWidget(preview);
    previews.insert(entryId, preview);

    if (entry.destinos.isEmpty()) {
        auto* none = new QLabel(
            withoutSigns(uiText("Sin destinos. Pulsa «✎ Editar» para añadir uno.")), card);
        none->setWordWrap(true);
        none->setEnabled(false);
        layout->addWidget(none);
    }
    // Also while a stream to the relay runs for destinations no longer marked for it.
    if (usesRelay(entry) || controller_.hasOutput(entryId, relayOutputIdOf(entryId)))
        layout->addWidget(buildRelayRow(card, entry));
    for (const DestConfig& destination : entry.destinos)
        layout->addWidget(buildDestinationRow(card, entry, destination));
    layout->addWidget(buildRecordingRow(card, entryId));
    return card;
}

QWidget* SalidasPanel::buildDestinationRow(QWidget* card, const EntryConfig& entry,
                                           const DestConfig& destination) {
    const QString entryId = entry.id;
    const QString destinationId = destination.id;
    const OutputRow made =
        newOutputRow(card, addressKindName(classifyAddress(destination.url)), uiText("▶ Emitir"));
    const QString masked = maskAddress(destination.url);
    setElidedText(made.place, masked);
    made.place->setToolTip(masked);
    // What it gets when that is not the entry's own encode, under its status.
    const auto [width, height] = pictureSizeOf(entry);
    // The relay sends it the entry's own encode, whatever its own choices say.
    const QString takes = sendsThroughRelay(entry, destination)
                              ? uiText("por el relé")
                              : sendChoiceSummary(entry, destination, width, height);
    if (!takes.isEmpty()) {
        ElidedLabel* line = newElidedLabel(made.row);
        line->setEnabled(false);
        setElidedText(line, takes);
        line->setToolTip(takes);
        static_cast<QGridLayout*>(made.row->layout())->addWidget(line, 2, 0, 1, 2);
    }
    connect(made.button, &QPushButton::clicked, this,
            [this, entryId, destinationId] { toggleDestination(entryId, destinationId); });
    destinationWidgets.insert(destinationId, {made.status, made.button});
    return made.row;
}

QWidget* SalidasPanel::buildRecordingRow(QWidget* card, const QString& entryId) {
    // The recording runs among the entry's outputs under an id of its own: the same toggle.
    const QString recordingId = recordingIdOf(entryId);
    const OutputRow made = newOutputRow(card, QStringLiteral("REC"), uiText("▶ Grabar"));
    connect(made.button, &QPushButton::clicked, this,
            [this, entryId, recordingId] { toggleDestination(entryId, recordingId); });
    destinationWidgets.insert(recordingId, {made.status, made.button});
    recordingPlaces.insert(entryId, made.place);
    return made.row;
}

QWidget* SalidasPanel::buildRelayRow(QWidget* card, const EntryConfig& entry) {
    // OBS's one stream to the relay: its start and stop are those of every destination behind it.
    const QString entryId = entry.id;
    const QString relayId = relayOutputIdOf(entryId);
    const OutputRow made = newOutputRow(card, uiText("RELÉ"), uiText("▶ Emitir"));
    setElidedText(made.place, entry.relevo.entrada);
    made.place->setToolTip(entry.relevo.entrada);
    if (relayConfigurationStale(entry)) {
        ElidedLabel* stale = newElidedLabel(made.row);
        stale->setStyleSheet(QStringLiteral("color: #e0a030;"));
        const QString text = uiText("La configuración escrita del relé ya no coincide con sus "
                                    "destinos: escríbela de nuevo con «✎ Editar».");
        setElidedText(stale, text);
        stale->setToolTip(text);
        static_cast<QGridLayout*>(made.row->layout())->addWidget(stale, 2, 0, 1, 2);
    }
    connect(made.button, &QPushButton::clicked, this,
            [this, entryId, relayId] { toggleDestination(entryId, relayId); });
    destinationWidgets.insert(relayId, {made.status, made.button});
    return made.row;
}

} // namespace relaycast
