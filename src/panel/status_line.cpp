#include "panel/status_line.h"

#include "module/ui_text.h"

namespace relaycast {
namespace {

QString liveLine(const DestinationStatus& status) {
    QString text = uiText("● EN EMISIÓN");
    if (status.bitrateKbps >= 0)
        text += QString::fromUtf8(" · %1 Mbps")
                    .arg(QString::number(status.bitrateKbps / 1000.0, 'f', 1));
    if (status.droppedFrames > 0)
        text += uiText(" · %1 fotogramas perdidos").arg(status.droppedFrames);
    if (status.cuts > 0) {
        const QString plural = status.cuts == 1 ? QString() : QStringLiteral("s");
        const QString recovery = status.recoveryAfterSecs >= 0
                                     ? QStringLiteral(" (%1 s)").arg(status.recoveryAfterSecs)
                                     : QString();
        text += uiText(" · %1 corte%2%3").arg(QString::number(status.cuts), plural, recovery);
    }
    return text;
}

} // namespace

StatusLine destinationStatusLine(const DestinationStatus& status) {
    switch (status.state) {
    case DestinationState::Starting:
        return {uiText("Conectando…"), QStringLiteral("color: #e0a030;")};
    case DestinationState::Live:
        return {liveLine(status), QStringLiteral("color: #3fb950; font-weight: bold;")};
    case DestinationState::Reconnecting:
        return {uiText("⚠ Cortado %1 s · intento %2")
                    .arg(QString::number(status.outageSecs), QString::number(status.attempts)),
                QStringLiteral("color: #e0a030; font-weight: bold;")};
    case DestinationState::Failed:
        return {QString::fromUtf8("⚠ ") +
                    (status.message.isEmpty() ? QStringLiteral("Error") : status.message),
                QStringLiteral("color: #e0524d;")};
    case DestinationState::Idle:
        break;
    }
    return {uiText("Parado"), QString()};
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

} // namespace relaycast
