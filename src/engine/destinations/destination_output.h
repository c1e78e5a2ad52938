#pragma once

#include "config/config_model.h"
#include "engine/destinations/congestion_meter.h"
#include "engine/destinations/connection_attempt.h"
#include "engine/destinations/destination_status.h"
#include "engine/destinations/output_port.h"
#include "engine/host/engine_clock.h"
#include "engine/host/host_call_queue.h"
#include "engine/recording/recording_file_claim.h"
#include "engine/recording/recording_file_watch.h"
#include "engine/recording/recording_stall_meter.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace relaycast {

struct EntryPipeline;

inline constexpr int kRestartAttemptLimit = 120;
// The host's own reconnection would space its tries 1.5 times further apart each time (seen:
// 5, 7.5, 11, 17, 25, 37, 56 s ...), so after a long outage viewers would wait minutes while
// the server is back. The engine therefore reconnects on its own fixed schedule, and the 300
// tries at 5 s the host was meant to make are part of that schedule.
inline constexpr int kHostReconnectRetries = 300;
inline constexpr int kOutageAttemptLimit = kHostReconnectRetries + kRestartAttemptLimit;
inline constexpr int64_t kFirstRestartDelayMs = 1500;
inline constexpr int64_t kNextRestartDelayMs = 5000;
inline constexpr int64_t kActiveRecheckDelayMs = 500;
// A server that keeps refusing the key while a stream recovers from a drop: tried at the pace
// above for two minutes of refusals (it may still hold the dropped session, or its ingest
// restarts), then every 30 s, and every 60 s once it has refused for five minutes.
inline constexpr int64_t kRefusedAtFullPaceMs = 120 * 1000;
inline constexpr int64_t kRefusedSlowerMs = 300 * 1000;
inline constexpr int64_t kRefusedSlowDelayMs = 30 * 1000;
inline constexpr int64_t kRefusedSlowestDelayMs = 60 * 1000;
inline constexpr int64_t kStartTimeoutNs = 40LL * 1000 * 1000 * 1000;
inline constexpr int64_t kInactiveGraceNs = 3LL * 1000 * 1000 * 1000;
inline constexpr int64_t kStopTimeoutNs = 5LL * 1000 * 1000 * 1000;

// What one destination's attempt is doing. Every transition runs on the destination's owner
// (the interface thread; the host call queue once it is retired), over the plain fields below.
enum class DestinationPhase {
    Idle,              // not started yet, ended plainly, or a start the user cancelled
    Connecting,        // a start waiting for the host to say how it went
    Live,              // the host said it started
    HostReconnecting,  // the host's own reconnection of a live stream
    Recovering,        // dropped: the engine's restart schedule, waiting or trying
    ReplacingEncoders, // live on encoders the host had stopped: stopped to be started again
    Failed,            // a failure is shown; nothing is retried
};

// What the panel shows of a phase.
DestinationState shownState(DestinationPhase phase);

// What a host output thread tells a destination. Host threads only post these (see
// DestinationOutput::onStart and the others); the owner applies them in order.
struct HostEvent {
    enum class Kind { Started, Stopped, Reconnecting, Reconnected, StartRefused };
    Kind kind;
    int64_t atMs; // engine clock, when the host said it
    int code = 0; // Stopped: the host's stop code
    QString text; // Stopped: the host's last error; StartRefused: why
};

// A recording of an entry: the file it writes and the rendition it takes. It is never delayed
// and never restarted, since a new run would write a new file. `id` names it among the entry's
// outputs (see recordingIdOf).
struct RecordingSink {
    QString id;
    QString file;
    SendChoice envio;
};

// One destination of a running entry: its host output (behind an OutputPort) and the one
// record of its attempt. Host output threads only post events (and end the ConnectionAttempt,
// the handshake the host port waits on); the owner applies them with deliverHostEvents before
// it looks at the phase: the tick, the status read and the stop all do. Stopping and releasing
// the host output go through `hostCalls`, on the destination's own strand; a destination is
// itself destroyed only on that strand (see `retireDestination`), so every call it handed over
// has run before it goes.
class DestinationOutput {
public:
    // A stream to the destination's server.
    explicit DestinationOutput(const DestConfig& dest, EngineClock& clock = steadyClock(),
                               HostCallQueue& hostCalls = backgroundHostCalls());
    // A recording into its file.
    explicit DestinationOutput(const RecordingSink& sink, EngineClock& clock = steadyClock(),
                               HostCallQueue& hostCalls = backgroundHostCalls());
    ~DestinationOutput();
    DestinationOutput(const DestinationOutput&) = delete;
    DestinationOutput& operator=(const DestinationOutput&) = delete;

    // Copies of the destination texts taken at start; a recording has no address and no key.
    const QString id;
    const QString url;
    const QString key;
    const QString passphrase;
    // A recording's file; empty for a stream.
    const QString file;
    const bool recording;
    // How long the host holds its stream back (its delay): the server hears of it that much
    // later, so a start may take that much longer.
    const int64_t delayNs;

    // A recording's hold on its file name: let go of after the output (which the destructor
    // releases first).
    std::unique_ptr<RecordingFileClaim> fileClaim;
    // The host output with its service and audio encoder; null when there is none.
    std::unique_ptr<OutputPort> port;
    // The entry's pipeline whose encoders feed the output: held so that it is released only
    // after the output (outputs, then encoders, then the audio track and the view).
    std::shared_ptr<EntryPipeline> pipeline;

