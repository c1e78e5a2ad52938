#include "relay/relay_config.h"

#include "config/owner_only_file.h"
#include "module/ui_text.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

namespace relaycast {
namespace {

const QString kHost = QStringLiteral(R"((\[[0-9A-Fa-f:.]+\]|[A-Za-z0-9.-]+))");

// Characters that would end an nginx directive, open or close a block, end a quoted argument
// or start a variable; control characters and anything past ASCII are refused with them.
bool nginxSafe(const QString& text) {
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u <= 0x20 || u >= 0x7f || QStringLiteral(";{}\"'\\$").contains(c))
            return false;
    }
    return true;
}

// An address or network nginx's allow takes: IPv4 or IPv6, with a prefix length that fits.
bool nginxAddress(const QString& text) {
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    const QByteArray address = text.left(slash < 0 ? text.size() : slash).toLatin1();
    unsigned char bytes[16];
    const bool v4 = inet_pton(AF_INET, address.constData(), bytes) == 1;
    const bool v6 = !v4 && inet_pton(AF_INET6, address.constData(), bytes) == 1;
    if (!v4 && !v6)
        return false;
    if (slash < 0)
        return true;
    static const QRegularExpression digits(QStringLiteral("^\\d{1,3}$"));
    const QString prefix = text.mid(slash + 1);
    return digits.match(prefix).hasMatch() && prefix.toInt() <= (v4 ? 32 : 128);
}

int portOf(const QString& digits, int fallback) {
    if (digits.isEmpty())
        return fallback;
    bool ok = false;
    const int port = digits.toInt(&ok);
    return ok && port > 0 && port <= 65535 ? port : 0;
}

QString withoutTrailingSlashes(QString text) {
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text;
}

