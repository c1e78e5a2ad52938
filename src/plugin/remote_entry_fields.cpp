#include "plugin/remote_entry_fields.h"

#include "address/address.h"
#include "engine/entry/entry_edit.h"
#include "module/ui_text.h"
#include "plugin/remote_services.h"
#include "relay/entry_relay.h"

#include <QJsonArray>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace relaycast {
namespace {

const QStringList kEntryFields = {
    QStringLiteral("name"),         QStringLiteral("source"),
    QStringLiteral("followsObs"),   QStringLiteral("matches"),
    QStringLiteral("width"),        QStringLiteral("height"),
    QStringLiteral("fill"),         QStringLiteral("encoder"),
    QStringLiteral("videoKbps"),    QStringLiteral("audioKbps"),
    QStringLiteral("audioCodec"),   QStringLiteral("audioDelayMs"),
    QStringLiteral("profile"),      QStringLiteral("withObsStream"),
    QStringLiteral("destinations"), QStringLiteral("sameAsObsStream"),
    QStringLiteral("relay"),
};
const QStringList kDestinationFields = {
    QStringLiteral("address"),      QStringLiteral("key"),         QStringLiteral("passphrase"),
    QStringLiteral("maxVideoKbps"), QStringLiteral("width"),       QStringLiteral("height"),
    QStringLiteral("audioTrack"),   QStringLiteral("delaySecs"),   QStringLiteral("service"),
    QStringLiteral("server"),       QStringLiteral("throughRelay")};
const QStringList kRelayFields = {QStringLiteral("address"), QStringLiteral("statsUrl"),
                                  QStringLiteral("allowFrom")};

RemoteRefusal invalid(const QString& message) {
    return {"InvalidArgument", message, {}};
}

QString quoted(const QString& name) {
    return uiText("«%1»").arg(name);
}

} // namespace

std::optional<RemoteRefusal> refuseUnknownFields(const QJsonObject& data,
                                                 const QStringList& allowed) {
    for (auto it = data.begin(); it != data.end(); ++it) {
        if (!allowed.contains(it.key()))
            return RemoteRefusal{"UnknownField",
                                 uiText("Campo desconocido: %1.").arg(quoted(it.key().left(100))),
                                 {}};
    }
    return std::nullopt;
}

namespace {

// Each reader leaves `out` alone when the field is absent.
std::optional<RemoteRefusal> readText(const QJsonObject& data, const QString& name, QString* out) {
    const QJsonValue value = data.value(name);
    if (value.isUndefined())
        return std::nullopt;
    if (!value.isString())
        return invalid(uiText("%1 tiene que ser un texto.").arg(quoted(name)));
    if (value.toString().size() > kMaxRemoteTextLength)
        return invalid(uiText("%1 es demasiado largo (más de %2 caracteres).")
                           .arg(quoted(name))
                           .arg(kMaxRemoteTextLength));
    *out = value.toString();
    return std::nullopt;
}

std::optional<RemoteRefusal> readBool(const QJsonObject& data, const QString& name, bool* out) {
    const QJsonValue value = data.value(name);
    if (value.isUndefined())
        return std::nullopt;
    if (!value.isBool())
        return invalid(uiText("%1 tiene que ser verdadero o falso.").arg(quoted(name)));
    *out = value.toBool();
    return std::nullopt;
}

// A JSON number that is a whole number within [low, high], read as that integer: checked as a
// number, never through its printed form ("127.9999999" prints as "128").
std::optional<int32_t> integerIn(const QJsonValue& value, int32_t low, int32_t high) {
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number != std::trunc(number) || number < low || number > high)
        return std::nullopt;
    return static_cast<int32_t>(number);
}

