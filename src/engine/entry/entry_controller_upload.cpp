// The controller's view of the upload: what its live destinations take of it each heartbeat,
// and what a start would add.

#include "engine/encoding/obs_stream_encoders.h"
#include "engine/encoding/rendition_plan.h"
#include "engine/encoding/video_renditions.h"
#include "engine/entry/entry_controller.h"
#include "module/ui_text.h"
#include "relay/entry_relay.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace relaycast {
namespace {

int32_t destinationUploadKbps(const EntryConfig& entry, const DestConfig& destination) {
    // The rendition's bitrate does not depend on its size.
    const RenditionKey key = renditionOf(entry, destination.envio, 0, 0);
    return uploadKbps(key.videoKbps, entry.audioKbps, classifyAddress(destination.url));
}

int32_t saturated(int64_t kbps) {
    return static_cast<int32_t>(std::min<int64_t>(kbps, std::numeric_limits<int32_t>::max()));
}

} // namespace

void EntryController::sampleUpload() {
    QList<UploadUse> live;
    for (auto& [entryId, runtime] : runtimes_) {
        const EntryConfig* stored = findEntry(entryId);
        // As its encoders run: an entry on OBS's own encoders sends at OBS's bitrate.
        std::optional<EntryConfig> asRunning;
        if (stored)
            asRunning = routedEntry(runtime->pipeline ? encodeAsRunning(*runtime->pipeline, *stored)
                                                      : *stored);
        const EntryConfig* entry = asRunning ? &*asRunning : nullptr;
        for (auto& [id, output] : runtime->outputs) {
            if (output->recording)
                continue;
            const DestinationStatus status = output->status();
            if (status.state != DestinationState::Live)
                continue;
            UploadUse use{0, status.receivedKbps, status.bitrateKbps, status.congested};
            const DestConfig* destination = nullptr;
            if (entry) {
                const QString& outputId = id; // a lambda cannot name a structured binding
                const auto sent =
                    std::find_if(entry->destinos.cbegin(), entry->destinos.cend(),
                                 [&](const DestConfig& d) { return d.id == outputId; });
                destination = sent != entry->destinos.cend() ? &*sent : nullptr;
            }
            // An entry no longer in the collection still sends: what it is seen to send.
            use.neededKbps = destination ? destinationUploadKbps(*entry, *destination)
                                         : std::max(status.bitrateKbps, 0);
            live << use;
        }
    }
    if (const auto obs = obsStreamUse())
        live << *obs;
    upload_.sample(live);
}

std::optional<UploadUse> EntryController::obsStreamUse() {
    // OBS's own stream shares the upload with ours while it runs: its encoders' bitrates, and
    // the rate its output hands on (its connection is OBS's, not ours to read).
    const ObsStreamEncoderState obs = obsStreamEncoderState();
    if (!obs.video || !obs_output_active(obs.output)) {
        obsStreamBytes_ = {};
        return std::nullopt;
    }
    UploadUse use;
    use.neededKbps = uploadKbps(obs.facts.kbps, obs.facts.audioKbps, AddressKind::RTMP);
    const uint64_t bytes = obs_output_get_total_bytes(obs.output);
    const int64_t nowMs = clock_.nowMs();
    if (obsStreamBytes_ && nowMs > obsStreamBytes_->second && bytes >= obsStreamBytes_->first)
        use.sentKbps = saturated(int64_t((bytes - obsStreamBytes_->first) * 8 /
                                         uint64_t(nowMs - obsStreamBytes_->second)));
    obsStreamBytes_ = std::pair(bytes, nowMs);
    return use;
}

int64_t EntryController::uploadToAdd(const EntryConfig& entry,
                                     const std::optional<QStringList>& destinationIds) {
    // What OBS would send: one stream to the relay for all it carries.
    QStringList asked;
    for (const QString& id : destinationIds.value_or(QStringList{}))
        asked << routedDestinationId(entry, id);
    const EntryConfig routed = routedEntry(entry);
    int64_t more = 0;
    for (const DestConfig& destination : routed.destinos) {
        if ((!destinationIds || asked.contains(destination.id)) &&
            !hasOutput(entry.id, destination.id))
            more += destinationUploadKbps(routed, destination);
    }
    return more;
}

QString EntryController::uploadWarningFor(int64_t moreKbps) const {
    if (moreKbps <= 0 || !upload_.exceededWith(moreKbps))
        return {};
    return uiText("Con esto la subida necesitaría %1 Mbps, y solo se la ha visto llevar %2 Mbps: "
                  "los destinos pueden saturarse y cortarse.")
        .arg(megabitsText(upload_.neededKbps() + moreKbps), megabitsText(upload_.carriedKbps()));
}

QString EntryController::uploadWarning(const QString& entryId, const QStringList& destinationIds) {
    const EntryConfig* entry = findEntry(entryId);
    return entry ? uploadWarningFor(uploadToAdd(*entry, destinationIds)) : QString();
}

QString EntryController::uploadWarningForEntry(const QString& entryId) {
    const EntryConfig* entry = findEntry(entryId);
    return entry ? uploadWarningFor(uploadToAdd(*entry)) : QString();
}

QString EntryController::uploadWarningForAll() {
    int64_t more = 0;
    for (const EntryConfig& entry : currentEntries())
        more += uploadToAdd(entry);
    return uploadWarningFor(more);
}

} // namespace relaycast