QString quoted(const QString& text) {
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// Decides one destination's route, or says why it cannot go through the relay.
QString routeOf(const RelayedDestination& destination, int* nextTlsPort, RelayRoute* route) {
    static const QRegularExpression safeId(QStringLiteral("^[A-Za-z0-9_.-]+$"));
    static const QRegularExpression address(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://") +
                                            kHost + QStringLiteral(R"((?::(\d{1,5}))?(.*)$)"));
    const QString url = destination.url.trimmed();
    if (!safeId.match(destination.id).hasMatch() || !nginxSafe(url) || !nginxSafe(destination.key))
        return uiText("%1: la dirección o la clave contiene caracteres que romperían la "
                      "configuración del relé.");
    const QRegularExpressionMatch parts = address.match(url);
    const QString scheme = parts.captured(1).toLower();
    if (scheme != QStringLiteral("rtmp") && scheme != QStringLiteral("rtmps") &&
        scheme != QStringLiteral("srt"))
        return uiText("%1: el relé solo reenvía a direcciones rtmp://, rtmps:// y srt://.");
    const QString host = parts.captured(2);
    const QString rest = parts.captured(4);
    route->id = destination.id;
    if (scheme == QStringLiteral("srt")) {
        const int port = portOf(parts.captured(3), 0);
        if (port == 0 || (!rest.isEmpty() && !rest.startsWith(QLatin1Char('?')) &&
                          !rest.startsWith(QStringLiteral("/?"))))
            return uiText("%1: la dirección no sirve para el relé.");
        QString target = QStringLiteral("srt://%1:%2%3").arg(host).arg(port).arg(rest);
        if (!destination.key.isEmpty() && !rest.contains(QStringLiteral("streamid="))) {
            target += rest.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?');
            target += QStringLiteral("streamid=") +
                      QString::fromLatin1(QUrl::toPercentEncoding(destination.key));
        }
        route->kind = RelayRoute::Kind::Srt;
        route->target = target;
        // The ffmpeg that carries it reads from the relay under this name, which is how the
        // statistics page tells it from the others.
        route->statFlashver = QStringLiteral("relaycast-") + destination.id;
        return {};
    }
    const QString path = withoutTrailingSlashes(rest);
    const bool tls = scheme == QStringLiteral("rtmps");
    const int port = portOf(parts.captured(3), tls ? 443 : 1935);
    // The key follows the path; a query there would end up before it.
    if (port == 0 || !path.startsWith(QLatin1Char('/')) || path.size() < 2 ||
        path.contains(QLatin1Char('?')))
        return uiText("%1: la dirección no sirve para el relé.");
    // nginx-rtmp pushes to an address without a stream name under the name OBS published
    // under, which is the relay's secret: the platform would learn it.
    if (destination.key.isEmpty() && path.count(QLatin1Char('/')) < 2)
        return uiText("%1: sin clave de emisión, el relé le enviaría su propio secreto.");
    const QString tail =
        destination.key.isEmpty() ? path : path + QLatin1Char('/') + destination.key;
    QString server;
    if (tls) {
        route->kind = RelayRoute::Kind::Rtmps;
        route->tlsHost = host;
        route->tlsPort = port;
        route->localPort = (*nextTlsPort)++;
        server = QStringLiteral("127.0.0.1:%1").arg(route->localPort);
    } else {
        route->kind = RelayRoute::Kind::Rtmp;
        server = parts.captured(3).isEmpty() ? host : QStringLiteral("%1:%2").arg(host).arg(port);
    }
    route->statAddress = server + tail;
    route->target = QStringLiteral("rtmp://") + route->statAddress;
    return {};
}

QString nginxText(const RelaySettings& settings, const RelayPlan& plan) {
    QString c;
    c += QStringLiteral("# Relaycast relay: OBS publishes one stream here and nginx pushes it to "
                        "every destination below.\n"
                        "# This file holds stream keys: keep it readable by root only.\n"
                        "load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\n"
                        "user www-data;\n"
                        "# One worker: nginx-rtmp keeps a stream, its pushes and their statistics "
                        "in one process.\n"
                        "worker_processes 1;\n"
                        "events { worker_connections 1024; }\n\n"
                        "rtmp {\n    server {\n");
    c += QStringLiteral("        listen %1;\n        chunk_size 4096;\n").arg(plan.ingestPort);
    c += QStringLiteral("        application %1 {\n            live on;\n            record off;\n")
             .arg(plan.application);
    // A publish goes on only under the secret name, checked by nginx itself below.
    c += QStringLiteral("            notify_method get;\n"
                        "            on_publish http://127.0.0.1:%1/relaycast-publish;\n")
             .arg(plan.checkPort);
    if (!settings.allowFrom.isEmpty())
        c += QStringLiteral("            allow publish %1;\n            deny publish all;\n")
                 .arg(settings.allowFrom);
    bool anySrt = false;
    for (const RelayRoute& route : plan.routes)
        anySrt = anySrt || route.kind == RelayRoute::Kind::Srt;
    // Nobody plays from the relay but the local ffmpeg that carries an SRT destination.
    if (anySrt)
        c += QStringLiteral("            allow play 127.0.0.1;\n");
    c += QStringLiteral("            deny play all;\n");
    for (const RelayRoute& route : plan.routes) {
        if (route.kind == RelayRoute::Kind::Srt) {
            c += QStringLiteral("            exec_push ffmpeg -nostdin -loglevel error "
                                "-rtmp_flashver %1 -i rtmp://127.0.0.1:%2/%3/$name -c copy "
                                "-f mpegts %4;\n")
                     .arg(route.statFlashver)
                     .arg(plan.ingestPort)
                     .arg(plan.application, quoted(route.target));
        } else {
            if (route.kind == RelayRoute::Kind::Rtmps)
                c += QStringLiteral("            # %1 over TLS through stunnel\n").arg(route.id);
            c += QStringLiteral("            push %1;\n").arg(quoted(route.target));
        }
    }
    c += QStringLiteral("            push_reconnect 1s;\n        }\n    }\n}\n\n");
    c += QStringLiteral("http {\n    server_tokens off;\n    access_log off;\n");
    c += QStringLiteral("    server {\n        listen 127.0.0.1:%1;\n"
                        "        location = /relaycast-publish {\n"
                        "            if ($arg_name = \"%2\") {\n                return 204;\n"
                        "            }\n            return 403;\n        }\n"
                        "        location / {\n            return 404;\n        }\n    }\n")
             .arg(plan.checkPort)
             .arg(settings.secret);
    c += QStringLiteral("    server {\n");
    c += QStringLiteral("        listen %1%2;\n")
             .arg(plan.statsPort)
             .arg(plan.statsTls ? QStringLiteral(" ssl") : QString());
    if (plan.statsTls)
        c += QStringLiteral("        ssl_certificate /etc/nginx/relaycast-stats.crt;\n"
                            "        ssl_certificate_key /etc/nginx/relaycast-stats.key;\n");
    const QString viewer =
        settings.allowFrom.isEmpty() ? QStringLiteral("127.0.0.1") : settings.allowFrom;
    c += QStringLiteral("        location = %1 {\n            rtmp_stat all;\n"
                        "            allow %2;\n            deny all;\n        }\n")
             .arg(plan.statsPath, viewer);
    c += QStringLiteral("        location / {\n            return 404;\n        }\n    }\n}\n");
    return c;
}

QString stunnelText(const RelayPlan& plan) {
    QString c;
    for (const RelayRoute& route : plan.routes) {
        if (route.kind != RelayRoute::Kind::Rtmps)
            continue;
        if (c.isEmpty())
            c += QStringLiteral("; Relaycast relay: TLS clients for the rtmps:// destinations.\n"
                                "; nginx pushes plain RTMP to a loopback port; stunnel carries "
                                "it on over TLS\n; and checks the platform's certificate.\n"
                                "pid = /run/stunnel-relaycast.pid\n");
        c += QStringLiteral("\n[relaycast-%1]\nclient = yes\naccept = 127.0.0.1:%2\n"
                            "connect = %3:%4\nsni = %5\nverifyChain = yes\n"
                            "CAfile = /etc/ssl/certs/ca-certificates.crt\ncheckHost = %5\n")
                 .arg(route.id)
                 .arg(route.localPort)
                 .arg(route.tlsHost)
                 .arg(route.tlsPort)
                 .arg(route.tlsHost);
    }
    return c;
}

QString installText(const RelayConfiguration& configuration) {
    QString t = uiText("Relé de Relaycast: instalación") + QStringLiteral("\n\n");
    t += uiText("1. Instala nginx con el módulo RTMP y stunnel:") +
         QStringLiteral("\n   apt-get install nginx libnginx-mod-rtmp stunnel4\n\n");
    t += uiText("2. Copia relaycast-relay.conf como /etc/nginx/nginx.conf (guarda antes el tuyo), "
                "compruébalo y recarga nginx:") +
         QStringLiteral("\n   install -m 600 relaycast-relay.conf /etc/nginx/nginx.conf\n"
                        "   nginx -t\n   systemctl reload nginx\n\n");
    if (!configuration.stunnel.isEmpty())
        t += uiText("3. Copia relaycast-stunnel.conf en /etc/stunnel/ y arranca stunnel:") +
             QStringLiteral("\n   install -m 600 relaycast-stunnel.conf "
                            "/etc/stunnel/relaycast.conf\n"
                            "   systemctl restart stunnel4\n\n");
    if (configuration.nginx.contains(QStringLiteral("ssl_certificate ")))
        t += uiText("La página de estadísticas va por https: pon su certificado y su clave en "
                    "/etc/nginx/relaycast-stats.crt y /etc/nginx/relaycast-stats.key antes de "
                    "recargar nginx.") +
             QStringLiteral("\n\n");
    t += uiText("Estos archivos contienen tus claves de emisión: no los compartas.") +
         QLatin1Char('\n');
    if (!configuration.notRelayable.isEmpty()) {
        t += QLatin1Char('\n') + uiText("No se reenvían por el relé:") + QLatin1Char('\n');
        for (const QString& line : configuration.notRelayable)
            t += QStringLiteral("   ") + line + QLatin1Char('\n');
    }
    return t;
}

} // namespace

