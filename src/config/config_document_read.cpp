#include "config/config_document.h"

#include "config/json_values.h"
#include "config/secret_protection.h"

#include <QJsonArray>

namespace relaycast {
namespace {

bool isStoredInClear(const QString& stored) {
    return !stored.startsWith(QLatin1String(kProtectedPrefix));
}

// A secret stored in the clear that should be protected by the next write.
bool needsReprotection(const QString& clave, const QString& contrasena, const QString& url) {
    return (!clave.isEmpty() && isStoredInClear(clave)) ||
           (!contrasena.isEmpty() && isStoredInClear(contrasena)) ||
           (url.contains(QLatin1Char('?')) && isStoredInClear(url));
}

QString idOrNew(const QJsonObject& object) {
    const QString id = jsonString(object.value(QLatin1String("id")));
    return id.isEmpty() ? newConfigId() : id;
}

SceneMatchMap readEquivalences(const QJsonObject& object) {
    SceneMatchMap matches;
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString sent = jsonString(it.value());
        if (!it.key().isEmpty() && !sent.isEmpty())
            matches.insert(it.key(), sent);
    }
    return matches;
}

// What a destination or recording takes of the encode; a value out of range reads as "as the
// entry", so a hand-edited file never asks for an encode the editor would refuse.
SendChoice readSendChoice(const QJsonObject& object, bool withDelay) {
    const auto inRange = [&](const char* key, int32_t low, int32_t high) {
        const int32_t value = jsonInt32(object.value(QLatin1String(key)), 0);
        return value >= low && value <= high ? value : 0;
    };
    SendChoice choice;
    choice.videoKbpsMax = inRange("videoKbpsMax", kMinVideoKbps, kMaxVideoKbps);
    choice.ancho = inRange("ancho", kMinOwnSide, kMaxOwnSide);
    choice.alto = inRange("alto", kMinOwnSide, kMaxOwnSide);
    if (choice.ancho == 0 || choice.alto == 0)
        choice.ancho = choice.alto = 0;
    choice.pistaAudio = inRange("pistaAudio", 1, kMaxAudioTrack);
    if (withDelay)
        choice.retrasoSegs = inRange("retrasoSegs", 1, kMaxStreamDelaySecs);
    return choice;
}

RecordingConfig readRecording(const QJsonObject& object) {
    RecordingConfig recording;
    const QString format = jsonString(object.value(QLatin1String("formato"))).trimmed().toLower();
    if (isRecordingFormat(format))
        recording.formato = format;
    recording.carpeta = jsonString(object.value(QLatin1String("carpeta"))).trimmed();
    recording.conEmisiones = jsonBool(object.value(QLatin1String("conEmisiones")), false);
    recording.envio = readSendChoice(object, false);
    return recording;
}

// The plain value of a stored secret, remembering how it was stored when it was protected.
QString openStored(const QString& stored, StoredSecret& kept, bool& failed) {
    bool ok = true;
    const QString plain = unprotectSecret(stored, ok);
    if (!isStoredInClear(stored)) {
        kept.stored = stored;
        kept.opened = ok;
        kept.openedAs = plain;
    }
    if (!ok)
        failed = true;
    return plain;
}

// Reads one destination; false when it must be dropped (no address stored at all). Only a
// destination that is kept reports its secrets: a dropped one is on no card and never written.
bool readDestination(const QJsonObject& object, DestConfig& dest, ReadConfig& outcome) {
    dest.id = idOrNew(object);
    const QString storedUrl = jsonString(object.value(QLatin1String("url")));
    const QString storedClave = jsonString(object.value(QLatin1String("clave")));
    const QString storedContrasena = jsonString(object.value(QLatin1String("contrasena")));

    bool failed = false;
    dest.url = openStored(storedUrl, dest.storedUrl, failed);
    dest.clave = openStored(storedClave, dest.storedClave, failed);
    dest.contrasena = openStored(storedContrasena, dest.storedContrasena, failed);
    dest.envio = readSendChoice(object, true);
    dest.servicio = jsonString(object.value(QLatin1String("servicio"))).trimmed();
    dest.porRelevo = jsonBool(object.value(QLatin1String("porRelevo")), false);

    if (dest.url.isEmpty()) {
        if (storedUrl.isEmpty())
            return false;
        // The address was stored but could not be opened: keep the destination so the user
        // sees it and can type the address again.
        dest.url = QString::fromLatin1(DestConfig::kUnopenedUrl);
    }
    if (failed)
        outcome.unprotectFailed = true;
    if (needsReprotection(storedClave, storedContrasena, storedUrl))
        outcome.needsReprotection = true;
    return true;
}

// The entry's relay; none when it names no address to send to.
RelayConfig readRelay(const QJsonObject& object, ReadConfig& outcome) {
    RelayConfig relay;
    relay.entrada = jsonString(object.value(QLatin1String("entrada"))).trimmed();
    if (relay.entrada.isEmpty())
        return {};
    relay.estadisticas = jsonString(object.value(QLatin1String("estadisticas"))).trimmed();
    relay.permitirDesde = jsonString(object.value(QLatin1String("permitirDesde"))).trimmed();
    relay.puertoLocal = jsonClampedInt32(object.value(QLatin1String("puertoLocal")),
                                         RelayConfig{}.puertoLocal, 1, 65535);
    relay.escrita = jsonString(object.value(QLatin1String("escrita")));
    const QString stored = jsonString(object.value(QLatin1String("secreto")));
    bool failed = false;
    relay.secreto = openStored(stored, relay.storedSecreto, failed);
    if (failed)
        outcome.unprotectFailed = true;
    if (!stored.isEmpty() && isStoredInClear(stored))
        outcome.needsReprotection = true;
    return relay;
}

// Reads one entry; false when it must be skipped (nothing to send and not following the host).
bool readEntry(const QJsonObject& object, EntryConfig& entry, ReadConfig& outcome) {
    entry.id = idOrNew(object);
    entry.fuente = jsonString(object.value(QLatin1String("fuente")));
    entry.nombre = jsonString(object.value(QLatin1String("nombre"))).trimmed();
    entry.seguirObs = jsonBool(object.value(QLatin1String("seguirObs")), false);
    if (entry.fuente.isEmpty() && !entry.seguirObs)
        return false;

    entry.codificador = jsonString(object.value(QLatin1String("codificador")),
                                   QString::fromLatin1(kDefaultVideoEncoder));
    entry.videoKbps = jsonClampedInt32(object.value(QLatin1String("videoKbps")), 4000,
                                       kMinVideoKbps, kMaxVideoKbps);
    entry.audioKbps = jsonClampedInt32(object.value(QLatin1String("audioKbps")), 128, kMinAudioKbps,
                                       kMaxAudioKbps);
    entry.codificadorAudio = jsonString(object.value(QLatin1String("codificadorAudio"))).trimmed();
    entry.retrasoAudioMs = jsonClampedInt32(object.value(QLatin1String("retrasoAudioMs")), 0,
                                            kMinAudioDelayMs, kMaxAudioDelayMs);
    entry.ajustesCodificador = jsonString(object.value(QLatin1String("ajustesCodificador")));
    entry.codificadorDeObs = jsonBool(object.value(QLatin1String("codificadorDeObs")), false);

    const int32_t ancho = jsonInt32(object.value(QLatin1String("ancho")), 0);
    const int32_t alto = jsonInt32(object.value(QLatin1String("alto")), 0);
    const auto ownSide = [](int32_t side) { return side >= kMinOwnSide && side <= kMaxOwnSide; };
    const bool ownSize = ownSide(ancho) && ownSide(alto);
    entry.ancho = ownSize ? ancho : 0;
    entry.alto = ownSize ? alto : 0;

    entry.llenar = jsonBool(object.value(QLatin1String("llenar")), false);
    entry.conEmisionObs = jsonBool(object.value(QLatin1String("conEmisionObs")), false);
    entry.grabacion = readRecording(object.value(QLatin1String("grabacion")).toObject());
    entry.equivalencias = readEquivalences(object.value(QLatin1String("equivalencias")).toObject());

    const QJsonArray destinations = object.value(QLatin1String("destinos")).toArray();
    for (const QJsonValue& element : destinations) {
        DestConfig dest;
        if (readDestination(element.toObject(), dest, outcome))
            entry.destinos.append(dest);
    }
    entry.relevo = readRelay(object.value(QLatin1String("relevo")).toObject(), outcome);
    return true;
}

CollectionConfig readCollection(const QJsonObject& object, ReadConfig& outcome) {
    CollectionConfig entries;
    const QJsonArray elements = object.value(QLatin1String("entradas")).toArray();
    for (const QJsonValue& element : elements) {
        EntryConfig entry;
        if (readEntry(element.toObject(), entry, outcome))
            entries.append(entry);
    }
    return entries;
}

bool readProfile(const QJsonObject& object, EncoderProfile& profile) {
    profile.nombre = jsonString(object.value(QLatin1String("nombre"))).trimmed();
    if (profile.nombre.isEmpty())
        return false;
    profile.codificador = jsonString(object.value(QLatin1String("codificador")),
                                     QString::fromLatin1(kDefaultVideoEncoder));
    profile.videoKbps = jsonClampedInt32(object.value(QLatin1String("videoKbps")), 4000,
                                         kMinVideoKbps, kMaxVideoKbps);
    profile.audioKbps = jsonClampedInt32(object.value(QLatin1String("audioKbps")), 128,
                                         kMinAudioKbps, kMaxAudioKbps);
    profile.codificadorAudio =
        jsonString(object.value(QLatin1String("codificadorAudio"))).trimmed();
    profile.ajustesCodificador = jsonString(object.value(QLatin1String("ajustesCodificador")));
    return true;
}

} // namespace

ReadConfig readConfigDocument(const QJsonObject& root) {
    ReadConfig outcome;

    const QJsonArray profiles = root.value(QLatin1String("perfiles")).toArray();
    for (const QJsonValue& element : profiles) {
        EncoderProfile profile;
        if (readProfile(element.toObject(), profile))
            outcome.profiles.append(profile);
    }

    const QJsonObject collections = root.value(QLatin1String("colecciones")).toObject();
    for (auto it = collections.begin(); it != collections.end(); ++it)
        outcome.collections.insert(it.key(), readCollection(it.value().toObject(), outcome));

    for (const QJsonValue& element : root.value(QLatin1String("apartadas")).toArray()) {
        const QJsonObject object = element.toObject();
        SetAsideEntries group{jsonString(object.value(QLatin1String("coleccion"))),
                              jsonString(object.value(QLatin1String("apartadaEl"))),
                              readCollection(object, outcome)};
        if (!group.entradas.isEmpty())
            outcome.setAside.append(group);
    }

    return outcome;
}

} // namespace relaycast
