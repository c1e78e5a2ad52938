#include "plugin/remote_services.h"

#include "address/host_services.h"
#include "editor/ui_helpers.h"
#include "module/ui_text.h"

#include <QJsonArray>
#include <QUrl>

namespace relaycast {

QJsonArray namedList(const QStringList& names, const char* field) {
    QJsonArray list;
    for (const QString& name : names)
        list.append(QJsonObject{{QLatin1String(field), name}});
    return list;
}
namespace {

QJsonObject limitsObject(const ServiceLimits& limits) {
    QJsonObject object;
    for (const auto& [name, value] :
         {std::pair{"maxVideoKbps", limits.maxVideoKbps},
          std::pair{"maxAudioKbps", limits.maxAudioKbps},
          std::pair{"keyintSecs", limits.keyintSecs}, std::pair{"maxFps", limits.maxFps}}) {
        if (value > 0)
            object.insert(QLatin1String(name), value);
    }
    if (!limits.profile.isEmpty())
        object.insert(QStringLiteral("profile"), limits.profile);
    QJsonArray sizes;
    for (const PictureSize& size : limits.resolutions)
        sizes.append(QJsonObject{{"width", static_cast<int>(size.width)},
                                 {"height", static_cast<int>(size.height)}});
    if (!sizes.isEmpty())
        object.insert(QStringLiteral("resolutions"), sizes);
    QJsonArray rows;
    for (const BitrateForSize& row : limits.bitrateBySize)
        rows.append(QJsonObject{{"width", static_cast<int>(row.width)},
                                {"height", static_cast<int>(row.height)},
                                {"fps", row.fps},
                                {"maxKbps", row.maxKbps}});
    if (!rows.isEmpty())
        object.insert(QStringLiteral("bitrateBySize"), rows);
    if (!limits.videoCodecs.isEmpty())
        object.insert(QStringLiteral("videoCodecs"), namedList(limits.videoCodecs, "name"));
    if (!limits.audioCodecs.isEmpty())
        object.insert(QStringLiteral("audioCodecs"), namedList(limits.audioCodecs, "name"));
    return object;
}

QString quoted(const QString& name) {
    return uiText("«%1»").arg(name.left(100));
}

RemoteRefusal refusal(const char* code, const QString& message) {
    return {code, message, {}};
}

} // namespace

QJsonObject remoteServiceList(const ServiceCatalog& catalog) {
    QJsonArray services;
    for (const StreamingService& service : catalog.services) {
        QJsonArray servers;
        for (const ServiceServer& server : service.servers)
            servers.append(QJsonObject{{"name", server.name}, {"url", server.url}});
        QJsonObject listed{{"name", service.name},
                           {"common", service.common},
                           {"servers", servers},
                           {"limits", limitsObject(service.limits)}};
        if (!service.streamKeyLink.isEmpty())
            listed.insert(QStringLiteral("streamKeyLink"), service.streamKeyLink);
        services.append(listed);
    }
    return {{"services", services}};
}

QJsonObject getServices(EntryController&, const QJsonObject&) {
    return remoteServiceList(hostServices());
}

std::optional<RemoteRefusal> applyServiceFields(const QJsonObject& data,
                                                const ServiceCatalog& catalog,
                                                const DestConfig& before, DestConfig* destination) {
    const bool namesService = data.contains(QLatin1String("service"));
    const bool namesServer = data.contains(QLatin1String("server"));
    QString name = destination->servicio;
    QString serverName;
    for (const auto& [field, out] : {std::pair{QStringLiteral("service"), &name},
                                     std::pair{QStringLiteral("server"), &serverName}}) {
        if (auto refused = readTextField(data, field, out))
            return refused;
    }
    name = name.trimmed();
    serverName = serverName.trimmed();
    if (!namesService && !namesServer) {
        // A new address is the service's it belongs to, or the user's own; the same one sent
        // again keeps what the destination has (its own address may be a service's on purpose).
        if (destination->url != before.url) {
            const ServiceMatch match =
                findServiceForAddress(catalog, destination->url, destination->servicio);
            destination->servicio = match.service ? match.service->name : QString();
        }
        return std::nullopt;
    }
    if (name.isEmpty()) {
        if (namesServer)
            return refusal("MissingArgument", uiText("%1 es un servidor de un servicio: falta %2.")
                                                  .arg(quoted(QStringLiteral("server")),
                                                       quoted(QStringLiteral("service"))));
        destination->servicio.clear();
        return std::nullopt;
    }
    const StreamingService* service = catalog.find(name);
    if (!service)
        return refusal(
            "UnknownService",
            uiText("La lista de servicios de OBS no tiene ningún servicio %1.").arg(quoted(name)));
    const bool namesAddress = data.contains(QLatin1String("address"));
    if (namesServer) {
        const int server = findServer(*service, serverName);
        if (server < 0) {
            // What was given may be an address with a key, or a key pasted in the wrong
            // field: only a host is ever told back.
            const QString host = QUrl(serverName, QUrl::TolerantMode).host();
            return refusal(
                "UnknownServer",
                host.isEmpty()
                    ? uiText("%1 no tiene ningún servidor con ese nombre.").arg(service->name)
                    : uiText("%1 no tiene ningún servidor %2.").arg(service->name, quoted(host)));
        }
        if (namesAddress && findServer(*service, destination->url) != server)
            return refusal(
                "InvalidArgument",
                uiText("%1 y %2 nombran servidores distintos; basta con uno de los dos.")
                    .arg(quoted(QStringLiteral("address")), quoted(QStringLiteral("server"))));
        destination->url = service->servers[server].url;
    } else if (namesAddress) {
        if (!belongsToService(*service, destination->url))
            return refusal("InvalidAddress",
                           uiText("La dirección no pertenece a %1: no es ninguno de sus servidores "
                                  "ni comparte nombre de host con ellos.")
                               .arg(service->name));
    } else if (!belongsToService(*service, destination->url)) {
        // An address already of this service stays; any other gives way to its usual server.
        destination->url = service->servers[preferredServer(*service)].url;
    }
    destination->servicio = service->name;
    return std::nullopt;
}

void applyServiceFit(const QJsonObject& data, const RemoteChoices::ServiceFitOf& fitOf,
                     const EntryConfig& entry, const DestConfig& before, DestConfig* destination) {
    // Sending the same address again is no new choice, even when it names the service of a
    // destination stored before services were remembered: a cap raised on purpose stays.
    const bool namesService =
        data.contains(QLatin1String("service")) || data.contains(QLatin1String("server"));
    const bool chosen = destination->url != before.url ||
                        (namesService && destination->servicio != before.servicio);
    if (!chosen || destination->servicio.isEmpty() || !fitOf)
        return;
    // The size first: the service's cap can depend on it.
    if (!data.contains(QLatin1String("width")) && !data.contains(QLatin1String("height"))) {
        if (const auto fit = fitOf(entry, *destination); fit && fit->size.width > 0) {
            destination->envio.ancho = static_cast<int32_t>(fit->size.width);
            destination->envio.alto = static_cast<int32_t>(fit->size.height);
        }
    }
    if (!data.contains(QLatin1String("maxVideoKbps"))) {
        if (const auto fit = fitOf(entry, *destination); fit && fit->capKbps > 0)
            destination->envio.videoKbpsMax = fit->capKbps;
    }
}

QJsonObject remoteServiceFields(const DestConfig& destination,
                                const std::optional<ServiceFit>& fit) {
    QJsonObject fields;
    if (!destination.servicio.isEmpty())
        fields.insert(QStringLiteral("service"), destination.servicio);
    if (fit && !fit->refusals.isEmpty())
        fields.insert(QStringLiteral("serviceRefusals"), namedList(fit->refusals, "message"));
    if (fit && !fit->notes.isEmpty())
        fields.insert(QStringLiteral("serviceNotes"), namedList(fit->notes, "message"));
    return fields;
}

} // namespace relaycast
