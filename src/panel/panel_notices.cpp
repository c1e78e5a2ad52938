// The notice line and the notices raised by a destination's change of state.

#include "address/address.h"
#include "config/config_store.h"
#include "editor/themed_icon.h"
#include "editor/ui_helpers.h"
#include "module/module_log.h"
#include "module/ui_text.h"
#include "panel/salidas_panel.h"
#include "panel/status_line.h"

#include <QLabel>
#include <QTimer>

#include <algorithm>

namespace relaycast {
namespace {

constexpr int kInformationNoticeMs = 8000;

// The entry's name, else its source, else "entrada".
QString entryName(const EntryConfig& entry) {
    return !entry.nombre.isEmpty()   ? entry.nombre
           : !entry.fuente.isEmpty() ? entry.fuente
                                     : uiText("entrada");
}

// "«entry» → host": the entry's name (or source) and the destination's host, never its key.
QString destinationLabel(const EntryConfig& entry, const DestConfig& destination) {
    return QString::fromUtf8("«%1» → %2")
        .arg(entryName(entry), destinationDisplayName(destination.url));
}

} // namespace

void SalidasPanel::showNotice(const QString& text, bool isError) {
    if (text.isEmpty()) {
        noticeLabel->hide();
        return;
    }
    setIconLabelText(noticeLabel, text);
    noticeLabel->setStyleSheet(isError ? QStringLiteral("color: #e0524d;") : QString());
    noticeLabel->show();
    const int32_t generation = ++noticeGeneration;
    if (isError) {
        // Stream keys travel in address queries: the log only ever sees them masked.
        moduleLog(LOG_WARNING, "%s", maskAddressQueries(text).toUtf8().constData());
        return;
    }
    QTimer::singleShot(kInformationNoticeMs, this, [this, generation] {
        if (noticeGeneration == generation)
            noticeLabel->hide();
    });
}

void SalidasPanel::showProtectionWarning() {
    const QString warning = configStore->takeProtectionWarning();
    if (!warning.isEmpty())
        showNotice(warning, true);
}

void SalidasPanel::announceDestinationChange(const EntryConfig& entry,
                                             const DestConfig& destination, int previous,
                                             const DestinationStatus& status) {
    const auto was = static_cast<DestinationState>(previous);
    const DestinationState now = status.state;
    if (was == DestinationState::Live && now == DestinationState::Reconnecting) {
        showNotice(uiText("⚠ Corte en %1. Reconectando automáticamente…")
                       .arg(destinationLabel(entry, destination)),
                   true);
    } else if (was == DestinationState::Reconnecting && now == DestinationState::Live) {
        const QString label = destinationLabel(entry, destination);
        const int32_t seconds = std::max(status.recoveryAfterSecs, 0);
        showNotice(
            uiText("✔ %1 recuperado tras %2 s de corte.").arg(label, QString::number(seconds)),
            false);
        moduleLog(LOG_INFO, "%s recovered after %d s", label.toUtf8().constData(), seconds);
    } else if (was == DestinationState::Reconnecting && now == DestinationState::Failed) {
        showNotice(uiText("⛔ Se perdió definitivamente %1: no se pudo reconectar. Pulsa «▶ "
                          "Emitir» para reintentar.")
                       .arg(destinationLabel(entry, destination)),
                   true);
    }
}

void SalidasPanel::announceRecordingChange(const EntryConfig& entry, int previous,
                                           const DestinationStatus& status) {
    const auto was = static_cast<DestinationState>(previous);
    // From Idle, the start itself failed and its caller shows why.
    if (status.state != DestinationState::Failed || was == DestinationState::Idle ||
        was == DestinationState::Failed)
        return;
    const QString why = status.message.isEmpty() ? QStringLiteral("Error") : status.message;
    showNotice(uiText("⛔ La grabación de «%1» falló: %2").arg(entryName(entry), why), true);
}

void SalidasPanel::announceCongestion() {
    for (const EntryConfig& entry : currentEntries()) {
        for (const DestConfig& destination : entry.destinos) {
            const DestinationStatus status =
                controller_.destinationStatus(entry.id, destination.id);
            const bool congested = status.state == DestinationState::Live && status.congested;
            const bool announced = congestionAnnounced.contains(destination.id);
            if (congested == announced)
                continue;
            const QString label = destinationLabel(entry, destination);
            if (congested) {
                congestionAnnounced.insert(destination.id);
                showNotice(status.receivedKbps >= 0
                               ? uiText("⚠ %1 va saturado: al servidor solo llegan %2 Mbps.")
                                     .arg(label, megabitsText(status.receivedKbps))
                               : uiText("⚠ %1 va saturado: el servidor no recibe todo lo que "
                                        "se emite.")
                                     .arg(label),
                           true);
                continue;
            }
            congestionAnnounced.remove(destination.id);
            // A cut or a stop says so itself; only a path that caught up is told here.
            if (status.state == DestinationState::Live)
                showNotice(uiText("✔ %1 ya no va saturado.").arg(label), false);
        }
    }
}

} // namespace relaycast
