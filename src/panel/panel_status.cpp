// The heartbeat: engine ticks, audio capture refresh, retiring runtimes, then the repaint.

#include "editor/input_widgets.h"
#include "editor/themed_icon.h"
#include "engine/entry_pipeline.h"
#include "module/ui_text.h"
#include "panel/salidas_panel.h"
#include "panel/status_line.h"

#include <QComboBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVariant>

#include <exception>

namespace relaycast {

void SalidasPanel::onRefreshTick() {
    if (closing)
        return;
    try {
        ++tickCount;
        tickRuntimes();
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

void SalidasPanel::tickRuntimes() {
    for (auto& [id, runtime] : runtimes)
        tick(*runtime);
    if (tickCount % 2 == 0) {
        for (auto& [id, runtime] : runtimes) {
            if (runtime->pipeline)
                runtime->pipeline->audioTrack.refreshCaptures();
        }
    }
    // Runtimes of deleted entries go as soon as their last output has ended.
    for (auto it = retiringRuntimes.begin(); it != retiringRuntimes.end();) {
        tick(**it);
        if ((*it)->outputs.empty())
            it = retiringRuntimes.erase(it);
        else
            ++it;
    }
}

void SalidasPanel::refreshStatus() {
    for (const EntryConfig& entry : currentEntries()) {
        const auto found = runtimes.find(entry.id);
        EntryRuntime* runtime = found != runtimes.end() ? found->second.get() : nullptr;
        if (PreviewWidget* preview = previews.value(entry.id))
            refreshPreview(entry.id, preview, runtime);
        refreshSwitchRow(entry.id, runtime);
        for (const DestConfig& destination : entry.destinos) {
            if (destinationWidgets.contains(destination.id))
                refreshDestination(entry, destination, runtime);
        }
    }
}

void SalidasPanel::refreshSwitchRow(const QString& entryId, EntryRuntime* runtime) {
    const auto found = switchRows.constFind(entryId);
    if (found == switchRows.constEnd())
        return;
    QWidget* row = found->first;
    QComboBox* combo = found->second;
    if (!runtime || runtime->outputs.empty()) {
        row->hide();
        return;
    }
    row->show();
    // Never move the selection under the user's hands.
    if (combo->hasFocus())
        return;
    const QString current =
        runtime->pipeline ? QString::fromUtf8(runtime->pipeline->sourceName) : QString();
    const int index =
        combo->findData(current, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0 && index != combo->currentIndex()) {
        const QSignalBlocker blocker(combo);
        combo->setCurrentIndex(index);
    }
}

void SalidasPanel::refreshDestination(const EntryConfig& entry, const DestConfig& destination,
                                      EntryRuntime* runtime) {
    const DestinationStatus status =
        runtime ? destinationStatus(*runtime, destination.id) : DestinationStatus{};
    const bool active = runtime && runtime->outputs.count(destination.id) != 0;

    const int state = static_cast<int>(status.state);
    const int previous = lastDestinationState.value(destination.id, 0);
    if (previous != state)
        announceDestinationChange(entry, destination, previous, status);
    lastDestinationState.insert(destination.id, state);

    const auto [label, button] = destinationWidgets.value(destination.id);

    const StatusLine line = destinationStatusLine(status);
    label->fullText = line.text;
    label->updateElided();
    // Re-setting an identical style sheet would re-polish the label twice a second.
    if (label->styleSheet() != line.styleSheet)
        label->setStyleSheet(line.styleSheet);
    label->setToolTip(line.text);

    setIconText(button, destinationButtonText(active, status.state), kStreamButtonTextColor);
    if (button->property("running").toBool() != active || button->styleSheet().isEmpty()) {
        button->setProperty("running", active);
        button->setStyleSheet(QString::fromUtf8(active ? kActiveButtonStyle : kIdleButtonStyle));
    }
}

} // namespace relaycast
