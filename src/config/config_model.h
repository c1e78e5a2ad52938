#pragma once

#include <QList>
#include <QMap>
#include <QString>

#include <cstdint>

namespace relaycast {

// One destination of an entry. In memory the three texts are always plain; protection exists
// only in the settings file.
struct DestConfig {
    QString id;
    QString url;        // rtmp://, rtmps:// or srt:// address, possibly with a query
    QString clave;      // RTMP stream key, or SRT stream ID
    QString contrasena; // SRT passphrase

    friend bool operator==(const DestConfig&, const DestConfig&) = default;
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
inline constexpr int32_t kMinAudioDelayMs = 0;
inline constexpr int32_t kMaxAudioDelayMs = 1000;
inline constexpr int32_t kMinOwnSide = 160;
inline constexpr int32_t kMaxOwnSide = 7680;
inline constexpr const char* kDefaultVideoEncoder = "obs_x264";

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
    int32_t ancho = 0; // 0 with alto 0: the host canvas size
    int32_t alto = 0;
    bool llenar = false;
    bool seguirObs = false;
    SceneMatchMap equivalencias;
    QList<DestConfig> destinos;

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

// A new UUID as text without braces (8-4-4-4-12 lower-case hexadecimal digits).
QString newConfigId();

} // namespace relaycast
