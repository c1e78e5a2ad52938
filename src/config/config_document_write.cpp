#include "config/config_document.h"

#include "config/secret_protection.h"

#include <QJsonArray>

namespace relaycast {
namespace {

// Only addresses with a query can carry a key; plain addresses stay readable in the file.
QString storedUrl(const QString& url) {
    return url.contains(QLatin1Char('?')) ? protectSecret(url) : url;
}

QJsonObject destinationObject(const DestConfig& dest) {
    QJsonObject object;
    object.insert(QLatin1String("id"), dest.id);
    object.insert(QLatin1String("url"), storedUrl(dest.url));
    object.insert(QLatin1String("clave"), protectSecret(dest.clave));
    object.insert(QLatin1String("contrasena"), protectSecret(dest.contrasena));
    return object;
}

QJsonObject equivalencesObject(const SceneMatchMap& matches) {
    QJsonObject object;
    for (auto it = matches.begin(); it != matches.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

QJsonObject entryObject(const EntryConfig& entry) {
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
    object.insert(QLatin1String("equivalencias"), equivalencesObject(entry.equivalencias));

    QJsonArray destinations;
    for (const DestConfig& dest : entry.destinos)
        destinations.append(destinationObject(dest));
    object.insert(QLatin1String("destinos"), destinations);
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
                                const QList<EncoderProfile>& profiles) {
    QJsonObject collectionsObject;
    for (auto it = collections.begin(); it != collections.end(); ++it) {
        QJsonArray entries;
        for (const EntryConfig& entry : it.value())
            entries.append(entryObject(entry));
        QJsonObject collection;
        collection.insert(QLatin1String("entradas"), entries);
        collectionsObject.insert(it.key(), collection);
    }

    QJsonArray profilesArray;
    for (const EncoderProfile& profile : profiles)
        profilesArray.append(profileObject(profile));

    QJsonObject root;
    root.insert(QLatin1String("version"), 1);
    root.insert(QLatin1String("colecciones"), collectionsObject);
    root.insert(QLatin1String("perfiles"), profilesArray);
    return root;
}

} // namespace relaycast
