#include "engine/entry/entry_edit.h"

#include "engine/encoding/encoder_settings.h"
#include "engine/encoding/video_renditions.h"
#include "relay/entry_relay.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

namespace relaycast {
namespace {

template <typename T> void takeChanged(T& into, const T& base, const T& wanted) {
    if (!(wanted == base))
        into = wanted;
}

// Equal apart from the bitrate, which the video bitrate field owns.
bool sameAdvanced(const QString& a, const QString& b) {
    QJsonObject left = QJsonDocument::fromJson(a.toUtf8()).object();
    QJsonObject right = QJsonDocument::fromJson(b.toUtf8()).object();
    if (left.isEmpty() || right.isEmpty())
        return a.trimmed() == b.trimmed();
    left.remove(QStringLiteral("bitrate"));
    right.remove(QStringLiteral("bitrate"));
    return left == right;
}

// The destination and how its secrets are stored: clearing an unopened secret on purpose is a
// change too.
bool sameDestination(const DestConfig& a, const DestConfig& b) {
    return a == b && a.storedUrl.stored == b.storedUrl.stored &&
           a.storedClave.stored == b.storedClave.stored &&
           a.storedContrasena.stored == b.storedContrasena.stored;
}

const DestConfig* findIn(const QList<DestConfig>& destinations, const QString& id) {
    const auto found = std::find_if(destinations.cbegin(), destinations.cend(),
                                    [&](const DestConfig& d) { return d.id == id; });
    return found != destinations.cend() ? &*found : nullptr;
}

QList<DestConfig> layDestinationsOver(const QList<DestConfig>& now, const QList<DestConfig>& base,
                                      const QList<DestConfig>& wanted, QStringList* lost) {
    QList<DestConfig> result;
    QSet<QString> placed;
    for (const DestConfig& destination : wanted) {
        const DestConfig* seen = findIn(base, destination.id);
        const DestConfig* current = findIn(now, destination.id);
        if (!seen) {
            result.append(destination); // added by the caller
        } else if (!current) {
            // Removed by someone else meanwhile: it stays removed.
            if (!sameDestination(*seen, destination) && lost)
                lost->append(destination.id);
        } else {
            result.append(sameDestination(*seen, destination) ? *current : destination);
        }
        placed.insert(destination.id);
    }
    // Added by someone else meanwhile; those the caller removed stay removed.
    for (const DestConfig& destination : now) {
        if (!placed.contains(destination.id) && !findIn(base, destination.id))
            result.append(destination);
    }
    return result;
}

} // namespace

EntryConfig layEditOver(const EntryConfig& now, const EntryEdit& edit, QStringList* lost) {
    const EntryConfig& base = edit.base;
    const EntryConfig& wanted = edit.wanted;
    EntryConfig result = now;
    takeChanged(result.nombre, base.nombre, wanted.nombre);
    takeChanged(result.fuente, base.fuente, wanted.fuente);
    takeChanged(result.seguirObs, base.seguirObs, wanted.seguirObs);
    takeChanged(result.equivalencias, base.equivalencias, wanted.equivalencias);
    takeChanged(result.videoKbps, base.videoKbps, wanted.videoKbps);
    takeChanged(result.audioKbps, base.audioKbps, wanted.audioKbps);
    if (audioCodecName(wanted.codificadorAudio) != audioCodecName(base.codificadorAudio))
        result.codificadorAudio = wanted.codificadorAudio;
    takeChanged(result.retrasoAudioMs, base.retrasoAudioMs, wanted.retrasoAudioMs);
    if (wanted.ancho != base.ancho || wanted.alto != base.alto) {
        result.ancho = wanted.ancho;
        result.alto = wanted.alto;
    }
    takeChanged(result.llenar, base.llenar, wanted.llenar);
    takeChanged(result.conEmisionObs, base.conEmisionObs, wanted.conEmisionObs);
    takeChanged(result.grabacion, base.grabacion, wanted.grabacion);
    takeChanged(result.codificadorDeObs, base.codificadorDeObs, wanted.codificadorDeObs);
    // The relay field by field: a request may have moved its page while the user wrote its
    // files. The secret goes with how it was stored.
    takeChanged(result.relevo.entrada, base.relevo.entrada, wanted.relevo.entrada);
    takeChanged(result.relevo.estadisticas, base.relevo.estadisticas, wanted.relevo.estadisticas);
    takeChanged(result.relevo.permitirDesde, base.relevo.permitirDesde,
                wanted.relevo.permitirDesde);
    takeChanged(result.relevo.puertoLocal, base.relevo.puertoLocal, wanted.relevo.puertoLocal);
    takeChanged(result.relevo.escrita, base.relevo.escrita, wanted.relevo.escrita);
    if (wanted.relevo.secreto != base.relevo.secreto) {
        result.relevo.secreto = wanted.relevo.secreto;
        result.relevo.storedSecreto = wanted.relevo.storedSecreto;
    }
    if (wanted.codificador != base.codificador) {
        result.codificador = wanted.codificador;
        result.ajustesCodificador = wanted.ajustesCodificador;
    } else if (result.codificador == wanted.codificador &&
               !sameAdvanced(base.ajustesCodificador, wanted.ajustesCodificador)) {
        result.ajustesCodificador = wanted.ajustesCodificador;
    }
    result.ajustesCodificador = advancedWithBitrate(result.ajustesCodificador, result.videoKbps);
    result.destinos = layDestinationsOver(now.destinos, base.destinos, wanted.destinos, lost);
    return result;
}

QList<StopField> fieldsNeedingStop(const EntryConfig& before, const EntryConfig& after,
                                   const std::function<bool(const QString&)>& running) {
    QList<StopField> fields;
    const auto check = [&](bool changed, StopField field) {
        if (changed)
            fields << field;
    };
    check(after.seguirObs && before.fuente != after.fuente, StopField::Source);
    check(before.seguirObs != after.seguirObs, StopField::FollowsObs);
    check(before.equivalencias != after.equivalencias, StopField::Matches);
    check(before.ancho != after.ancho, StopField::Width);
    check(before.alto != after.alto, StopField::Height);
    check(before.llenar != after.llenar, StopField::Fill);
    check(before.codificador != after.codificador ||
              before.codificadorDeObs != after.codificadorDeObs,
          StopField::Encoder);
    check(before.audioKbps != after.audioKbps, StopField::AudioKbps);
    check(audioCodecName(before.codificadorAudio) != audioCodecName(after.codificadorAudio),
          StopField::AudioCodec);
    // Destinations come and go live; one that runs keeps its address and secrets.
    check(std::any_of(after.destinos.cbegin(), after.destinos.cend(),
                      [&](const DestConfig& destination) {
                          const DestConfig* was = findIn(before.destinos, destination.id);
                          if (!was)
                              return false;
                          // Behind the relay, its address and key are the relay's to send to:
                          // OBS's stream does not change with them.
                          const bool relayedBoth = sendsThroughRelay(before, *was) &&
                                                   sendsThroughRelay(after, destination);
                          return !was->sameAddressAs(destination) && running(destination.id) &&
                                 !relayedBoth;
                      }),
          StopField::RunningDestination);
    // OBS's one stream to the relay goes to its address under its secret.
    check(running(relayOutputIdOf(after.id)) && (before.relevo.entrada != after.relevo.entrada ||
                                                 before.relevo.secreto != after.relevo.secreto),
          StopField::Relay);
    return fields;
}

QStringList destinationsToRestart(const EntryConfig& before, const EntryConfig& after,
                                  uint32_t pictureWidth, uint32_t pictureHeight,
                                  const std::function<bool(const QString&)>& running) {
    QStringList ids;
    for (const DestConfig& destination : after.destinos) {
        const DestConfig* was = findIn(before.destinos, destination.id);
        if (!was || !was->sameAddressAs(destination) || !running(destination.id))
            continue;
        // The relay takes the entry's own encode for all it carries.
        if (sendsThroughRelay(before, *was) || sendsThroughRelay(after, destination))
            continue;
        const bool sameEncode =
            sentRendition(before, was->envio, pictureWidth, pictureHeight) ==
            sentRendition(after, destination.envio, pictureWidth, pictureHeight);
        if (!sameEncode || was->envio.pistaAudio != destination.envio.pistaAudio ||
            was->envio.retrasoSegs != destination.envio.retrasoSegs)
            ids << destination.id;
    }
    return ids;
}

bool changesLiveEncoding(const EntryConfig& before, const EntryConfig& after) {
    return before.videoKbps != after.videoKbps ||
           before.ajustesCodificador != after.ajustesCodificador ||
           before.retrasoAudioMs != after.retrasoAudioMs ||
           hasMpegTsDestination(before) != hasMpegTsDestination(after);
}

QString advancedWithBitrate(const QString& json, int32_t kbps) {
    QJsonObject settings = QJsonDocument::fromJson(json.toUtf8()).object();
    if (settings.isEmpty() || settings.value(QLatin1String("bitrate")) == QJsonValue(kbps))
        return json;
    settings.insert(QStringLiteral("bitrate"), kbps);
    return QString::fromUtf8(QJsonDocument(settings).toJson(QJsonDocument::Compact));
}

QString audioCodecName(const QString& stored) {
    const QString name = stored.trimmed().toLower();
    return name.isEmpty() ? QStringLiteral("aac") : name;
}

} // namespace relaycast
