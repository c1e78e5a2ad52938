#pragma once

#include "module/picture_sides.h"

#include <QList>
#include <QMap>
#include <QString>

#include <cstdint>

namespace relaycast {

// A secret as the settings file held it when it was stored protected. Kept so that a value this
// computer cannot open (another account, a restored profile, a lost key file) is written back
// unchanged until the user types a new one, and so that a protected value is never rewritten in
// the clear when protection is unavailable.
struct StoredSecret {
    QString stored;      // the protected text as read; empty when it was plain or absent
    bool opened = false; // whether it opened here
    QString openedAs;    // the plain text it opened to
};

inline constexpr int32_t kMaxAudioTrack = 6; // OBS's audio tracks are 1 to 6
inline constexpr int32_t kMaxStreamDelaySecs = 600;

// What one destination or recording takes of its entry's encode beyond its address. Zero in a
// field means "as the entry": its bitrate, its picture's size, its own audio mix, no delay.
// Field names are the settings-file keys.
struct SendChoice {
    int32_t videoKbpsMax = 0; // a cap: the entry's bitrate when that is lower
    int32_t ancho = 0;        // with alto: a size of its own, scaled from the picture
    int32_t alto = 0;
    int32_t pistaAudio = 0;  // 1..kMaxAudioTrack: that track of OBS's audio instead
    int32_t retrasoSegs = 0; // held back that long, as OBS's own stream delay

    bool isDefault() const { return *this == SendChoice{}; }
    friend bool operator==(const SendChoice&, const SendChoice&) = default;
};

// One destination of an entry. In memory the three texts are always plain; protection exists
// only in the settings file.
struct DestConfig {
    QString id;
    QString url;        // rtmp://, rtmps://, srt:// or rist:// address, possibly with a query
    QString clave;      // RTMP stream key, SRT stream ID or RIST encryption secret
    QString contrasena; // SRT passphrase

    SendChoice envio;
    // The host's streaming service the address belongs to (its name in the host's list), empty
    // for an address of the user's own. Its limits are checked at start.
    QString servicio;
    // Sent by the entry's relay (when it has one) instead of from OBS.
    bool porRelevo = false;

    // How the secrets above were stored when read (nothing for a new destination).
    StoredSecret storedUrl;
    StoredSecret storedClave;
    StoredSecret storedContrasena;

    // Shown instead of an address that could not be opened.
    static constexpr const char* kUnopenedUrl = "?";

    // A secret this destination sends is stored but could not be opened here, and the user has
    // not typed it again yet: the destination cannot stream until they do.
    bool needsSecretsAgain() const;

    // Where it goes: the address and its secrets (what changes on a running destination only
    // with the entry stopped); how the file stored them does not count.
    bool sameAddressAs(const DestConfig& other) const {
        return id == other.id && url == other.url && clave == other.clave &&
               contrasena == other.contrasena && porRelevo == other.porRelevo;
    }
    // The destination itself: where it goes and what it takes.
    friend bool operator==(const DestConfig& a, const DestConfig& b) {
        return a.sameAddressAs(b) && a.envio == b.envio && a.servicio == b.servicio;
    }
};

// Scene equivalences of a following entry: live host scene -> scene (or source) sent instead.
// Keys are unique, compared case-sensitively and kept in key order.
using SceneMatchMap = QMap<QString, QString>;

// One pair of a SceneMatchMap, for code that walks them as records.
struct SceneMatch {
    QString liveScene;
    QString sentScene;

