// The fields of a remote CreateEntry or UpdateEntry request, as a client may send anything:
// whatever is accepted is an input the editor could have saved (values in their ranges, every
// destination passing the editor's check, no text past the limit), and whatever is refused
// comes with a message and never echoes a huge text back.

#include "address/address.h"
#include "plugin/remote_entry_fields.h"

#include "fuzz_support.h"

#include <QJsonDocument>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

using namespace relaycast;

namespace {

EntryConfig existingEntry() {
    EntryConfig entry;
    entry.id = QStringLiteral("e1");
    entry.fuente = QStringLiteral("scene");
    DestConfig destination;
    destination.id = QStringLiteral("d1");
    destination.url = QStringLiteral("rtmp://127.0.0.1/live");
    destination.clave = QStringLiteral("k");
    entry.destinos << destination;
    return entry;
}

void checkAccepted(const EntryConfig& entry) {
    FUZZ_CHECK(entry.videoKbps >= kMinVideoKbps && entry.videoKbps <= kMaxVideoKbps);
    FUZZ_CHECK(entry.retrasoAudioMs >= kMinAudioDelayMs &&
               entry.retrasoAudioMs <= kMaxAudioDelayMs);
    FUZZ_CHECK(std::find(std::begin(kAudioKbpsChoices), std::end(kAudioKbpsChoices),
                         entry.audioKbps) != std::end(kAudioKbpsChoices));
    FUZZ_CHECK((entry.ancho == 0 && entry.alto == 0) ||
               (entry.ancho >= kMinOwnSide && entry.ancho <= kMaxOwnSide &&
                entry.alto >= kMinOwnSide && entry.alto <= kMaxOwnSide));
    FUZZ_CHECK(entry.seguirObs || !entry.fuente.isEmpty());
    FUZZ_CHECK(entry.nombre == entry.nombre.trimmed());
    FUZZ_CHECK(entry.nombre.size() <= kMaxRemoteTextLength);
    for (int i = 0; i < entry.destinos.size(); ++i) {
        const DestConfig& destination = entry.destinos[i];
        FUZZ_CHECK(!destination.id.isEmpty());
        FUZZ_CHECK(validateDestinationAddress(destination.url.trimmed(), i + 1, destination.clave)
                       .isEmpty());
        FUZZ_CHECK(classifyAddress(destination.url) == AddressKind::SRT ||
                   destination.contrasena.isEmpty());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<int>(size)));
    if (!document.isObject())
        return 0;
    RemoteChoices choices;
    choices.sourceExists = [](const QString& name) { return name.startsWith(QLatin1Char('s')); };
    choices.videoEncoders << QStringLiteral("obs_x264");
    choices.profiles = {EncoderProfile{QStringLiteral("p"), QStringLiteral("obs_x264"), 2500, 160,
                                       QStringLiteral("opus"), QString()}};
    const EntryConfig before = existingEntry();
    for (const bool updating : {false, true}) {
        EntryConfig entry = updating ? before : EntryConfig{};
        const auto refusal = applyEntryFields(document.object(), choices, updating, &entry);
        if (refusal) {
            FUZZ_CHECK(!refusal->message.isEmpty());
            FUZZ_CHECK(refusal->message.size() < 2000);
            continue;
        }
        checkAccepted(entry);
        // Whatever changed, a streaming input names only known fields as needing a stop.
        const QStringList known = {"source",     "followsObs",  "matches", "width",
                                   "height",     "fill",        "encoder", "audioKbps",
                                   "audioCodec", "destinations"};
        for (StopField field :
             fieldsNeedingStop(before, entry, [](const QString&) { return true; }))
            FUZZ_CHECK(known.contains(remoteFieldName(field)));
    }
    return 0;
}