    // The attempt, owner only.
    DestinationPhase phase = DestinationPhase::Idle;
    bool stopRequested = false; // the user's stop: nothing is restarted afterwards
    bool stopWhenUp = false;    // the host came up after the user had cancelled
    int32_t attempts = 0;       // of the current outage
    int32_t recoveryAfterSecs = -1;
    int32_t cuts = 0;
    int64_t outageStartMs = 0;  // 0 when there is no outage
    int64_t nextRestartMs = 0;  // when a start is due; 0 when none is
    int64_t refusedSinceMs = 0; // since when the server refuses the key in a row during a recovery
    int64_t firstLiveMs = 0;
    int64_t startNs = 0; // of the current start, for its time-out
    int64_t inactiveSinceNs = 0;
    int64_t stopRequestedNs = 0; // when the user's stop was asked for; 0 when not
    // Figures, owner only: bytes of every output run, frames of the current one.
    int32_t bitrateKbps = -1;
    int32_t droppedFrames = 0;
    int32_t totalFrames = 0;
    uint64_t sentBytes = 0;
    uint64_t countedBytes = 0; // of the current output run, already in sentBytes
    uint64_t lastBytes = 0;
    int64_t lastSampleMs = 0;
    CongestionMeter congestion;
    RecordingStallMeter fileGrowth; // a recording's
    RecordingFileWatch fileWatch;   // a recording's
    // The host's plain stop ignores an output whose attempt is under way, and releasing it
    // waits for the attempt: the one record of it shared with host threads.
    ConnectionAttempt attempt;
    // Host calls handed to `hostCalls` that have not run yet (they end on the strand).
    std::atomic<int> pendingHostCalls{0};

    EngineClock& clock;
    HostCallQueue& hostCalls;

    // Host signal handlers (any thread): they end the connection attempt where the signal says
    // it ended, and post the event.
    void onStart();
    void onStop(int code, const QString& lastError);
    void onReconnect();
    void onReconnectSuccess();
    // Applies the posted events in order (owner).
    void deliverHostEvents();

    // Stores the message (with any address query or key masked), then marks the destination
    // Failed.
    void fail(const QString& message);
    // The message alone (masked the same way), e.g. why a recovery is still retrying.
    void setMessage(const QString& message);
    // Idle, unless a failure is already shown.
    void endPlainly();
    const QString& message() const { return message_; }
    DestinationState state() const { return shownState(phase); }
    // Whether the engine's restart schedule runs: recovering from a drop.
    bool recovering() const { return phase == DestinationPhase::Recovering; }

    // Whole seconds since the current outage began; 0 when there is none.
    int32_t secondsSinceOutage(int64_t nowMs) const;

    // Marks Connecting and asks the host to start; on refusal fails with the host's last error
    // (or the generic text), copies it to `out` and returns false.
    bool beginStart(QString* out);

    // Hands a graceful or forced stop of the host output to `hostCalls`.
    void requestHostStop(bool force);
    // Runs `call` on this destination's strand, counted in pendingHostCalls until it returns.
    void postCounted(std::function<void()> call);
    // A recording whose writer waits for its folder: one call on `hostCalls` that force-stops
    // the output and has the writer ended just behind it (see endStuckWriter), never the
    // other way round.
    void stopEndingWriter();

    // The snapshot the panel reads, after the events posted so far.
    DestinationStatus status();

private:
    void post(HostEvent event);
    void apply(const HostEvent& event);
    void started(int64_t atMs);
    void stopped(int code, const QString& lastError, int64_t atMs);
    void reconnecting(int64_t atMs);
    void reconnected(int64_t atMs);

    QString message_;
    std::mutex inboxLock_;
    std::vector<HostEvent> inbox_; // under inboxLock_
};

// The user's stop: no restart afterwards; a pending restart with an inactive output just ends;
// a start still connecting is cancelled (forced, since the host's plain stop ignores it) and
// never shows Live.
void stopDestination(DestinationOutput& d);

// Set once a retired destination's host objects are released.
using ReleasedFlag = std::shared_ptr<std::atomic<bool>>;

// Hands the destination to its host call queue, which releases its host objects there and then
// sets `released` when given.
void retireDestination(std::unique_ptr<DestinationOutput> d, ReleasedFlag released = nullptr);

// Due automatic restart (tick step 1).
void runRestartStep(DestinationOutput& d);
// Bitrate, dropped frames and congestion, every tick (500 ms).
void collectStatistics(DestinationOutput& d);
// Fails and force-stops a recording whose file stopped growing (see RecordingStallMeter), with
// a message that says when its disk is full, and one whose folder stopped answering while its
// writer holds up the encoders that `encodersShared` says streams of its input use too (see
// endStuckWriter). Its file is looked at off the interface thread (see RecordingFileWatch).
// Nothing for a stream.
void watchRecordingFile(DestinationOutput& d, bool encodersShared);
// Force-stops and fails a destination stuck in Starting for more than 40 s.
void enforceStartTimeout(DestinationOutput& d);
// Stops at once a start that came up after the user had cancelled it.
void enforceCancel(DestinationOutput& d);
// Force-stops an output still active 5 s after the user asked it to stop: a graceful stop
// the host never completes would otherwise keep the destination (and its entry) live.
void enforceStopTimeout(DestinationOutput& d);
// The host shuts an input's encoders down when the last output taking their packets stops. A
// destination still connecting at that moment comes up on stopped encoders and would show Live
// while sending nothing: it is stopped and started again, which brings the encoders back.
void restartIfLiveWithoutEncoders(DestinationOutput& d);
// Whether the destination has ended and may be removed (also the "done" rule of a stop-and-wait).
// Updates inactiveSinceNs.
bool hasEnded(DestinationOutput& d);

// The user-facing text of a host stop code, with the host's last error appended.
QString stopCodeText(int code, const QString& lastError);
// The same for a recording, which has no server.
QString recordingStopText(int code, const QString& lastError);

} // namespace relaycast