std::optional<RemoteRefusal> readInt(const QJsonObject& data, const QString& name, int32_t low,
                                     int32_t high, int32_t* out) {
    const QJsonValue value = data.value(name);
    if (value.isUndefined())
        return std::nullopt;
    const std::optional<int32_t> number = integerIn(value, low, high);
    if (!number)
        return invalid(uiText("%1 tiene que ser un número entero entre %2 y %3.")
                           .arg(quoted(name))
                           .arg(low)
                           .arg(high));
    *out = *number;
    return std::nullopt;
}

// A text that must be one of `choices` (compared ignoring case); stored as the choice.
std::optional<RemoteRefusal> readChoice(const QJsonObject& data, const QString& name,
                                        const QStringList& choices, QString* out) {
    QString text;
    if (auto refusal = readText(data, name, &text))
        return refusal;
    if (!data.contains(name))
        return std::nullopt;
    for (const QString& choice : choices) {
        if (choice.compare(text.trimmed(), Qt::CaseInsensitive) == 0) {
            *out = choice;
            return std::nullopt;
        }
    }
    return invalid(uiText("%1 tiene que ser uno de estos valores: %2.")
                       .arg(quoted(name), choices.join(QLatin1String(", "))));
}

std::optional<RemoteRefusal> unknownSource(const QString& name) {
    return RemoteRefusal{"UnknownSource",
                         uiText("No existe ninguna escena ni fuente %1 en OBS.").arg(quoted(name)),
                         {}};
}

std::optional<RemoteRefusal> readMatches(const QJsonObject& data, const RemoteChoices& choices,
                                         SceneMatchMap* out) {
    const QJsonValue value = data.value(QLatin1String("matches"));
    if (value.isUndefined())
        return std::nullopt;
    if (!value.isObject())
        return invalid(
            uiText("%1 tiene que ser un objeto.").arg(quoted(QStringLiteral("matches"))));
    SceneMatchMap matches;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        QString sent;
        if (auto refusal = readText(object, it.key(), &sent))
            return refusal;
        for (const QString& name : {it.key(), sent}) {
            if (name.size() > kMaxRemoteTextLength || !choices.sourceExists(name))
                return unknownSource(name.left(100));
        }
        matches.insert(it.key(), sent);
    }
    *out = matches;
    return std::nullopt;
}

std::optional<RemoteRefusal> applyProfile(const QJsonObject& data, const RemoteChoices& choices,
                                          EntryConfig* entry) {
    QString name;
    if (auto refusal = readText(data, QStringLiteral("profile"), &name))
        return refusal;
    if (!data.contains(QLatin1String("profile")))
        return std::nullopt;
    const auto found =
        std::find_if(choices.profiles.cbegin(), choices.profiles.cend(),
                     [&](const EncoderProfile& profile) { return profile.nombre == name; });
    if (found == choices.profiles.cend())
        return RemoteRefusal{
            "UnknownProfile",
            uiText("No hay ningún perfil guardado llamado %1.").arg(quoted(name.left(100))),
            {}};
    entry->codificador = found->codificador;
    entry->videoKbps = found->videoKbps;
    entry->audioKbps = found->audioKbps;
    entry->codificadorAudio = found->codificadorAudio;
    entry->ajustesCodificador = found->ajustesCodificador;
    return std::nullopt;
}

