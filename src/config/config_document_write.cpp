#include "config/config_document.h"

#include "config/secret_protection.h"

#include <QJsonArray>

#include <optional>

namespace relaycast {
namespace {

// The stored form of one secret (`placeholder` is what the value shows while unopened).
QString storedForm(const QString& value, const StoredSecret& was, const QString& placeholder,
                   WriteOutcome& outcome) {
    if (!was.stored.isEmpty() && !was.opened && value == placeholder)
        return was.stored; // kept as it is until the user types it again
    if (const std::optional<QString> sealed = protectSecretChecked(value))
        return *sealed;
    if (!was.stored.isEmpty() && was.opened && was.openedAs == value)
        return was.stored; // protected before: never rewritten in the clear
    outcome.storedInClear = true;
    return value;
}

// Only the fields set, so a destination or recording without them is written as before.
void insertSendChoice(QJsonObject& object, const SendChoice& choice) {
    const auto insertSet = [&](const char* key, int32_t value) {
        if (value != 0)
            object.insert(QLatin1String(key), value);
    };
    insertSet("videoKbpsMax", choice.videoKbpsMax);
    insertSet("ancho", choice.ancho);
    insertSet("alto", choice.alto);
    insertSet("pistaAudio", choice.pistaAudio);
    insertSet("retrasoSegs", choice.retrasoSegs);
}

QJsonObject destinationObject(const DestConfig& dest, WriteOutcome& outcome) {
    // Only addresses with a query can carry a key; plain addresses stay readable in the file.
    const QString url = dest.url.contains(QLatin1Char('?'))
                            ? storedForm(dest.url, dest.storedUrl,
                                         QString::fromLatin1(DestConfig::kUnopenedUrl), outcome)
                            : dest.url;
    QJsonObject object;
    object.insert(QLatin1String("id"), dest.id);
    object.insert(QLatin1String("url"), url);
    object.insert(QLatin1String("clave"), storedForm(dest.clave, dest.storedClave, {}, outcome));
    object.insert(QLatin1String("contrasena"),
                  storedForm(dest.contrasena, dest.storedContrasena, {}, outcome));
    insertSendChoice(object, dest.envio);
    // Written only when set, so a file without services reads and writes back as it was.
    if (!dest.servicio.isEmpty())
        object.insert(QLatin1String("servicio"), dest.servicio);
    if (dest.porRelevo)
        object.insert(QLatin1String("porRelevo"), true);
    return object;
}

QJsonObject equivalencesObject(const SceneMatchMap& matches) {
    QJsonObject object;
    for (auto it = matches.begin(); it != matches.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

QJsonObject recordingObject(const RecordingConfig& recording) {
    const RecordingConfig defaults;
    QJsonObject object;
    if (recording.formato != defaults.formato)
        object.insert(QLatin1String("formato"), recording.formato);
    if (!recording.carpeta.isEmpty())
        object.insert(QLatin1String("carpeta"), recording.carpeta);
    if (recording.conEmisiones)
        object.insert(QLatin1String("conEmisiones"), true);
    insertSendChoice(object, recording.envio);
    return object;
}

QJsonObject relayObject(const RelayConfig& relay, WriteOutcome& outcome) {
    QJsonObject object;
    object.insert(QLatin1String("entrada"), relay.entrada);
    object.insert(QLatin1String("estadisticas"), relay.estadisticas);
    object.insert(QLatin1String("secreto"),
                  storedForm(relay.secreto, relay.storedSecreto, {}, outcome));
    if (!relay.permitirDesde.isEmpty())
        object.insert(QLatin1String("permitirDesde"), relay.permitirDesde);
    if (relay.puertoLocal != RelayConfig{}.puertoLocal)
        object.insert(QLatin1String("puertoLocal"), relay.puertoLocal);
    if (!relay.escrita.isEmpty())
        object.insert(QLatin1String("escrita"), relay.escrita);
    return object;
}

QJsonObject entryObject(const EntryConfig& entry, WriteOutcome& outcome) {
    QJsonObject object;
    object.insert(QLatin1String("id"), entry.id);
    object.insert(QLatin1String("fuente"), entry.fuente);
    if (!entry.nombre.isEmpty())
        object.insert(QLatin1String("nombre"), entry.nombre);
    object.insert(QLatin1String("codificador"), entry.codificador);
    object.insert(QLatin1String("videoKbps"), entry.videoKbps);
    object.insert(QLatin1String("audioKbps"), entry.audioKbps);
    if (!entry.codificadorAudio.isEmpty())
        object.insert(QLatin1String("codificadorAudio"), entry.codificadorAudio);
    if (entry.retrasoAudioMs > 0)
        object.insert(QLatin1String("retrasoAudioMs"), entry.retrasoAudioMs);
    object.insert(QLatin1String("ajustesCodificador"), entry.ajustesCodificador);
    object.insert(QLatin1String("ancho"), entry.ancho);
    object.insert(QLatin1String("alto"), entry.alto);
    object.insert(QLatin1String("llenar"), entry.llenar);
    object.insert(QLatin1String("seguirObs"), entry.seguirObs);
    // Only when set, so files of entries without it stay as older versions wrote them.
    if (entry.conEmisionObs)
        object.insert(QLatin1String("conEmisionObs"), true);
    if (entry.codificadorDeObs)
        object.insert(QLatin1String("codificadorDeObs"), true);
    if (const QJsonObject recording = recordingObject(entry.grabacion); !recording.isEmpty())
        object.insert(QLatin1String("grabacion"), recording);
    object.insert(QLatin1String("equivalencias"), equivalencesObject(entry.equivalencias));

    QJsonArray destinations;
    for (const DestConfig& dest : entry.destinos)
        destinations.append(destinationObject(dest, outcome));
    object.insert(QLatin1String("destinos"), destinations);
    // Only with a relay, so files of entries without one stay as older versions wrote them.
    if (entry.relevo.isSet())
        object.insert(QLatin1String("relevo"), relayObject(entry.relevo, outcome));
    return object;
}

QJsonObject profileObject(const EncoderProfile& profile) {
    QJsonObject object;
    object.insert(QLatin1String("nombre"), profile.nombre);
    object.insert(QLatin1String("codificador"), profile.codificador);
    object.insert(QLatin1String("videoKbps"), profile.videoKbps);
    object.insert(QLatin1String("audioKbps"), profile.audioKbps);
    if (!profile.codificadorAudio.isEmpty())
        object.insert(QLatin1String("codificadorAudio"), profile.codificadorAudio);
    object.insert(QLatin1String("ajustesCodificador"), profile.ajustesCodificador);
    return object;
}

} // namespace

QJsonObject writeConfigDocument(const QMap<QString, CollectionConfig>& collections,
                                const QList<EncoderProfile>& profiles,
                                const QList<SetAsideEntries>& setAside, WriteOutcome* outcome) {
    WriteOutcome local;
    WriteOutcome& result = outcome ? *outcome : local;
    const auto entriesArray = [&](const CollectionConfig& collection) {
        QJsonArray entries;
        for (const EntryConfig& entry : collection)
            entries.append(entryObject(entry, result));
        return entries;
    };
    QJsonObject collectionsObject;
    for (auto it = collections.begin(); it != collections.end(); ++it) {
        QJsonObject collection;
        collection.insert(QLatin1String("entradas"), entriesArray(it.value()));
        collectionsObject.insert(it.key(), collection);
    }

    QJsonArray profilesArray;
    for (const EncoderProfile& profile : profiles)
        profilesArray.append(profileObject(profile));

    QJsonObject root;
    root.insert(QLatin1String("version"), 1);
    root.insert(QLatin1String("colecciones"), collectionsObject);
    root.insert(QLatin1String("perfiles"), profilesArray);
    // Only when there are any; versions before it ignore the key.
    if (!setAside.isEmpty()) {
        QJsonArray groups;
        for (const SetAsideEntries& group : setAside) {
            QJsonObject object;
            object.insert(QLatin1String("coleccion"), group.coleccion);
            object.insert(QLatin1String("apartadaEl"), group.apartadaEl);
            object.insert(QLatin1String("entradas"), entriesArray(group.entradas));
            groups.append(object);
        }
        root.insert(QLatin1String("apartadas"), groups);
    }
    return root;
}

} // namespace relaycast