    friend bool operator==(const SceneMatch&, const SceneMatch&) = default;
};

inline constexpr int32_t kMinVideoKbps = 1;
inline constexpr int32_t kMaxVideoKbps = 1000000;
inline constexpr int32_t kMinAudioKbps = 64;
inline constexpr int32_t kMaxAudioKbps = 320;
// The audio bitrates the editor offers.
inline constexpr int32_t kAudioKbpsChoices[] = {96, 128, 160, 192, 256};
inline constexpr int32_t kMinAudioDelayMs = 0;
inline constexpr int32_t kMaxAudioDelayMs = 1000;
inline constexpr const char* kDefaultVideoEncoder = "obs_x264";
inline constexpr const char* kDefaultRecordingFormat = "mkv";

// The recording formats the settings file may name: "mkv", "mp4" and "flv".
bool isRecordingFormat(const QString& format);

// How an entry records what it sends. Field names are the settings-file keys.
struct RecordingConfig {
    // "mkv" (a file cut short by a crash still plays), "mp4" or "flv".
    QString formato = QString::fromLatin1(kDefaultRecordingFormat);
    QString carpeta; // empty: OBS's recording folder of the current profile
    // Starts when the entry's streams start and stops when they stop.
    bool conEmisiones = false;
    // Its own bitrate, size and audio track (a delay does not apply to a file).
    SendChoice envio;

    friend bool operator==(const RecordingConfig&, const RecordingConfig&) = default;
};

// The streamer's own relay (nginx with its RTMP module): OBS sends it one stream and it pushes
// that to each of the entry's destinations marked for it. Field names are the settings-file keys.
struct RelayConfig {
    QString entrada;      // rtmp://server[:port]/app where the relay listens; empty: no relay
    QString estadisticas; // http(s)://server:port/path of its statistics page
    // Made by Relaycast: the stream name OBS publishes under and the end of the statistics
    // path. Protected in the settings file, like a key.
    QString secreto;
    QString permitirDesde; // the streamer's address the relay takes a publish from; empty: any
    int32_t puertoLocal = 19400; // the relay's first loopback port (its publish check)
    // A digest, keyed with the secret, of the configuration last written; empty: never written.
    QString escrita;
    StoredSecret storedSecreto;

    bool isSet() const { return !entrada.isEmpty(); }
    friend bool operator==(const RelayConfig& a, const RelayConfig& b) {
        return a.entrada == b.entrada && a.estadisticas == b.estadisticas &&
               a.secreto == b.secreto && a.permitirDesde == b.permitirDesde &&
               a.puertoLocal == b.puertoLocal && a.escrita == b.escrita;
    }
};

// One thing sent to one or more destinations. Field names are the settings-file keys.
struct EntryConfig {
    QString id;
    QString fuente;
    QString nombre;
    QString codificador = QString::fromLatin1(kDefaultVideoEncoder);
    int32_t videoKbps = 4000;
    int32_t audioKbps = 128;
    QString codificadorAudio;
    int32_t retrasoAudioMs = 0;
    QString ajustesCodificador;
    // "Same as OBS's stream": sends the packets of OBS's own stream encoders while it sends
    // OBS's program and OBS has them; otherwise its own encoder above.
    bool codificadorDeObs = false;
    int32_t ancho = 0; // 0 with alto 0: the host canvas size
    int32_t alto = 0;
    bool llenar = false;
    bool seguirObs = false;
    // Starts every destination when OBS's own stream starts, and stops them when it stops.
    bool conEmisionObs = false;
    RecordingConfig grabacion;
    SceneMatchMap equivalencias;
    QList<DestConfig> destinos;
    RelayConfig relevo;

    friend bool operator==(const EntryConfig&, const EntryConfig&) = default;
};

// A named set of encoder choices the editor can save and apply.
struct EncoderProfile {
    QString nombre;
    QString codificador;
    int32_t videoKbps = 4000;
    int32_t audioKbps = 128;
    QString codificadorAudio;
    QString ajustesCodificador;

    friend bool operator==(const EncoderProfile&, const EncoderProfile&) = default;
};

// The entries of one host scene collection, in the user's order.
using CollectionConfig = QList<EntryConfig>;

// Entries whose scene collection is gone (removed in OBS, or never seen again), kept in the
// settings file until the user brings them into a collection.
struct SetAsideEntries {
    QString coleccion;  // the collection they belonged to
    QString apartadaEl; // when they were set aside (ISO 8601, UTC)
    CollectionConfig entradas;

    friend bool operator==(const SetAsideEntries&, const SetAsideEntries&) = default;
};

// A new UUID as text without braces (8-4-4-4-12 lower-case hexadecimal digits).
QString newConfigId();

} // namespace relaycast