std::optional<RemoteRefusal> applyEncoding(const QJsonObject& data, const RemoteChoices& choices,
                                           EntryConfig* entry) {
    QString encoder = entry->codificador;
    if (auto refusal = readText(data, QStringLiteral("encoder"), &encoder))
        return refusal;
    if (encoder != entry->codificador) {
        if (!choices.videoEncoders.contains(encoder))
            return RemoteRefusal{"UnknownEncoder",
                                 uiText("El codificador %1 no está disponible en este OBS.")
                                     .arg(quoted(encoder.left(100))),
                                 {}};
        // Another encoder's advanced settings mean nothing to this one: its defaults apply.
        entry->codificador = encoder;
        entry->ajustesCodificador.clear();
    }
    const QJsonValue audioKbps = data.value(QLatin1String("audioKbps"));
    if (!audioKbps.isUndefined()) {
        const std::optional<int32_t> kbps = integerIn(audioKbps, kMinAudioKbps, kMaxAudioKbps);
        if (!kbps || std::find(std::begin(kAudioKbpsChoices), std::end(kAudioKbpsChoices), *kbps) ==
                         std::end(kAudioKbpsChoices)) {
            QStringList audioRates;
            for (int32_t choice : kAudioKbpsChoices)
                audioRates << QString::number(choice);
            return invalid(uiText("%1 tiene que ser uno de estos valores: %2.")
                               .arg(quoted(QStringLiteral("audioKbps")),
                                    audioRates.join(QLatin1String(", "))));
        }
        entry->audioKbps = *kbps;
    }
    if (auto refusal =
            readChoice(data, QStringLiteral("audioCodec"),
                       {QStringLiteral("aac"), QStringLiteral("opus")}, &entry->codificadorAudio))
        return refusal;
    if (auto refusal = readInt(data, QStringLiteral("videoKbps"), kMinVideoKbps, kMaxVideoKbps,
                               &entry->videoKbps))
        return refusal;
    // The stored advanced settings keep the bitrate the editor wrote into them in step.
    entry->ajustesCodificador = advancedWithBitrate(entry->ajustesCodificador, entry->videoKbps);
    return readInt(data, QStringLiteral("audioDelayMs"), kMinAudioDelayMs, kMaxAudioDelayMs,
                   &entry->retrasoAudioMs);
}

std::optional<RemoteRefusal> applySize(const QJsonObject& data, EntryConfig* entry) {
    int32_t width = entry->ancho;
    int32_t height = entry->alto;
    if (auto refusal = readInt(data, QStringLiteral("width"), 0, kMaxOwnSide, &width))
        return refusal;
    if (auto refusal = readInt(data, QStringLiteral("height"), 0, kMaxOwnSide, &height))
        return refusal;
    const bool canvas = width == 0 && height == 0;
    if (!canvas && (width < kMinOwnSide || height < kMinOwnSide))
        return invalid(uiText("El ancho y el alto van juntos: los dos 0 (el lienzo de OBS) o los "
                              "dos entre %1 y %2.")
                           .arg(kMinOwnSide)
                           .arg(kMaxOwnSide));
    entry->ancho = width;
    entry->alto = height;
    return readBool(data, QStringLiteral("fill"), &entry->llenar);
}

std::optional<RemoteRefusal> applySource(const QJsonObject& data, const RemoteChoices& choices,
                                         EntryConfig* entry) {
    const QString before = entry->fuente;
    if (auto refusal = readText(data, QStringLiteral("source"), &entry->fuente))
        return refusal;
    if (auto refusal = readBool(data, QStringLiteral("followsObs"), &entry->seguirObs))
        return refusal;
    if (auto refusal = readMatches(data, choices, &entry->equivalencias))
        return refusal;
    if (entry->fuente != before && !entry->fuente.isEmpty() && !choices.sourceExists(entry->fuente))
        return unknownSource(entry->fuente.left(100));
    if (!entry->seguirObs && entry->fuente.isEmpty())
        return RemoteRefusal{
            "MissingArgument",
            uiText("Falta %1: la escena o fuente que envía la entrada, o %2 para que siga a OBS.")
                .arg(quoted(QStringLiteral("source")), quoted(QStringLiteral("followsObs"))),
            {}};
    return std::nullopt;
}

