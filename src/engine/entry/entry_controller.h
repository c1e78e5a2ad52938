#pragma once

#include "config/config_model.h"
#include "engine/destinations/destination_status.h"
#include "engine/destinations/upload_budget.h"
#include "engine/encoding/encoder_load_meter.h"
#include "engine/entry/entry_edit.h"
#include "engine/entry/entry_runtime.h"
#include "engine/host/engine_clock.h"
#include "engine/host/host_call_queue.h"
#include "engine/recording/folder_call.h"
#include "engine/recording/recording_file_claim.h"
#include "relay/relay_watch.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace relaycast {

class ConfigStore;
struct EntryPipeline;

// A destination whose state one heartbeat (or one action) found changed.
struct DestinationChange {
    QString entryId;
    QString destinationId;
    DestinationState previous = DestinationState::Idle;
    DestinationStatus status; // the new state with its figures
};

// An entry added, changed or removed, by the dock or by a remote request.
struct EntryListChange {
    enum class Kind { Created, Updated, Removed };
    Kind kind = Kind::Updated;
    QString entryId;
    QStringList destinationIds; // the entry's destinations after the change; none when removed
};
// The change of `entry` as it is now.
EntryListChange entryListChangeOf(EntryListChange::Kind kind, const EntryConfig& entry);

// What an edit of a streaming entry does with the changes that need it stopped.
enum class NeedsStop {
    Refuse,    // the whole edit is refused
    NextStart, // stored for the next start; then nothing of the edit reaches the running stream
    // The caller saw the entry stopped, so none of its edit was meant for a stream: all of it is
    // stored for the next start, and only removed destinations that run stop.
    AllAtNextStart,
};

// What came of an edit.
struct EditOutcome {
    enum class Result { Done, Refused, NoEntry };
    Result result = Result::NoEntry;
    bool live = false;            // the entry was streaming
    bool appliedLive = false;     // what the running stream takes was applied to it
    QList<StopField> needingStop; // refused, or stored for the next start
    QStringList lostDestinations; // changed by the caller, removed by someone else meanwhile
    // User texts: a failed save, live apply, switch, or start of an added destination.
    QStringList problems;
};

// Everything the entries of the current scene collection do, whoever asks: the dock, hotkeys,
// remote requests and OBS's own stream. Owns every entry's runtime (live, and retiring after
// the entry was deleted), runs the 500 ms heartbeat, decides what an entry sends (its scene or
// source, or OBS's live scene through its equivalences), follows OBS's live scene, stops
// everything, and tells its listeners about every destination's change of state. It lives as
// long as the plug-in's configuration store. Interface thread only.
//
// Actions report failures as user texts (already through uiText) in their `error` argument and
// raise no notice themselves; callers without a place to show them pass them to notice().
class EntryController {
public:
    static constexpr int kHeartbeatMs = 500;

    using ChangeListener = std::function<void(const DestinationChange&)>;
    using HeartbeatListener = std::function<void()>;
    using NoticeListener = std::function<void(const QString& text, bool isError)>;
    using EntryListListener = std::function<void(const EntryListChange&)>;

    explicit EntryController(ConfigStore& store, EngineClock& clock = steadyClock(),
                             HostCallQueue& hostCalls = backgroundHostCalls());
    // Stops every stream; the outputs are released on the host call queue.
    ~EntryController();
    EntryController(const EntryController&) = delete;
    EntryController& operator=(const EntryController&) = delete;

    // --- Configuration
    ConfigStore& store() { return store_; }
    // The entries of the host's current scene collection (created empty for a new name).
    CollectionConfig& currentEntries();
    EntryConfig* findEntry(const QString& entryId);
    const DestConfig* findDestination(const QString& entryId, const QString& destinationId);

