#include "panel/status_line.h"

#include "module/ui_text.h"

#include <QDir>
#include <QFileInfo>

namespace relaycast {

namespace {

// Amber: a cut, and a path too slow for the stream.
constexpr const char* kWarningLineStyle = "color: #e0a030; font-weight: bold;";

// "1:02:03": hours, minutes and seconds on the air.
QString durationText(int64_t seconds) {
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// "3.4 MB", "268 MB", "1.27 GB" (decimal units, as network figures are read).
QString dataText(uint64_t bytes) {
    const double megabytes = static_cast<double>(bytes) / 1e6;
    if (megabytes < 10)
        return QString::fromUtf8("%1 MB").arg(QString::number(megabytes, 'f', 1));
    if (megabytes < 1000)
        return QString::fromUtf8("%1 MB").arg(QString::number(megabytes, 'f', 0));
    return QString::fromUtf8("%1 GB").arg(QString::number(megabytes / 1000, 'f', 2));
}

QString percentText(double percent) {
    return QString::number(percent, 'f', percent < 0.1 ? 2 : 1);
}

// Dropped frames and cuts, the end of every live line.
QString lossesText(const DestinationStatus& status) {
    QString text;
    if (status.droppedFrames > 0 && status.totalFrames > 0)
        text +=
            uiText(" · %1 fotogramas perdidos (%2 %)")
                .arg(QString::number(status.droppedFrames), percentText(status.droppedPercent()));
    else if (status.droppedFrames > 0)
        text += uiText(" · %1 fotogramas perdidos").arg(status.droppedFrames);
    if (status.cuts > 0) {
        // Two texts rather than a plural ending, which most languages cannot add to a word.
        const QString recovery = status.recoveryAfterSecs >= 0
                                     ? QStringLiteral(" (%1 s)").arg(status.recoveryAfterSecs)
                                     : QString();
        text += (status.cuts == 1 ? uiText(" · %1 corte%2") : uiText(" · %1 cortes%2"))
                    .arg(QString::number(status.cuts), recovery);
    }
    return text;
}

QString liveLine(const DestinationStatus& status) {
    QString text = uiText("● EN EMISIÓN");
    if (status.bitrateKbps >= 0)
        text += QString::fromUtf8(" · %1 Mbps").arg(megabitsText(status.bitrateKbps));
    if (status.uptimeSecs > 0)
        text += QString::fromUtf8(" · ") + durationText(status.uptimeSecs);
    if (status.sentBytes > 0)
        text += QString::fromUtf8(" · ") + dataText(status.sentBytes);
    return text + lossesText(status);
}

// Green and bold: what is on the air, or being written.
constexpr const char* kLiveLineStyle = "color: #3fb950; font-weight: bold;";
constexpr const char* kStartingLineStyle = "color: #e0a030;";
constexpr const char* kFailedLineStyle = "color: #e0524d;";

StatusLine failedLine(const DestinationStatus& status) {
    return {QString::fromUtf8("⚠ ") +
                (status.message.isEmpty() ? QStringLiteral("Error") : status.message),
            QString::fromLatin1(kFailedLineStyle)};
}

// A path that takes less than the stream: what really reaches the server comes first, then
// how far behind the server is.
QString congestedLine(const DestinationStatus& status) {
    QString text = status.receivedKbps > 0 ? uiText("⚠ EN EMISIÓN, saturado · llegan %1 Mbps")
                                                 .arg(megabitsText(status.receivedKbps))
                   : status.receivedKbps == 0
                       ? uiText("⚠ EN EMISIÓN, saturado · no llega nada al servidor")
                       : uiText("⚠ EN EMISIÓN, saturado");
    if (status.queuedMs > kLongestQueuedMs)
        text += uiText(" · más de una hora de retraso");
    else if (status.queuedMs >= 0)
        text += uiText(" · %1 s de retraso").arg(QString::number(status.queuedMs / 1000.0, 'f', 1));
    return text + lossesText(status);
}

} // namespace

StatusLine destinationStatusLine(const DestinationStatus& status) {
    switch (status.state) {
    case DestinationState::Starting:
        return {uiText("Conectando…"), QString::fromLatin1(kStartingLineStyle)};
    case DestinationState::Live:
        if (status.congested)
            return {congestedLine(status), QString::fromLatin1(kWarningLineStyle)};
        return {liveLine(status), QString::fromLatin1(kLiveLineStyle)};
    case DestinationState::Reconnecting: {
        QString text =
            uiText("⚠ Cortado %1 s · intento %2")
                .arg(QString::number(status.outageSecs), QString::number(status.attempts));
        // What the server answered to the last attempt, when it answered at all.
        if (!status.message.isEmpty())
            text += QString::fromUtf8(" · ") + status.message;
        return {text, QString::fromLatin1(kWarningLineStyle)};
    }
    case DestinationState::Failed:
        return failedLine(status);
    case DestinationState::Idle:
        break;
    }
    return {uiText("Parado"), QString()};
}

StatusLine recordingStatusLine(const DestinationStatus& status) {
    switch (status.state) {
    case DestinationState::Starting:
        return {uiText("Empezando a grabar…"), QString::fromLatin1(kStartingLineStyle)};
    case DestinationState::Live:
    case DestinationState::Reconnecting: {
        if (status.folderSilent)
            return {uiText("⚠ Grabando %1 · la carpeta no responde")
                        .arg(durationText(status.uptimeSecs)),
                    QString::fromLatin1(kWarningLineStyle)};
        // The file's size is what was written, a figure that only grows.
        QString text = uiText("● Grabando") + QLatin1Char(' ') + durationText(status.uptimeSecs);
        if (status.sentBytes > 0)
            text += QString::fromUtf8(" · ") + dataText(status.sentBytes);
        return {text + lossesText(status), QString::fromLatin1(kLiveLineStyle)};
    }
    case DestinationState::Failed:
        return failedLine(status);
    case DestinationState::Idle:
        break;
    }
    return {uiText("Parado"), QString()};
}

QString recordingPlaceText(const DestinationStatus& status, const RecordingConfig& config) {
    if (!status.file.isEmpty())
        return QFileInfo(status.file).fileName();
    if (!config.carpeta.trimmed().isEmpty())
        return QDir::toNativeSeparators(config.carpeta.trimmed());
    return uiText("Grabar a un archivo");
}

StatusLine missingSecretLine() {
    return {uiText("⚠ Falta la clave: escríbela de nuevo con «✎ Editar»"),
            QStringLiteral("color: #e0a030;")};
}

QString destinationButtonText(bool active, DestinationState state) {
    if (!active)
        return uiText("▶ Emitir");
    return state == DestinationState::Starting ? uiText("■ Cancelar") : uiText("■ Parar");
}

QString recordingButtonText(bool active, DestinationState state) {
    return active ? destinationButtonText(active, state) : uiText("▶ Grabar");
}

StatusLine relayedStatusLine(const DestinationStatus& status) {
    if (!status.throughRelay)
        return destinationStatusLine(status);
    switch (status.state) {
    case DestinationState::Starting:
        if (!status.message.isEmpty())
            return {QString::fromUtf8("⚠ ") + status.message,
                    QString::fromLatin1(kWarningLineStyle)};
        return {uiText("Esperando a las estadísticas del relé…"),
                QString::fromLatin1(kStartingLineStyle)};
    case DestinationState::Live:
        return {uiText("● En directo por el relé"), QString::fromLatin1(kLiveLineStyle)};
    default:
        return {QString::fromUtf8("⚠ ") + status.message, QString::fromLatin1(kWarningLineStyle)};
    }
}

StatusLine relayStatusLine(const DestinationStatus& output, RelayLink link,
                           std::optional<std::pair<int, int>> pushesConnected,
                           const QString& pageError) {
    switch (link) {
    case RelayLink::Idle:
    case RelayLink::Reconnecting:
        return destinationStatusLine(output);
    case RelayLink::Connecting:
        return {uiText("Conectando con el relé…"), QString::fromLatin1(kStartingLineStyle)};
    case RelayLink::Live: {
        QString text = liveLine(output);
        if (pushesConnected)
            text += QString::fromUtf8(" · ") + uiText("llega a %1 de %2 destinos")
                                                   .arg(pushesConnected->first)
                                                   .arg(pushesConnected->second);
        const bool allThere = pushesConnected && pushesConnected->first == pushesConnected->second;
        return {text, QString::fromLatin1(allThere ? kLiveLineStyle : kWarningLineStyle)};
    }
    case RelayLink::NotReceiving:
        return {uiText("⚠ El relé no recibe la emisión: revisa su secreto y la dirección "
                       "permitida"),
                QString::fromLatin1(kWarningLineStyle)};
    case RelayLink::Unreachable:
        if (output.state == DestinationState::Failed)
            return failedLine(output);
        return {uiText("⚠ Las estadísticas del relé no responden") +
                    (pageError.isEmpty() ? QString() : QString::fromUtf8(" · ") + pageError),
                QString::fromLatin1(kWarningLineStyle)};
    }
    return destinationStatusLine(output);
}

} // namespace relaycast
