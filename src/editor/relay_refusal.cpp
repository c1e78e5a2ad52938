#include "editor/relay_refusal.h"

#include "relay/relay_config.h"

namespace relaycast {

QString relayRefusalOf(const QString& address, const QString& key) {
    if (address.trimmed().isEmpty())
        return {};
    // Settings the relay takes, so that only the destination can be refused.
    RelaySettings settings;
    settings.ingestUrl = QStringLiteral("rtmp://relay.invalid/live");
    settings.statsUrl = QStringLiteral("http://relay.invalid:8080/stat");
    settings.secret = QStringLiteral("relaycast-refusal-check");
    const QString id = QStringLiteral("d");
    const RelayPlan plan = planRelay(settings, {{id, address, key}});
    if (plan.notRelayable.isEmpty())
        return {};
    // "<id>: reason", the separator as the language writes it.
    QString reason = plan.notRelayable.first().mid(id.size());
    while (!reason.isEmpty() && (reason.front().isSpace() || reason.front() == QLatin1Char(':') ||
                                 reason.front() == QChar(0xff1a)))
        reason.remove(0, 1);
    return reason;
}

} // namespace relaycast
