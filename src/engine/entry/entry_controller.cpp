// The controller's life, its runtimes, its heartbeat and what it tells its listeners.

#include "engine/entry/entry_controller.h"

#include "address/address.h"
#include "config/config_store.h"
#include "engine/picture/entry_pipeline.h"
#include "engine/recording/recording_id.h"
#include "module/host_frontend.h"
#include "module/module_log.h"
#include "relay/entry_relay.h"

#include <QSet>

#include <algorithm>

namespace relaycast {

EntryController::EntryController(ConfigStore& store, EngineClock& clock, HostCallQueue& hostCalls)
    : store_(store), clock_(clock), hostCalls_(hostCalls) {
    timer_.setInterval(kHeartbeatMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] { heartbeat(); });
}

EntryController::~EntryController() {
    timer_.stop();
    releaseEverything();
}

CollectionConfig& EntryController::currentEntries() {
    // The collection the plug-in follows through renames; the host's own until one is followed.
    const QString& followed = store_.followedCollection();
    return store_.entriesOf(followed.isNull() ? hostFrontend().currentSceneCollection() : followed);
}

EntryConfig* EntryController::findEntry(const QString& entryId) {
    for (EntryConfig& entry : currentEntries()) {
        if (entry.id == entryId)
            return &entry;
    }
    return nullptr;
}

const DestConfig* EntryController::findDestination(const QString& entryId,
                                                   const QString& destinationId) {
    const EntryConfig* entry = findEntry(entryId);
    if (!entry)
        return nullptr;
    for (const DestConfig& destination : entry->destinos) {
        if (destination.id == destinationId)
            return &destination;
    }
    return nullptr;
}

EntryRuntime& EntryController::runtimeFor(const QString& entryId) {
    std::unique_ptr<EntryRuntime>& slot = runtimes_[entryId];
    if (!slot)
        slot = std::make_unique<EntryRuntime>(clock_, hostCalls_);
    return *slot;
}

const EntryRuntime* EntryController::runtimeOf(const QString& entryId) const {
    const auto found = runtimes_.find(entryId);
    return found != runtimes_.end() ? found->second.get() : nullptr;
}

bool EntryController::isEntryLive(const QString& entryId) const {
    const EntryRuntime* runtime = runtimeOf(entryId);
    return runtime && !runtime->outputs.empty();
}

bool EntryController::hasOutput(const QString& entryId, const QString& destinationId) const {
    const EntryRuntime* runtime = runtimeOf(entryId);
    const QString outputId =
        const_cast<EntryController*>(this)->outputIdFor(entryId, destinationId);
    return runtime && runtime->outputs.count(outputId) != 0;
}

DestinationStatus EntryController::destinationStatus(const QString& entryId,
                                                     const QString& destinationId) const {
    // Looking the entry up changes nothing (an empty collection is made at most).
    const QString outputId =
        const_cast<EntryController*>(this)->outputIdFor(entryId, destinationId);
    if (outputId != destinationId)
        return relayedDestinationStatus(entryId, destinationId);
    return destinationStatusOfOutput(entryId, destinationId);
}

DestinationStatus EntryController::destinationStatusOfOutput(const QString& entryId,
                                                             const QString& destinationId) const {
    if (pendingStarts_.contains({entryId, destinationId})) {
        DestinationStatus starting;
        starting.state = DestinationState::Starting;
        return starting;
    }
    // Reading applies what the host said since the last heartbeat: the status only gets newer.
    const auto found = runtimes_.find(entryId);
    return found != runtimes_.end() ? relaycast::destinationStatus(*found->second, destinationId)
                                    : DestinationStatus{};
}

EntryPipeline* EntryController::pipelineOf(const QString& entryId) {
    const auto found = runtimes_.find(entryId);
    return found != runtimes_.end() ? found->second->pipeline.get() : nullptr;
}

void EntryController::forEachPipeline(const std::function<void(EntryPipeline&)>& visit) {
    for (auto& [id, runtime] : runtimes_) {
        if (runtime->pipeline)
            visit(*runtime->pipeline);
    }
    for (auto& runtime : retiring_) {
        if (runtime->pipeline)
            visit(*runtime->pipeline);
    }
}

QString EntryController::sentSourceName(const QString& entryId) const {
    const EntryRuntime* runtime = runtimeOf(entryId);
    return runtime && runtime->pipeline ? QString::fromUtf8(runtime->pipeline->sourceName)
                                        : QString();
}

void EntryController::startHeartbeat() {
    if (!shutDown_)
        timer_.start();
}

void EntryController::stopHeartbeat() {
    timer_.stop();
}

