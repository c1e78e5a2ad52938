// The repaint after each heartbeat of the entry controller, and the notices of the state
// changes it reports.

#include "editor/input_widgets.h"
#include "editor/themed_icon.h"
#include "engine/picture/entry_pipeline.h"
#include "engine/recording/recording_id.h"
#include "module/ui_text.h"
#include "panel/salidas_panel.h"
#include "panel/status_line.h"
#include "relay/entry_relay.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVariant>

#include <exception>

namespace relaycast {
namespace {

void paintOutputRow(ElidedLabel* label, QPushButton* button, const StatusLine& line,
                    const QString& buttonText, bool active) {
    label->fullText = line.text;
    label->updateElided();
    // Re-setting an identical style sheet would re-polish the label twice a second.
    if (label->styleSheet() != line.styleSheet)
        label->setStyleSheet(line.styleSheet);
    label->setToolTip(line.text);

    setIconText(button, buttonText, kStreamButtonTextColor);
    if (button->property("running").toBool() != active || button->styleSheet().isEmpty()) {
        button->setProperty("running", active);
        button->setStyleSheet(QString::fromUtf8(active ? kActiveButtonStyle : kIdleButtonStyle));
    }
}

} // namespace

void SalidasPanel::onHeartbeat() {
    if (closing)
        return;
    try {
        announceCongestion();
        if (isVisible())
            refreshStatus();
        else
            destroyPreviewDisplays(); // a hidden dock costs no rendering
    } catch (const std::exception& e) {
        showNotice(uiText("Error al actualizar el panel: %1").arg(QString::fromUtf8(e.what())),
                   true);
    } catch (...) {
        showNotice(uiText("Error inesperado al actualizar el panel."), true);
    }
}

void SalidasPanel::onDestinationChange(const DestinationChange& change) {
    // Told even while the dock is hidden or in another tab.
    const EntryConfig* entry = controller_.findEntry(change.entryId);
    if (entry && isRecordingId(change.destinationId)) {
        announceRecordingChange(*entry, static_cast<int>(change.previous), change.status);
        return;
    }
    const DestConfig* destination =
        controller_.findDestination(change.entryId, change.destinationId);
    if (entry && destination)
        announceDestinationChange(*entry, *destination, static_cast<int>(change.previous),
                                  change.status);
}

void SalidasPanel::refreshStatus() {
    refreshUpload();
    for (const EntryConfig& entry : currentEntries()) {
        if (PreviewWidget* preview = previews.value(entry.id))
            refreshPreview(entry.id, preview);
        refreshSwitchRow(entry.id);
        refreshEncoderLoad(entry.id);
        for (const DestConfig& destination : entry.destinos) {
            if (destinationWidgets.contains(destination.id))
                refreshDestination(entry.id, destination);
        }
        refreshRecording(entry);
        refreshRelay(entry);
    }
}

void SalidasPanel::refreshUpload() {
    const UploadBudget& upload = controller_.upload();
    const int32_t carried = upload.carriedKbps();
    if (upload.neededKbps() <= 0) {
        uploadLabel->hide();
        return;
    }
    uploadLabel->setText(
        carried > 0 ? uiText("Subida: necesita %1 Mbps · llevó como máximo %2")
                          .arg(megabitsText(upload.neededKbps()), megabitsText(carried))
                    : uiText("Subida: necesita %1 Mbps").arg(megabitsText(upload.neededKbps())));
    uploadLabel->setStyleSheet(carried > 0 && upload.neededKbps() > carried
                                   ? QStringLiteral("color: #e0a030;")
                                   : QString());
    uploadLabel->show();
}

void SalidasPanel::refreshSwitchRow(const QString& entryId) {
    const auto found = switchRows.constFind(entryId);
    if (found == switchRows.constEnd())
        return;
    QWidget* row = found->first;
    QComboBox* combo = found->second;
    if (!controller_.isEntryLive(entryId)) {
        row->hide();
        return;
    }
    row->show();
    // Never move the selection under the user's hands, nor in a list they have open.
    if (combo->hasFocus() || combo->view()->isVisible())
        return;
    const QString current = controller_.sentSourceName(entryId);
    const int index =
        combo->findData(current, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0 && index != combo->currentIndex()) {
        const QSignalBlocker blocker(combo);
        combo->setCurrentIndex(index);
    }
}

void SalidasPanel::refreshEncoderLoad(const QString& entryId) {
    QLabel* label = encoderLoadLabels.value(entryId);
    if (!label)
        return;
    // Shown once the encoder skips a noticeable share of the entry's frames.
    constexpr double kShownFromPercent = 1.0;
    const double skipped = controller_.encoderSkippedPercent(entryId);
    if (!controller_.isEntryLive(entryId) || skipped < kShownFromPercent) {
        label->hide();
        return;
    }
    label->setText(uiText("⚠ El codificador no da abasto: %1 % de los fotogramas se pierden")
                       .arg(QString::number(skipped, 'f', 0)));
    label->show();
}

void SalidasPanel::refreshDestination(const QString& entryId, const DestConfig& destination) {
    const DestinationStatus status = controller_.destinationStatus(entryId, destination.id);
    const bool active = controller_.hasOutput(entryId, destination.id);

    const auto [label, button] = destinationWidgets.value(destination.id);

    // An idle destination whose saved key cannot be opened here says so before anything is tried.
    const StatusLine line =
        !active && status.state == DestinationState::Idle && destination.needsSecretsAgain()
            ? missingSecretLine()
            : relayedStatusLine(status);
    paintOutputRow(label, button, line, destinationButtonText(active, status.state), active);
}

void SalidasPanel::refreshRecording(const EntryConfig& entry) {
    const QString recordingId = recordingIdOf(entry.id);
    const auto found = destinationWidgets.constFind(recordingId);
    ElidedLabel* place = recordingPlaces.value(entry.id);
    if (found == destinationWidgets.constEnd() || !place)
        return;
    const DestinationStatus status = controller_.recordingStatus(entry.id);
    const bool active = controller_.hasRecording(entry.id);
    const QString where = recordingPlaceText(status, entry.grabacion);
    if (place->fullText != where) {
        place->fullText = where;
        place->updateElided();
    }
    place->setToolTip(status.file.isEmpty() ? where : QDir::toNativeSeparators(status.file));
    paintOutputRow(found->first, found->second, recordingStatusLine(status),
                   recordingButtonText(active, status.state), active);
}

void SalidasPanel::refreshRelay(const EntryConfig& entry) {
    const auto found = destinationWidgets.constFind(relayOutputIdOf(entry.id));
    if (found == destinationWidgets.constEnd())
        return;
    const DestinationStatus output = controller_.relayOutputStatus(entry.id);
    const bool active = controller_.hasOutput(entry.id, relayOutputIdOf(entry.id));
    const EntryController::RelayView seen = controller_.relayView(entry.id);
    paintOutputRow(found->first, found->second,
                   relayStatusLine(output, seen.link, seen.pushesConnected, seen.pageError),
                   destinationButtonText(active, output.state), active);
}

} // namespace relaycast