// "relay": its fields over the entry's relay; null or {} removes it, and with it every
// destination's mark, which would mean nothing without one.
std::optional<RemoteRefusal> applyRelay(const QJsonObject& data, EntryConfig* entry) {
    const QJsonValue value = data.value(QLatin1String("relay"));
    if (value.isUndefined())
        return std::nullopt;
    if (!value.isNull() && !value.isObject())
        return invalid(uiText("%1 tiene que ser un objeto.").arg(quoted(QStringLiteral("relay"))));
    const QJsonObject object = value.toObject();
    if (object.isEmpty()) {
        entry->relevo = {};
        for (DestConfig& destination : entry->destinos)
            destination.porRelevo = false;
        return std::nullopt;
    }
    if (object.contains(QLatin1String("secret")))
        return invalid(uiText("El secreto del relé lo crea Relaycast y nunca sale de este equipo: "
                              "quita %1.")
                           .arg(quoted(QStringLiteral("secret"))));
    if (auto refusal = refuseUnknownFields(object, kRelayFields))
        return refusal;
    RelayConfig& relay = entry->relevo;
    for (const auto& [name, field] :
         {std::pair{QStringLiteral("address"), &relay.entrada},
          std::pair{QStringLiteral("statsUrl"), &relay.estadisticas},
          std::pair{QStringLiteral("allowFrom"), &relay.permitirDesde}}) {
        if (auto refusal = readText(object, name, field))
            return refusal;
        *field = field->trimmed();
    }
    // A new relay gets a secret of its own. One stored that does not open here is kept as it
    // is, as the editor keeps it: the relay installed elsewhere still takes that one.
    if (relay.secreto.isEmpty() && relay.storedSecreto.stored.isEmpty())
        relay.secreto = newRelaySecret();
    // A relay the request sends is checked whole, marked destinations or not.
    if (const QString error = planRelay(relaySettingsOf(relay), {}).error; !error.isEmpty())
        return invalid(error);
    return std::nullopt;
}

std::optional<RemoteRefusal> applyDestinations(const QJsonObject& data,
                                               const RemoteChoices& choices, EntryConfig* entry) {
    const QJsonValue value = data.value(QLatin1String("destinations"));
    if (value.isUndefined())
        return std::nullopt;
    if (!value.isArray())
        return invalid(
            uiText("%1 tiene que ser una lista.").arg(quoted(QStringLiteral("destinations"))));
    QList<DestConfig> destinations;
    QSet<QString> kept;
    for (const QJsonValue& item : value.toArray()) {
        if (!item.isObject())
            return invalid(uiText("Cada destino de %1 tiene que ser un objeto.")
                               .arg(quoted(QStringLiteral("destinations"))));
        const QJsonObject object = item.toObject();
        DestConfig destination;
        QString id;
        if (auto refusal = readText(object, QStringLiteral("destinationId"), &id))
            return refusal;
        if (object.contains(QLatin1String("destinationId"))) {
            const auto found =
                std::find_if(entry->destinos.cbegin(), entry->destinos.cend(),
                             [&](const DestConfig& existing) { return existing.id == id; });
            if (found == entry->destinos.cend() || kept.contains(id))
                return RemoteRefusal{
                    "UnknownDestination",
                    uiText("La entrada no tiene ningún destino %1.").arg(quoted(id.left(100))),
                    {}};
            destination = *found;
            kept.insert(id);
        } else {
            if (!object.contains(QLatin1String("address")) &&
                !object.contains(QLatin1String("service")))
                return RemoteRefusal{
                    "MissingArgument",
                    uiText("Falta %1 en un destino nuevo.").arg(quoted(QStringLiteral("address"))),
                    {}};
            destination.id = newConfigId();
        }
        if (auto refusal = applyDestinationFields(object, {QStringLiteral("destinationId")},
                                                  choices, *entry, &destination))
            return refusal;
        destinations.append(destination);
    }
    entry->destinos = destinations;
    return std::nullopt;
}

} // namespace

