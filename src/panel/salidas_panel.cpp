#include "panel/salidas_panel.h"

#include "config/config_store.h"
#include "editor/input_widgets.h"
#include "editor/themed_icon.h"
#include "module/host_frontend.h"
#include "module/ui_text.h"
#include "panel/preview_widget.h"
#include "panel/status_line.h"
#include "update/update_checker.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace relaycast {
namespace {

constexpr int kUpdateCheckDelayMs = 8000;

} // namespace

SalidasPanel::SalidasPanel(EntryController& controller, const QString& startupNotice,
                           QWidget* parent)
    : QWidget(parent), controller_(controller), configStore(&controller.store()) {
    auto* mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(4, 4, 4, 4);
    mainLayout->setSpacing(4);

    bannerWidget = new QWidget(this);
    auto* bannerLayout = new QHBoxLayout(bannerWidget);
    bannerLayout->setContentsMargins(0, 0, 0, 0);
    bannerLabel = new QLabel(bannerWidget);
    bannerLabel->setWordWrap(true);
    bannerLayout->addWidget(bannerLabel, 1);
    auto* download = new QPushButton(uiText("Descargar"), bannerWidget);
    bannerLayout->addWidget(download);
    auto* dismiss = new QToolButton(bannerWidget);
    setIconText(dismiss, QString::fromUtf8("✕"));
    dismiss->setToolTip(uiText("Ocultar este aviso"));
    bannerLayout->addWidget(dismiss);
    connect(download, &QPushButton::clicked, this, [this] { openDownloadUrl(); });
    connect(dismiss, &QToolButton::clicked, this, [this] { bannerWidget->hide(); });
    bannerWidget->hide();
    mainLayout->addWidget(bannerWidget);

    auto* add = new QPushButton(this);
    setIconText(add, uiText("＋ Añadir entrada"));
    add->setToolTip(
        uiText("Elige una fuente o una escena de OBS y los destinos a los que enviarla"));
    connect(add, &QPushButton::clicked, this, [this] { addEntry(); });
    mainLayout->addWidget(add);

    // Hidden while the collection has no entries (see rebuildCards).
    everyEntryRow = new QWidget(this);
    auto* everyEntry = new QHBoxLayout(everyEntryRow);
    everyEntry->setContentsMargins(0, 0, 0, 0);
    auto* startAll = new QPushButton(uiText("▶ Emitir todo"), everyEntryRow);
    startAll->setToolTip(uiText("Empieza a emitir todos los destinos de todas las entradas"));
    startAll->setStyleSheet(QString::fromUtf8(kIdleButtonStyle));
    connect(startAll, &QPushButton::clicked, this, [this] { startAllEntries(); });
    everyEntry->addWidget(startAll, 1);
    auto* stopAll = new QPushButton(uiText("■ Parar todo"), everyEntryRow);
    stopAll->setToolTip(uiText("Para todos los destinos de todas las entradas"));
    stopAll->setStyleSheet(QString::fromUtf8(kActiveButtonStyle));
    connect(stopAll, &QPushButton::clicked, this, [this] { stopAllEntries(); });
    everyEntry->addWidget(stopAll, 1);
    mainLayout->addWidget(everyEntryRow);

    // What the live destinations need of the upload (see refreshUpload).
    uploadLabel = new QLabel(this);
    uploadLabel->setTextFormat(Qt::PlainText);
    uploadLabel->hide();
    mainLayout->addWidget(uploadLabel);

    scrollArea = new QScrollArea(this);
    scrollArea->setWidgetResizable(true);
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    cardContainer = new QWidget(scrollArea);
    cardLayout = new QVBoxLayout(cardContainer);
    cardLayout->setContentsMargins(0, 0, 0, 0);
    cardLayout->setSpacing(6);
    scrollArea->setWidget(cardContainer);
    mainLayout->addWidget(scrollArea, 1);

    noticeLabel = new QLabel(this);
    noticeLabel->setWordWrap(true);
    // Notices carry names and server messages: never read them as markup.
    noticeLabel->setTextFormat(Qt::PlainText);
    noticeLabel->hide();
    mainLayout->addWidget(noticeLabel);

    if (!startupNotice.isEmpty())
        showNotice(startupNotice, true);
    showProtectionWarning(); // the load may have rewritten the file already

    rebuildCards();

    listenerIds_ = {
        controller_.addHeartbeatListener([this] { onHeartbeat(); }),
        controller_.addChangeListener(
            [this](const DestinationChange& change) { onDestinationChange(change); }),
        controller_.addNoticeListener(
            [this](const QString& text, bool isError) { showNotice(text, isError); }),
        // Whoever changed the entries (the editor, a remote request), the cards follow at once.
        controller_.addEntryListListener([this](const EntryListChange&) { rebuildCards(); }),
    };

    updateChecker =
        std::make_unique<UpdateChecker>(this, [this](const QString& version, const QString& url) {
            showUpdateBanner(version, url);
        });
    QTimer::singleShot(kUpdateCheckDelayMs, Qt::PreciseTimer, this,
                       [this] { updateChecker->start(); });
}

SalidasPanel::~SalidasPanel() {
    for (int id : listenerIds_)
        controller_.removeListener(id);
    // A request in progress is aborted, never waited out.
    updateChecker->cancelAndJoin();
    // Displays go before the preview widgets they draw on.
    destroyPreviewDisplays();
}

QSize SalidasPanel::sizeHint() const {
    return {340, 360};
}

CollectionConfig& SalidasPanel::currentEntries() {
    return controller_.currentEntries();
}

EntryConfig* SalidasPanel::findEntry(const QString& entryId) {
    return controller_.findEntry(entryId);
}

EntryRuntime& SalidasPanel::runtimeFor(const QString& entryId) {
    return controller_.runtimeFor(entryId);
}

bool SalidasPanel::isEntryLive(const QString& entryId) const {
    return controller_.isEntryLive(entryId);
}

ElidedLabel* SalidasPanel::destinationStatusLabel(const QString& destinationId) const {
    return destinationWidgets.value(destinationId).first;
}

QPushButton* SalidasPanel::destinationButton(const QString& destinationId) const {
    return destinationWidgets.value(destinationId).second;
}

ElidedLabel* SalidasPanel::recordingPlaceLabel(const QString& entryId) const {
    return recordingPlaces.value(entryId);
}

QWidget* SalidasPanel::switchRow(const QString& entryId) const {
    return switchRows.value(entryId).first;
}

QComboBox* SalidasPanel::switchCombo(const QString& entryId) const {
    return switchRows.value(entryId).second;
}

PreviewWidget* SalidasPanel::previewWidget(const QString& entryId) const {
    return previews.value(entryId);
}

const EntryRuntime* SalidasPanel::runtimeOf(const QString& entryId) const {
    return controller_.runtimeOf(entryId);
}

} // namespace relaycast
