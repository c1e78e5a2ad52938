// How the controller sends an entry through its relay: one output to the relay stands for every
// destination the relay carries, and the relay's statistics page, read off the interface
// thread, tells how each of those fares.

#include "engine/entry/entry_controller.h"

#include "engine/recording/folder_call.h"
#include "relay/entry_relay.h"
#include "relay/relay_stats_fetch.h"

#include <QSet>

#include <mutex>

namespace relaycast {

// Shared by the controller and the thread reading one page: whichever lets go last frees it.
struct EntryController::RelayPageRead {
    std::mutex lock;
    std::optional<RelayStatsPage> page;
};

QString EntryController::outputIdFor(const QString& entryId, const QString& destinationId) {
    // What runs for it first: its mark may have changed since it started (a change that needs
    // a stop, kept for the next start).
    const QString relayId = relayOutputIdOf(entryId);
    if (hasOutputUnder(entryId, destinationId))
        return destinationId;
    const auto carried = relayCarries_.find(entryId);
    if (hasOutputUnder(entryId, relayId) && carried != relayCarries_.end() &&
        carried->second.contains(destinationId))
        return relayId;
    const EntryConfig* entry = findEntry(entryId);
    return entry ? routedDestinationId(*entry, destinationId) : destinationId;
}

bool EntryController::hasOutputUnder(const QString& entryId, const QString& outputId) const {
    const EntryRuntime* runtime = runtimeOf(entryId);
    return (runtime && runtime->outputs.count(outputId) != 0) ||
           pendingStarts_.contains({entryId, outputId});
}

void EntryController::relayStarted(const EntryConfig& entry, const QString& destinationId,
                                   bool outputStarted) {
    QSet<QString>& carried = relayCarries_[entry.id];
    if (outputStarted) {
        // A new stream to the relay: nothing read of the one before answers for it.
        relayPolls_.erase(entry.id);
        carried.clear();
        for (const DestConfig& destination : entry.destinos)
            if (sendsThroughRelay(entry, destination))
                carried.insert(destination.id);
    }
    carried.insert(destinationId);
}

DestinationStatus EntryController::relayOutputStatus(const QString& entryId) const {
    return destinationStatusOfOutput(entryId, relayOutputIdOf(entryId));
}

const RelayWatch* EntryController::relayWatchOf(const QString& entryId) const {
    const auto found = relayPolls_.find(entryId);
    return found != relayPolls_.end() ? &found->second.watch : nullptr;
}

EntryController::RelayView EntryController::relayView(const QString& entryId) const {
    const RelayWatch* watch = relayWatchOf(entryId);
    const RelayWatch none;
    const RelayWatch& seen = watch ? *watch : none;
    const int64_t nowMs = clock_.nowMs();
    return {seen.link(relayOutputStatus(entryId), nowMs), seen.pushesConnected(nowMs),
            seen.pageError(nowMs)};
}

DestinationStatus EntryController::relayedDestinationStatus(const QString& entryId,
                                                            const QString& destinationId) const {
    const DestinationStatus relay = relayOutputStatus(entryId);
    const RelayWatch* watch = relayWatchOf(entryId);
    const RelayWatch none;
    return (watch ? *watch : none).destinationStatus(relay, destinationId, clock_.nowMs());
}

void EntryController::pollRelays() {
    const int64_t nowMs = clock_.nowMs();
    for (const EntryConfig& entry : currentEntries()) {
        const DestinationStatus relay = relayOutputStatus(entry.id);
        if (relay.state == DestinationState::Idle || !usesRelay(entry)) {
            relayPolls_.erase(entry.id);
            continue;
        }
        RelayPoll& poll = relayPolls_[entry.id];
        if (poll.reading) {
            std::optional<RelayStatsPage> page;
            {
                std::lock_guard guard(poll.reading->lock);
                page = std::move(poll.reading->page);
            }
            if (!page)
                continue; // still reading; a read ends within kRelayStatsTimeoutMs
            poll.reading.reset();
            RelayStats stats;
            if (page->ok)
                stats = readRelayStats(QByteArray::fromStdString(page->body),
                                       relaySettingsOf(entry.relevo), relayedDestinationsOf(entry));
            else
                stats.error = relayStatsPageError(*page);
            poll.watch.readEnded(nowMs, stats);
        }
        if (!poll.watch.readDue(relay, nowMs))
            continue;
        const QString url = relayStatsFetchUrl(relaySettingsOf(entry.relevo));
        if (url.isEmpty())
            continue;
        prepareRelayStatsFetch();
        auto reading = std::make_shared<RelayPageRead>();
        if (runDetached([reading, url = url.toStdString()] {
                RelayStatsPage page = fetchRelayStatsPage(url);
                std::lock_guard guard(reading->lock);
                reading->page = std::move(page);
            })) {
            poll.reading = reading;
            poll.watch.readStarted(nowMs);
        }
    }
    // Entries gone from the collection.
    for (auto it = relayPolls_.begin(); it != relayPolls_.end();)
        it = findEntry(it->first) ? std::next(it) : relayPolls_.erase(it);
    // Streams to a relay that ended stand for nobody any more.
    for (auto it = relayCarries_.begin(); it != relayCarries_.end();)
        it = hasOutputUnder(it->first, relayOutputIdOf(it->first)) ? std::next(it)
                                                                   : relayCarries_.erase(it);
}

} // namespace relaycast