std::optional<RemoteRefusal> applyEntryFields(const QJsonObject& data, const RemoteChoices& choices,
                                              bool withEntryId, EntryConfig* entry) {
    QStringList allowed = kEntryFields;
    if (withEntryId)
        allowed << QStringLiteral("entryId");
    if (auto refusal = refuseUnknownFields(data, allowed))
        return refusal;
    if (auto refusal = readText(data, QStringLiteral("name"), &entry->nombre))
        return refusal;
    entry->nombre = entry->nombre.trimmed();
    for (const auto& step : {applyProfile, applyEncoding}) {
        if (auto refusal = step(data, choices, entry))
            return refusal;
    }
    if (auto refusal = applySource(data, choices, entry))
        return refusal;
    if (auto refusal = applySize(data, entry))
        return refusal;
    if (auto refusal = readBool(data, QStringLiteral("sameAsObsStream"), &entry->codificadorDeObs))
        return refusal;
    if (auto refusal = readBool(data, QStringLiteral("withObsStream"), &entry->conEmisionObs))
        return refusal;
    // Before the destinations: a relay removed unmarks them, and they may be marked again.
    if (auto refusal = applyRelay(data, entry))
        return refusal;
    if (auto refusal = applyDestinations(data, choices, entry))
        return refusal;
    return checkDestinations(*entry);
}

std::optional<RemoteRefusal> readSendChoice(const QJsonObject& data, SendChoice* choice) {
    SendChoice read = *choice;
    if (auto refusal =
            readInt(data, QStringLiteral("maxVideoKbps"), 0, kMaxVideoKbps, &read.videoKbpsMax))
        return refusal;
    if (data.contains(QLatin1String("width")) != data.contains(QLatin1String("height")))
        return invalid(uiText("%1 y %2 van juntos.")
                           .arg(quoted(QStringLiteral("width")), quoted(QStringLiteral("height"))));
    for (const auto& [name, side] : {std::pair{QStringLiteral("width"), &read.ancho},
                                     std::pair{QStringLiteral("height"), &read.alto}}) {
        if (auto refusal = readInt(data, name, 0, kMaxOwnSide, side))
            return refusal;
    }
    if ((read.ancho == 0) != (read.alto == 0) ||
        (read.ancho != 0 && (read.ancho < kMinOwnSide || read.alto < kMinOwnSide)))
        return invalid(uiText("El tamaño propio de un destino va de %1 a %2 por lado; 0 y 0 es "
                              "el de la entrada.")
                           .arg(kMinOwnSide)
                           .arg(kMaxOwnSide));
    if (auto refusal =
            readInt(data, QStringLiteral("audioTrack"), 0, kMaxAudioTrack, &read.pistaAudio))
        return refusal;
    if (auto refusal =
            readInt(data, QStringLiteral("delaySecs"), 0, kMaxStreamDelaySecs, &read.retrasoSegs))
        return refusal;
    *choice = read;
    return std::nullopt;
}

QJsonObject remoteSendChoiceFields(const SendChoice& choice) {
    return {{"maxVideoKbps", choice.videoKbpsMax},
            {"width", choice.ancho},
            {"height", choice.alto},
            {"audioTrack", choice.pistaAudio},
            {"delaySecs", choice.retrasoSegs}};
}

std::optional<RemoteRefusal> readTextField(const QJsonObject& data, const QString& name,
                                           QString* out) {
    return readText(data, name, out);
}