    // --- Runtimes
    // The entry's runtime, created empty when it has none.
    EntryRuntime& runtimeFor(const QString& entryId);
    const EntryRuntime* runtimeOf(const QString& entryId) const;
    // True while the entry has any destination output, whatever its state.
    bool isEntryLive(const QString& entryId) const;
    // True while the destination has an output (Starting, Live, Reconnecting, or ending).
    bool hasOutput(const QString& entryId, const QString& destinationId) const;
    DestinationStatus destinationStatus(const QString& entryId, const QString& destinationId) const;
    int retiringRuntimeCount() const { return static_cast<int>(retiring_.size()); }
    // The pipeline of a live entry (its preview is drawn from it); null when not streaming.
    EntryPipeline* pipelineOf(const QString& entryId);
    // Every pipeline, retiring entries' included (to let go of every preview at once).
    void forEachPipeline(const std::function<void(EntryPipeline&)>& visit);

    // --- The relay
    // A destination the entry's relay carries has no output of its own: the one output to the
    // relay runs for all of them (started by the start of any, stopped by the stop of any),
    // and each one's status is that output's while it is not live, then what the relay's
    // statistics page says of its push.
    // The status of the entry's output to its relay (Idle when it sends the relay nothing).
    DestinationStatus relayOutputStatus(const QString& entryId) const;
    // What the relay is seen doing while OBS sends to it; null otherwise.
    const RelayWatch* relayWatchOf(const QString& entryId) const;
    // The same as its row shows it, now.
    struct RelayView {
        RelayLink link = RelayLink::Idle;
        std::optional<std::pair<int, int>> pushesConnected; // connected, of how many
        QString pageError;
    };
    RelayView relayView(const QString& entryId) const;

    // --- What an entry sends
    // Its own choice, or the host's live scene mapped through its equivalences when it follows
    // the host.
    QString effectiveSourceName(const EntryConfig& entry) const;
    // What a live entry sends now; empty when it is not streaming.
    QString sentSourceName(const QString& entryId) const;
    // The share of its own video frames a live entry's encoder skipped lately, in percent.
    double encoderSkippedPercent(const QString& entryId) const;

    // --- The upload
    // What the live destinations need together, and what the upload was seen to carry.
    const UploadBudget& upload() const { return upload_; }
    // What starting these destinations of the entry (those not live yet) would add to the
    // upload, when that is more than it was seen to carry: the text that says so, else empty.
    QString uploadWarning(const QString& entryId, const QStringList& destinationIds);
    // The same for starting every destination of the entry, or of the current collection.
    QString uploadWarningForEntry(const QString& entryId);
    QString uploadWarningForAll();

    // --- Actions
    // True when it runs or already ran. A destination whose previous output is still ending
    // (stopped a moment ago) starts again as soon as that output is released, and reads as
    // Starting meanwhile: its server may still hold the old session.
    bool startDestination(const QString& entryId, const QString& destinationId,
                          QString* error = nullptr);
    // False when it had no output.
    bool stopDestination(const QString& entryId, const QString& destinationId);
    // Stops it when it has an output, starts it otherwise (the card's button).
    bool toggleDestination(const QString& entryId, const QString& destinationId,
                           QString* error = nullptr);
    // Starts every destination of the entry that has no output yet, and its recording when that
    // goes with its streams; true when all run. The first failure's text goes to `error`.
    bool startEntry(const QString& entryId, QString* error = nullptr);
    // Stops every destination of the entry, and its recording when that goes with its streams.
    void stopEntry(const QString& entryId);
    // Recording the entry to a file, beside its streams and with their encoders. Its state
    // changes reach the change listeners under recordingIdOf(entryId). The file's name is
    // claimed off the interface thread; a folder slow to answer leaves the recording Starting
    // until it does, and one that has not answered within kFolderAnswerBound fails it.
    bool startRecording(const QString& entryId, QString* error = nullptr);
    // False when it was not recording.
    bool stopRecording(const QString& entryId);
    bool toggleRecording(const QString& entryId, QString* error = nullptr);
    bool hasRecording(const QString& entryId) const;
    // Its state and figures, with `file` the file written (or last written).
    DestinationStatus recordingStatus(const QString& entryId) const;
    // The same for every entry of the current collection.
    bool startAll(QString* error = nullptr);
    void stopAll();
    bool switchEntrySource(const QString& entryId, const QString& name, QString* error = nullptr);
    // Switches every live following entry to what it should send for the host's live scene;
    // a target that does not exist raises a notice and the entry stays where it was.
    void followLiveScene();
    // OBS's own stream started or stopped: the entries that go with it start or stop every
    // destination (failures raise notices).
    void onHostStreamStarted();
    void onHostStreamStopped();
    // The entry was deleted: its outputs close in the background and its runtime goes once
    // they have ended.
    void retireEntry(const QString& entryId);
    // The scene collection is about to change: every stream stops; nothing waits.
    void stopEverything();
    // Host exit or unload: no more heartbeats; every stream stops and is released before this
    // returns, within the exit's bound (kExitBound) however many outputs are stuck. Runs once.
    void shutdown();
    bool isShutDown() const { return shutDown_; }
    // When the exit's bound, counted from the shutdown, is up; the unload waits no longer.
    std::chrono::steady_clock::time_point exitDeadline() const { return exitDeadline_; }