void EntryController::heartbeat() {
    if (shutDown_)
        return;
    try {
        ++heartbeats_;
        tickRuntimes();
        runPendingStarts();
        sampleEncoderLoad();
        sampleUpload();
        pollRelays();
        detectChanges();
    } catch (const std::exception& e) {
        moduleLog(LOG_WARNING, "unexpected error in the heartbeat: %s", e.what());
    } catch (...) {
        moduleLog(LOG_WARNING, "unexpected error in the heartbeat");
    }
    for (const auto& [id, listener] : std::vector(heartbeatListeners_))
        listener();
}

void EntryController::tickRuntimes() {
    for (auto& [id, runtime] : runtimes_)
        tick(*runtime);
    if (heartbeats_ % 2 == 0) {
        for (auto& [id, runtime] : runtimes_) {
            if (runtime->pipeline)
                runtime->pipeline->audioTrack.refreshCaptures();
        }
    }
    // Runtimes of deleted entries go as soon as their last output has ended.
    for (auto it = retiring_.begin(); it != retiring_.end();) {
        tick(**it);
        if ((*it)->outputs.empty())
            it = retiring_.erase(it);
        else
            ++it;
    }
}

void EntryController::sampleEncoderLoad() {
    for (auto it = encoderLoad_.begin(); it != encoderLoad_.end();) {
        it = runtimes_.contains(it->first) ? std::next(it) : encoderLoad_.erase(it);
    }
    for (auto& [id, runtime] : runtimes_) {
        EncoderLoadMeter& meter = encoderLoad_[id];
        if (!runtime->pipeline || !runtime->pipeline->video) {
            meter.reset();
            continue;
        }
        video_t* video = runtime->pipeline->video;
        meter.sample(video_output_get_skipped_frames(video), video_output_get_total_frames(video));
    }
}

double EntryController::encoderSkippedPercent(const QString& entryId) const {
    const auto found = encoderLoad_.find(entryId);
    return found != encoderLoad_.end() ? found->second.skippedPercent() : 0;
}

void EntryController::detectChanges() {
    QSet<QString> current;
    for (const EntryConfig& entry : currentEntries()) {
        QStringList ids;
        for (const DestConfig& destination : entry.destinos)
            ids << destination.id;
        ids << recordingIdOf(entry.id);
        for (const QString& id : ids) {
            current.insert(id);
            const DestinationStatus status = destinationStatus(entry.id, id);
            Told& told = told_[id];
            told.entryId = entry.id;
            if (told.state == status.state)
                continue;
            const DestinationChange change{entry.id, id, told.state, status};
            told.state = status.state;
            tell(change);
        }
    }
    for (auto it = told_.begin(); it != told_.end();) {
        if (current.contains(it.key())) {
            ++it;
            continue;
        }
        // Its stop was asked for when it left the current entries; nothing of it comes back.
        const QString destinationId = it.key();
        const Told was = it.value();
        it = told_.erase(it);
        if (was.state != DestinationState::Idle)
            tell(DestinationChange{was.entryId, destinationId, was.state, DestinationStatus{}});
    }
}

void EntryController::tell(const DestinationChange& change) {
    for (const auto& [id, listener] : std::vector(changeListeners_))
        listener(change);
}

int EntryController::addChangeListener(ChangeListener listener) {
    changeListeners_.emplace_back(nextListenerId_, std::move(listener));
    return nextListenerId_++;
}

int EntryController::addHeartbeatListener(HeartbeatListener listener) {
    heartbeatListeners_.emplace_back(nextListenerId_, std::move(listener));
    return nextListenerId_++;
}

int EntryController::addNoticeListener(NoticeListener listener) {
    noticeListeners_.emplace_back(nextListenerId_, std::move(listener));
    return nextListenerId_++;
}

int EntryController::addEntryListListener(EntryListListener listener) {
    entryListListeners_.emplace_back(nextListenerId_, std::move(listener));
    return nextListenerId_++;
}

void EntryController::removeListener(int id) {
    const auto other = [id](const auto& item) { return item.first == id; };
    std::erase_if(changeListeners_, other);
    std::erase_if(heartbeatListeners_, other);
    std::erase_if(noticeListeners_, other);
    std::erase_if(entryListListeners_, other);
}

void EntryController::notice(const QString& text, bool isError) {
    if (noticeListeners_.empty()) {
        if (isError)
            moduleLog(LOG_WARNING, "%s", maskAddressQueries(text).toUtf8().constData());
        return;
    }
    for (const auto& [id, listener] : std::vector(noticeListeners_))
        listener(text, isError);
}

EntryListChange entryListChangeOf(EntryListChange::Kind kind, const EntryConfig& entry) {
    EntryListChange change{kind, entry.id, {}};
    for (const DestConfig& destination : entry.destinos)
        change.destinationIds << destination.id;
    return change;
}

} // namespace relaycast
