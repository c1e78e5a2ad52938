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

// One destination of a running entry: its host output (behind an OutputPort) and the state the
// host's output threads and the interface thread share. The four signal handlers touch only
// the atomics and, under `lock`, the message. Stopping and releasing the host output go
// through `hostCalls`, on the destination's own strand; a destination is itself destroyed only
// on that strand (see `retireDestination`), so every call it handed over has run before it goes.
class DestinationOutput {
public:
    explicit DestinationOutput(const DestConfig& dest, EngineClock& clock = steadyClock(),
                               HostCallQueue& hostCalls = backgroundHostCalls());
    ~DestinationOutput();
    DestinationOutput(const DestinationOutput&) = delete;
    DestinationOutput& operator=(const DestinationOutput&) = delete;

    // Copies of the destination texts taken at start.
    const QString id;
    const QString url;
    const QString key;
    const QString passphrase;
    // A recording (see recordingIdOf): `url` is its file, and it is never restarted, since a
    // new run would write a new file.
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

    std::atomic<DestinationState> state{DestinationState::Idle};
    std::atomic<int32_t> attempts{0};
    std::atomic<int32_t> recoveryAfterSecs{-1};
    std::atomic<int32_t> cuts{0};
    std::atomic<int64_t> outageStartMs{0};
    std::atomic<int32_t> bitrateKbps{-1};
    std::atomic<int32_t> droppedFrames{0};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> started{false};
    std::atomic<bool> autoRestart{false};
    std::atomic<int64_t> nextRestartMs{0};
    // When the server began refusing the key in a row during this recovery; 0 when it is not.
    std::atomic<int64_t> refusedSinceMs{0};
    uint64_t lastBytes = 0;
    int64_t lastSampleMs = 0;
    CongestionMeter congestion;     // interface thread
    RecordingStallMeter fileGrowth; // a recording's; interface thread
    RecordingFileWatch fileWatch;   // a recording's; interface thread
    // Figures of this run: first Live moment (host thread writes it once), bytes of every
    // output run, frames of the current one.
    std::atomic<int64_t> firstLiveMs{0};
    std::atomic<uint64_t> sentBytes{0};
    uint64_t countedBytes = 0; // of the current output run, already in sentBytes
    std::atomic<int32_t> totalFrames{0};
    int64_t startNs = 0;
    int64_t inactiveSinceNs = 0;
    int64_t stopRequestedNs = 0; // when the user's stop was asked for; 0 when not
    // The host's plain stop ignores an output whose attempt is under way, and releasing it
    // waits for the attempt.
    ConnectionAttempt attempt;
    // The host came up after the user had already cancelled: it is stopped at the next tick.
    std::atomic<bool> cameUpAfterCancel{false};
    // Stopped to be started again at once (see restartIfLiveWithoutEncoders).
    std::atomic<bool> restartAfterStop{false};
    // Host calls handed to `hostCalls` that have not run yet.
    std::atomic<int> pendingHostCalls{0};

    EngineClock& clock;
    HostCallQueue& hostCalls;

    // Host signal handlers (host output threads).
    void onStart();
    void onStop(int code, const QString& lastError);
    void onReconnect();
    void onReconnectSuccess();

    // Stores the message (with any address query or key masked), then marks the destination
    // Failed.
    void fail(const QString& message);
    // The message alone (masked the same way), e.g. why a recovery is still retrying.
    void setMessage(const QString& message);
    // Idle, unless a failure is already shown.
    void endPlainly();
    QString message() const;

    // Whole seconds since the current outage began; 0 when there is none.
    int32_t secondsSinceOutage() const;

    // Marks Starting and asks the host to start; on refusal fails with the host's last error
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

    // The snapshot the panel reads.
    DestinationStatus status() const;

private:
    mutable std::mutex lock_;
    QString message_;
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