    // --- Changing the entries
    // Every change to the current entries goes through these, whoever asks: each saves the
    // settings file and tells the entry-list listeners. A save that fails leaves the change
    // working, raises its notice and adds its text to `problems`.
    void createEntry(const EntryConfig& entry, QStringList* problems = nullptr);
    // `edit` laid over the entry as it is now (layEditOver). A streaming entry takes live its
    // encoder settings and audio delay, a source it does not follow, and destinations added
    // (started) or removed (stopped first); what needs a stop goes by `rule`. A destination
    // that runs is never left out of the settings.
    EditOutcome editEntry(const EntryEdit& edit, NeedsStop rule);
    // Retires the entry and removes it from the current entries; false when there was none.
    bool deleteEntry(const QString& entryId, QStringList* problems = nullptr);
    // Brings set-aside group `index` into the followed collection, each entry told as created;
    // false when there is no such group.
    bool bringBackSetAside(int index, QStringList* problems = nullptr);
    // Saves the settings file (the profiles changed, say). A failure raises its notice and
    // gives its text in `problem`; a success raises the warning of keys saved unprotected.
    bool saveSettings(QString* problem = nullptr);

    // --- Heartbeat
    void startHeartbeat();
    void stopHeartbeat();
    bool heartbeatActive() const { return timer_.isActive(); }
    // One heartbeat: the engine's tick on every runtime, the audio captures refreshed every
    // second, runtimes of deleted entries finished, state changes told, then the heartbeat
    // listeners run.
    void heartbeat();