RelayPlan planRelay(const RelaySettings& settings, const QList<RelayedDestination>& destinations) {
    static const QRegularExpression ingest(
        QStringLiteral("^rtmp://") + kHost +
            QStringLiteral(R"((?::(\d{1,5}))?/([A-Za-z0-9_.-]+)/?$)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression stats(QStringLiteral("^(https?)://") + kHost +
                                              QStringLiteral(R"(:(\d{1,5})(/[A-Za-z0-9_./-]+)$)"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression secret(QStringLiteral("^[A-Za-z0-9_-]{16,}$"));
    RelayPlan plan;
    const QRegularExpressionMatch in = ingest.match(settings.ingestUrl.trimmed());
    const QRegularExpressionMatch st = stats.match(settings.statsUrl.trimmed());
    plan.ingestPort = in.hasMatch() ? portOf(in.captured(2), 1935) : 0;
    plan.statsPort = st.hasMatch() ? portOf(st.captured(3), 0) : 0;
    if (plan.ingestPort == 0) {
        plan.error = uiText("La dirección de entrada del relé debe ser "
                            "rtmp://servidor[:puerto]/aplicacion.");
        return plan;
    }
    // nginx folds "//", "." and ".." in a request before it matches a location: a page at such
    // a path would answer nowhere.
    const QString statsPath = st.captured(4) + QLatin1Char('/');
    const bool foldedPath = statsPath.contains(QStringLiteral("//")) ||
                            statsPath.contains(QStringLiteral("/./")) ||
                            statsPath.contains(QStringLiteral("/../"));
    if (plan.statsPort == 0 || plan.statsPort == plan.ingestPort || foldedPath) {
        plan.error = uiText("La página de estadísticas del relé debe ser "
                            "http(s)://servidor:puerto/ruta, en otro puerto que la entrada.");
        return plan;
    }
    if (!secret.match(settings.secret).hasMatch()) {
        plan.error = uiText("El secreto del relé no es válido.");
        return plan;
    }
    int tlsClients = 0;
    for (const RelayedDestination& destination : destinations)
        tlsClients +=
            destination.url.trimmed().startsWith(QStringLiteral("rtmps://"), Qt::CaseInsensitive);
    // The publish check and the TLS clients listen on the relay's machine too.
    const auto local = [&](int port) {
        return port >= settings.firstLocalPort && port <= settings.firstLocalPort + tlsClients;
    };
    if (settings.firstLocalPort <= 0 || settings.firstLocalPort + tlsClients > 65535 ||
        local(plan.ingestPort) || local(plan.statsPort)) {
        plan.error = uiText("Los puertos locales del relé no son válidos.");
        return plan;
    }
    if (!settings.allowFrom.isEmpty() && !nginxAddress(settings.allowFrom)) {
        plan.error = uiText("La dirección permitida del relé no es válida.");
        return plan;
    }
    plan.ingestHost = in.captured(1);
    plan.application = in.captured(3);
    plan.checkPort = settings.firstLocalPort;
    plan.statsTls = st.captured(1).toLower() == QStringLiteral("https");
    plan.statsPath = withoutTrailingSlashes(st.captured(4)) + QLatin1Char('/') + settings.secret;
    int nextTlsPort = settings.firstLocalPort + 1;
    for (const RelayedDestination& destination : destinations) {
        RelayRoute route;
        const QString problem = routeOf(destination, &nextTlsPort, &route);
        if (problem.isEmpty())
            plan.routes << route;
        else
            plan.notRelayable << problem.arg(destination.id);
    }
    return plan;
}

QString relayPublishUrl(const RelaySettings& settings) {
    const RelayPlan plan = planRelay(settings, {});
    if (!plan.error.isEmpty())
        return {};
    return QStringLiteral("rtmp://%1:%2/%3")
        .arg(plan.ingestHost)
        .arg(plan.ingestPort)
        .arg(plan.application);
}

QString relayStatsFetchUrl(const RelaySettings& settings) {
    const RelayPlan plan = planRelay(settings, {});
    if (!plan.error.isEmpty())
        return {};
    return withoutTrailingSlashes(settings.statsUrl.trimmed()) + QLatin1Char('/') + settings.secret;
}

RelayConfiguration relayConfiguration(const RelaySettings& settings,
                                      const QList<RelayedDestination>& destinations) {
    const RelayPlan plan = planRelay(settings, destinations);
    RelayConfiguration configuration;
    if (!plan.error.isEmpty()) {
        configuration.error = plan.error;
        return configuration;
    }
    configuration.nginx = nginxText(settings, plan);
    configuration.stunnel = stunnelText(plan);
    configuration.notRelayable = plan.notRelayable;
    configuration.install = installText(configuration);
    return configuration;
}

namespace {

// Whether the file at `path` is absent or one we wrote: every file we write names Relaycast on
// its first line. A file of the user's that happens to have our name is never replaced.
bool absentOrOurs(const QString& path) {
    QFile file(path);
    if (!file.exists())
        return true;
    return file.open(QIODevice::ReadOnly) && file.readLine(512).contains("Relaycast");
}

} // namespace

bool writeRelayFiles(const RelayConfiguration& configuration, const QString& folder,
                     QString* error) {
    if (!configuration.error.isEmpty() || configuration.nginx.isEmpty()) {
        if (error)
            *error = configuration.error;
        return false;
    }
    const QDir dir(folder);
    for (const char* name : {kRelayNginxFile, kRelayStunnelFile, kRelayReadmeFile}) {
        if (!absentOrOurs(dir.filePath(QString::fromLatin1(name)))) {
            if (error)
                *error = uiText("«%1» ya existe en esa carpeta y no lo escribió Relaycast: elige "
                                "otra carpeta.")
                             .arg(QString::fromLatin1(name));
            return false;
        }
    }
    if (!replaceOwnerOnly(dir.filePath(QString::fromLatin1(kRelayNginxFile)),
                          configuration.nginx.toUtf8(), error))
        return false;
    const QString stunnelPath = dir.filePath(QString::fromLatin1(kRelayStunnelFile));
    if (configuration.stunnel.isEmpty()) {
        // One left from an earlier set of destinations would start TLS clients nobody uses.
        QFile::remove(stunnelPath);
    } else if (!replaceOwnerOnly(stunnelPath, configuration.stunnel.toUtf8(), error)) {
        return false;
    }
    return replaceOwnerOnly(dir.filePath(QString::fromLatin1(kRelayReadmeFile)),
                            configuration.install.toUtf8(), error);
}

} // namespace relaycast