std::optional<RemoteRefusal> applyDestinationFields(const QJsonObject& data,
                                                    const QStringList& allowed,
                                                    const RemoteChoices& choices,
                                                    const EntryConfig& entry,
                                                    DestConfig* destination) {
    if (auto refusal = refuseUnknownFields(data, kDestinationFields + allowed))
        return refusal;
    const DestConfig before = *destination;
    if (auto refusal = readText(data, QStringLiteral("address"), &destination->url))
        return refusal;
    destination->url = destination->url.trimmed();
    // A key or passphrase set on purpose replaces whatever was stored, opened or not.
    if (data.contains(QLatin1String("key"))) {
        if (auto refusal = readText(data, QStringLiteral("key"), &destination->clave))
            return refusal;
        destination->storedClave = {};
    }
    if (data.contains(QLatin1String("passphrase"))) {
        if (auto refusal = readText(data, QStringLiteral("passphrase"), &destination->contrasena))
            return refusal;
        destination->storedContrasena = {};
    }
    if (auto refusal = applyServiceFields(data, choices.services, before, destination))
        return refusal;
    if (auto refusal = readSendChoice(data, &destination->envio))
        return refusal;
    if (auto refusal = readBool(data, QStringLiteral("throughRelay"), &destination->porRelevo))
        return refusal;
    // Marked by this request: there must be a relay to send it. A mark the entry keeps from a
    // relay since removed is left alone, as the editor leaves it (it does nothing).
    if (data.contains(QLatin1String("throughRelay")) && destination->porRelevo &&
        !entry.relevo.isSet()) {
        qsizetype number = entry.destinos.size() + 1;
        for (qsizetype i = 0; i < entry.destinos.size(); ++i)
            number = entry.destinos[i].id == destination->id ? i + 1 : number;
        return invalid(
            uiText("Destino %1: va por el relé, pero la entrada no tiene relé.").arg(number));
    }
    applyServiceFit(data, choices.serviceFit, entry, before, destination);
    // Only SRT sends a passphrase, as the editor keeps it.
    if (classifyAddress(destination->url) != AddressKind::SRT) {
        destination->contrasena.clear();
        destination->storedContrasena = {};
    }
    return std::nullopt;
}

std::optional<RemoteRefusal> checkDestinations(const EntryConfig& entry) {
    for (qsizetype i = 0; i < entry.destinos.size(); ++i) {
        const DestConfig& destination = entry.destinos[i];
        const QString problem = validateDestinationAddress(
            destination.url.trimmed(), static_cast<int>(i + 1), destination.clave);
        if (!problem.isEmpty())
            return RemoteRefusal{"InvalidAddress", problem, {}};
    }
    // The relay is checked only while it carries something, as the editor checks it: a relay
    // typed but unused (or with a secret that does not open here) holds up no other edit.
    if (!usesRelay(entry))
        return std::nullopt;
    const RelayPlan plan = planRelay(relaySettingsOf(entry.relevo), relayedDestinationsOf(entry));
    if (!plan.error.isEmpty())
        return invalid(plan.error);
    if (!plan.notRelayable.isEmpty())
        return RemoteRefusal{"InvalidAddress", plan.notRelayable.first(), {}};
    return std::nullopt;
}

QString remoteFieldName(StopField field) {
    switch (field) {
    case StopField::Source:
        return QStringLiteral("source");
    case StopField::FollowsObs:
        return QStringLiteral("followsObs");
    case StopField::Matches:
        return QStringLiteral("matches");
    case StopField::Width:
        return QStringLiteral("width");
    case StopField::Height:
        return QStringLiteral("height");
    case StopField::Fill:
        return QStringLiteral("fill");
    case StopField::Encoder:
        return QStringLiteral("encoder");
    case StopField::AudioKbps:
        return QStringLiteral("audioKbps");
    case StopField::AudioCodec:
        return QStringLiteral("audioCodec");
    case StopField::RunningDestination:
        return QStringLiteral("destinations");
    case StopField::Relay:
        return QStringLiteral("relay");
    }
    return {};
}

QJsonObject remoteEntryFields(const EntryConfig& entry) {
    QJsonObject matches;
    for (auto it = entry.equivalencias.cbegin(); it != entry.equivalencias.cend(); ++it)
        matches.insert(it.key(), it.value());
    return {
        {"width", entry.ancho},
        {"height", entry.alto},
        {"fill", entry.llenar},
        {"encoder", entry.codificador},
        {"videoKbps", entry.videoKbps},
        {"audioKbps", entry.audioKbps},
        {"audioCodec", entry.codificadorAudio.trimmed().isEmpty()
                           ? QStringLiteral("aac")
                           : entry.codificadorAudio.trimmed().toLower()},
        {"audioDelayMs", entry.retrasoAudioMs},
        {"withObsStream", entry.conEmisionObs},
        {"sameAsObsStream", entry.codificadorDeObs},
        {"matches", matches},
    };
}

} // namespace relaycast