    // --- Listeners (run on the interface thread; ids are for removal)
    int addChangeListener(ChangeListener listener);
    int addHeartbeatListener(HeartbeatListener listener);
    int addNoticeListener(NoticeListener listener);
    int addEntryListListener(EntryListListener listener);
    void removeListener(int id);
    // Raises a notice to the notice listeners, or logs it when nobody listens.
    void notice(const QString& text, bool isError);
    // Compares every destination's state with the last one told and tells the change
    // listeners, once per change. A destination no longer among the current entries (deleted,
    // or of a collection no longer current) that was last told running is told Idle: it ended.
    void detectChanges();

private:
    bool startUnguarded(const QString& entryId, const QString& destinationId, QString* error);
    // The output that carries the destination: the relay's for one the relay carries.
    QString outputIdFor(const QString& entryId, const QString& destinationId);
    DestinationStatus destinationStatusOfOutput(const QString& entryId,
                                                const QString& outputId) const;
    DestinationStatus relayedDestinationStatus(const QString& entryId,
                                               const QString& destinationId) const;
    // Reads the relays' pages (one read under way per relay) and takes in those read.
    void pollRelays();
    // Whether an output of the entry runs (or waits to start again) under exactly this id.
    bool hasOutputUnder(const QString& entryId, const QString& outputId) const;
    // The stream to the entry's relay runs for `destinationId` (and, when it was just started,
    // for every destination the entry marks for the relay).
    void relayStarted(const EntryConfig& entry, const QString& destinationId, bool outputStarted);
    bool startRecordingUnguarded(const EntryConfig& entry, const EntryConfig& sent, QString* error);
    // Forgets the starts still waiting (and the file claims they wait for) that `which` picks.
    void dropPendingStarts(const std::function<bool(const std::pair<QString, QString>&)>& which);
    void tickRuntimes();
    void sampleEncoderLoad();
    void sampleUpload();
    std::optional<UploadUse> obsStreamUse();
    // Kbit/s the destinations of the entry not live yet would add to the upload (all of them
    // without `destinationIds`).
    int64_t uploadToAdd(const EntryConfig& entry,
                        const std::optional<QStringList>& destinationIds = std::nullopt);
    QString uploadWarningFor(int64_t moreKbps) const;
    // Stops and hands over every runtime without telling anyone.
    void releaseEverything();
    // Starts the destinations whose start waited for their previous output to be released.
    void runPendingStarts();
    void tell(const DestinationChange& change);
    // The one place a change to the current entries is saved and told: the dock redraws its
    // cards, hotkeys follow and remote clients hear of it.
    void saveAndTell(const QList<EntryListChange>& changes, QStringList* problems);
    // What a streaming entry takes live of an edit from `before` to `after`.
    void applyLiveEdit(const EntryConfig& before, const EntryConfig& after, QStringList* problems);

    // What the listeners were last told of a destination.
    struct Told {
        QString entryId;
        DestinationState state = DestinationState::Idle;
    };
    using DestinationKey = std::pair<QString, QString>; // entry id, destination id

    ConfigStore& store_;
    EngineClock& clock_;
    HostCallQueue& hostCalls_;
    std::map<QString, std::unique_ptr<EntryRuntime>> runtimes_;
    std::list<std::unique_ptr<EntryRuntime>> retiring_;
    QHash<QString, Told> told_; // by destination id
    // Starts asked for while the destination's previous output was still ending, or while
    // the recording's folder had not answered yet.
    std::set<DestinationKey> pendingStarts_;
    // The claims of recording files under way, by entry id, with the folder asked.
    struct FileClaimUnderWay {
        FolderCall<RecordingFileChoice> call;
        QString folder;
    };
    std::map<QString, FileClaimUnderWay> fileClaims_;
    std::map<QString, EncoderLoadMeter> encoderLoad_;
    struct RelayPageRead;
    struct RelayPoll {
        RelayWatch watch;
        std::shared_ptr<RelayPageRead> reading; // the read under way
    };
    std::map<QString, RelayPoll> relayPolls_; // by entry id, while OBS sends its relay
    // The destinations each running stream to a relay stands for, by entry id: those marked
    // when it started and those started onto it since, whatever their marks say now.
    std::map<QString, QSet<QString>> relayCarries_;
    UploadBudget upload_;
    // OBS's own stream's bytes handed on, at the last heartbeat (engine clock, ms).
    std::optional<std::pair<uint64_t, int64_t>> obsStreamBytes_;
    QTimer timer_;
    int32_t heartbeats_ = 0;
    bool shutDown_ = false;
    std::chrono::steady_clock::time_point exitDeadline_{};
    int nextListenerId_ = 1;
    std::vector<std::pair<int, ChangeListener>> changeListeners_;
    std::vector<std::pair<int, HeartbeatListener>> heartbeatListeners_;
    std::vector<std::pair<int, NoticeListener>> noticeListeners_;
    std::vector<std::pair<int, EntryListListener>> entryListListeners_;
};

} // namespace relaycast
