#include "relay/relay_stats.h"

#include "module/ui_text.h"

#include <QXmlStreamReader>

namespace relaycast {
namespace {

struct StatClient {
    QString address;
    QString flashver;
    bool publishing = false;
    bool active = false;
};

struct StatStream {
    QString name;
    qint64 bytesIn = 0, bwIn = 0, bytesOut = 0, bwOut = 0;
    bool publishing = false;
    QList<StatClient> clients;
};

struct StatApplication {
    QString name;
    QList<StatStream> streams;
};

qint64 numberOf(QXmlStreamReader& xml) {
    return xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed().toLongLong();
}

StatClient readClient(QXmlStreamReader& xml) {
    StatClient client;
    while (xml.readNextStartElement()) {
        const auto name = xml.name();
        if (name == QLatin1String("address"))
            client.address = xml.readElementText(QXmlStreamReader::SkipChildElements);
        else if (name == QLatin1String("flashver"))
            client.flashver = xml.readElementText(QXmlStreamReader::SkipChildElements);
        else {
            client.publishing = client.publishing || name == QLatin1String("publishing");
            client.active = client.active || name == QLatin1String("active");
            xml.skipCurrentElement();
        }
    }
    return client;
}

StatStream readStream(QXmlStreamReader& xml) {
    StatStream stream;
    while (xml.readNextStartElement()) {
        const auto name = xml.name();
        if (name == QLatin1String("name"))
            stream.name = xml.readElementText(QXmlStreamReader::SkipChildElements);
        else if (name == QLatin1String("bytes_in"))
            stream.bytesIn = numberOf(xml);
        else if (name == QLatin1String("bw_in"))
            stream.bwIn = numberOf(xml);
        else if (name == QLatin1String("bytes_out"))
            stream.bytesOut = numberOf(xml);
        else if (name == QLatin1String("bw_out"))
            stream.bwOut = numberOf(xml);
        else if (name == QLatin1String("client"))
            stream.clients << readClient(xml);
        else {
            stream.publishing = stream.publishing || name == QLatin1String("publishing");
            xml.skipCurrentElement();
        }
    }
    return stream;
}

StatApplication readApplication(QXmlStreamReader& xml) {
    StatApplication application;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("name")) {
            application.name = xml.readElementText(QXmlStreamReader::SkipChildElements);
        } else if (xml.name() == QLatin1String("live")) {
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("stream"))
                    application.streams << readStream(xml);
                else
                    xml.skipCurrentElement();
            }
        } else {
            xml.skipCurrentElement();
        }
    }
    return application;
}

// Every application of every server on the page; false when it is not a whole rtmp_stat page.
bool readPage(const QByteArray& bytes, QList<StatApplication>* applications) {
    QXmlStreamReader xml(bytes);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("rtmp"))
        return false;
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("server")) {
            xml.skipCurrentElement();
            continue;
        }
        while (xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("application"))
                *applications << readApplication(xml);
            else
                xml.skipCurrentElement();
        }
    }
    // Whatever follows the root must be well formed too: a cut page is no page.
    while (!xml.atEnd())
        xml.readNext();
    return !xml.hasError();
}

bool carries(const StatClient& client, const RelayRoute& route) {
    if (client.publishing || !client.active)
        return false;
    if (route.kind == RelayRoute::Kind::Srt)
        return client.flashver == route.statFlashver;
    return client.flashver == QLatin1String("ngx-local-relay") &&
           client.address == route.statAddress;
}

} // namespace

RelayStats readRelayStats(const QByteArray& xml, const RelaySettings& settings,
                          const QList<RelayedDestination>& destinations) {
    RelayStats stats;
    const RelayPlan plan = planRelay(settings, destinations);
    if (!plan.error.isEmpty()) {
        stats.error = plan.error;
        return stats;
    }
    QList<StatApplication> applications;
    if (!readPage(xml, &applications)) {
        stats.error = uiText("La página de estadísticas del relé no se pudo leer.");
        return stats;
    }
    QList<StatStream> streams;
    // Only OBS's stream, under the secret name (the relay refuses a publish under any other).
    for (const StatApplication& application : applications)
        for (const StatStream& stream : application.streams)
            if (application.name == plan.application && stream.name == settings.secret)
                streams << stream;
    for (const StatStream& stream : streams) {
        if (!stream.publishing)
            continue;
        stats.publisherConnected = true;
        stats.bytesIn += stream.bytesIn;
        stats.bwIn += stream.bwIn;
        stats.bytesOut += stream.bytesOut;
        stats.bwOut += stream.bwOut;
    }
    for (const RelayRoute& route : plan.routes) {
        RelayPushState push{route.id, false};
        for (const StatStream& stream : streams)
            for (const StatClient& client : stream.clients)
                push.connected = push.connected || carries(client, route);
        stats.pushes << push;
    }
    return stats;
}

} // namespace relaycast
