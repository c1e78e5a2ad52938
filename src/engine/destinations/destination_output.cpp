#include "engine/destinations/destination_output.h"

#include "address/address.h"
#include "engine/destinations/stop_cause.h"
#include "engine/recording/stuck_writer.h"
#include "module/module_log.h"
#include "module/ui_text.h"

#include <obs-defs.h>

#include <QByteArray>

#include <chrono>
#include <cmath>
#include <limits>

namespace relaycast {
namespace {

// What a host stop code does to a destination that was live, and to one recovering from a drop
// (automatic restarts); a code not listed is retried. A destination whose first connection never
// came up is not restarted, whatever the code.
enum class OnRecovery { Ends, Retried, RetriedLessOften };
struct StopCodeRule {
    int code;
    bool endsALiveStream;
    OnRecovery recovery;
};
constexpr StopCodeRule kStopCodeRules[] = {
    // The address, the format, the encoders: no retry changes them.
    {OBS_OUTPUT_BAD_PATH, true, OnRecovery::Ends},
    {OBS_OUTPUT_UNSUPPORTED, true, OnRecovery::Ends},
    {OBS_OUTPUT_ENCODE_ERROR, true, OnRecovery::Ends},
    // A certificate the host does not accept at a user's start is a mistake to show, not to
    // retry. After a drop it may be the server's renewal gone wrong for a while: retried, less
    // often as it goes on, showing it is the certificate.
    {kStopCertificateRejected, true, OnRecovery::RetriedLessOften},
    // The key or address refused: a wrong one is not hammered. After a drop the server may
    // still hold the dropped session, or its ingest restarts: retried, less often once the
    // refusals go on (some ingests punish a revoked key resent every few seconds).
    {OBS_OUTPUT_INVALID_STREAM, true, OnRecovery::RetriedLessOften},
    // A server that is down, a path that drops or times out, the host's other errors.
    {OBS_OUTPUT_CONNECT_FAILED, false, OnRecovery::Retried},
    {OBS_OUTPUT_ERROR, false, OnRecovery::Retried},
    {OBS_OUTPUT_DISCONNECTED, false, OnRecovery::Retried},
    {OBS_OUTPUT_NO_SPACE, false, OnRecovery::Retried},
};

StopCodeRule stopCodeRule(int code) {
    for (const StopCodeRule& rule : kStopCodeRules) {
        if (rule.code == code)
            return rule;
    }
    return {code, false, OnRecovery::Retried};
}

// The wait before the next try at a server that has refused the key for `refusingMs`.
int64_t refusedRetryDelayMs(int64_t refusingMs) {
    if (refusingMs < kRefusedAtFullPaceMs)
        return kNextRestartDelayMs;
    return refusingMs < kRefusedSlowerMs ? kRefusedSlowDelayMs : kRefusedSlowestDelayMs;
}

// What the server answered to a restart attempt that failed, as the status line shows it.
QString retryReason(int code) {
    switch (code) {
    case OBS_OUTPUT_INVALID_STREAM:
        return uiText("el servidor rechazó la emisión; se reintenta");
    case OBS_OUTPUT_CONNECT_FAILED:
        return uiText("no se pudo conectar con el servidor; se reintenta");
    case OBS_OUTPUT_DISCONNECTED:
        return uiText("se perdió la conexión con el servidor; se reintenta");
    default:
        return uiText("la emisión se detuvo (código %1); se reintenta").arg(code);
    }
}

QString codeMessage(int code) {
    switch (code) {
    case OBS_OUTPUT_SUCCESS:
        return {};
    case OBS_OUTPUT_BAD_PATH:
        return uiText("La dirección no es correcta.");
    case OBS_OUTPUT_CONNECT_FAILED:
        return uiText("No se pudo conectar con el servidor.");
    case OBS_OUTPUT_INVALID_STREAM:
        return uiText("La clave o la dirección no son válidas.");
    case OBS_OUTPUT_DISCONNECTED:
        return uiText("Se perdió la conexión con el servidor.");
    case OBS_OUTPUT_UNSUPPORTED:
        return uiText("El servidor no admite este formato.");
    case OBS_OUTPUT_ENCODE_ERROR:
        return uiText("Falló el codificador de vídeo o audio.");
    case kStopCertificateRejected:
        return uiText("No se aceptó el certificado del servidor: no lo firma una autoridad de "
                      "confianza, ha caducado o es para otro nombre. Escribe en la dirección el "
                      "nombre que figura en el certificado, o pide a quien gestiona el servidor "
                      "que lo renueve.");
    default:
        return uiText("La emisión se detuvo por un error (código %1).").arg(code);
    }
}

// How long after a recording's forced stop began its stuck writer is ended.
constexpr std::chrono::milliseconds kWriterEndAfterStop{200};

// Shorter texts would mask ordinary words of a message.
constexpr qsizetype kMinMaskedSecretLength = 4;

int32_t truncatedKbps(double rate) {
    if (!(rate >= 0)) // also catches NaN
        return 0;
    if (rate >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(rate);
}

// Host texts may quote the address with its query, or the key itself: neither may reach a
// card, a notice or the log.
QString maskedHostText(const QString& text, const QString& key, const QString& passphrase) {
    QString masked = maskAddressQueries(text);
    for (const QString& secret : {key, passphrase}) {
        if (secret.size() >= kMinMaskedSecretLength)
            masked.replace(secret, QStringLiteral("…"));
    }
    return masked;
}

} // namespace

DestinationOutput::DestinationOutput(const DestConfig& dest, EngineClock& engineClock,
                                     HostCallQueue& queue)
    : id(dest.id), url(dest.url), key(dest.clave), passphrase(dest.contrasena), recording(false),
      delayNs(int64_t{dest.envio.retrasoSegs} * 1000 * 1000 * 1000), clock(engineClock),
      hostCalls(queue) {}

DestinationOutput::DestinationOutput(const RecordingSink& sink, EngineClock& engineClock,
                                     HostCallQueue& queue)
    : id(sink.id), file(sink.file), recording(true), delayNs(0), clock(engineClock),
      hostCalls(queue) {
    recordingOutputHeld(file);
}

DestinationOutput::~DestinationOutput() {
    // The port disconnects the handlers before it releases the output, so it must go while
    // the fields they touch still exist; the pipeline feeding it goes after it.
    port.reset();
    if (recording)
        recordingOutputReleased(file);
    if (backgroundHostCallsAbandoned())
        leaveToHost(std::move(pipeline));
    pipeline.reset();
}

DestinationState shownState(DestinationPhase phase) {
    switch (phase) {
    case DestinationPhase::Idle:
        return DestinationState::Idle;
    case DestinationPhase::Connecting:
        return DestinationState::Starting;
    case DestinationPhase::Live:
    case DestinationPhase::ReplacingEncoders:
        return DestinationState::Live;
    case DestinationPhase::HostReconnecting:
    case DestinationPhase::Recovering:
        return DestinationState::Reconnecting;
    case DestinationPhase::Failed:
        return DestinationState::Failed;
    }
    return DestinationState::Idle;
}

void DestinationOutput::onStart() {
    attempt.end();
    post({HostEvent::Kind::Started, clock.nowMs()});
}

void DestinationOutput::onStop(int code, const QString& lastError) {
    attempt.end();
    post({HostEvent::Kind::Stopped, clock.nowMs(), code, lastError});
}

void DestinationOutput::onReconnect() {
    post({HostEvent::Kind::Reconnecting, clock.nowMs()});
}

void DestinationOutput::onReconnectSuccess() {
    post({HostEvent::Kind::Reconnected, clock.nowMs()});
}

void DestinationOutput::post(HostEvent event) {
    std::lock_guard guard(inboxLock_);
    inbox_.push_back(std::move(event));
}

void DestinationOutput::deliverHostEvents() {
    std::vector<HostEvent> events;
    {
        std::lock_guard guard(inboxLock_);
        events.swap(inbox_);
    }
    for (const HostEvent& event : events)
        apply(event);
}

void DestinationOutput::apply(const HostEvent& event) {
    switch (event.kind) {
    case HostEvent::Kind::Started:
        started(event.atMs);
        return;
    case HostEvent::Kind::Stopped:
        stopped(event.code, event.text, event.atMs);
        return;
    case HostEvent::Kind::Reconnecting:
        reconnecting(event.atMs);
        return;
    case HostEvent::Kind::Reconnected:
        reconnected(event.atMs);
        return;
    case HostEvent::Kind::StartRefused:
        // Refused after the user had stopped it: nothing to report of a start nobody wants.
        if (stopRequested)
            endPlainly();
        else
            fail(event.text);
        return;
    }
}

void DestinationOutput::started(int64_t atMs) {
    if (stopRequested) {
        // Cancelled while connecting: never Live; the next tick stops it at once.
        stopWhenUp = true;
        endPlainly();
        return;
    }
    // A start the engine already gave up on (its time-out) is being stopped: it stays failed.
    if (phase != DestinationPhase::Connecting && phase != DestinationPhase::Recovering)
        return;
    if (firstLiveMs == 0)
        firstLiveMs = atMs;
    if (phase == DestinationPhase::Recovering) {
        recoveryAfterSecs = secondsSinceOutage(atMs);
        outageStartMs = 0;
        refusedSinceMs = 0;
        setMessage({});
        moduleLog(LOG_INFO, "stream recovered automatically after %d s",
                  static_cast<int>(recoveryAfterSecs));
    }
    phase = DestinationPhase::Live;
}

void DestinationOutput::stopped(int code, const QString& lastError, int64_t atMs) {
    if (phase == DestinationPhase::ReplacingEncoders && code == OBS_OUTPUT_SUCCESS &&
        !stopRequested) {
        if (recording) {
            // A new run would write a new file; this one got nothing to write.
            fail(codeMessage(OBS_OUTPUT_ENCODE_ERROR));
            return;
        }
        phase = DestinationPhase::Connecting;
        nextRestartMs = atMs;
        return;
    }
    if (code == OBS_OUTPUT_SUCCESS) {
        // A normal stop also ends a restart in progress, so the destination can be removed.
        endPlainly();
        return;
    }
    // The stop that follows a failure (a time-out, say) keeps the first message; one after a
    // plain end has nothing left to end.
    if (phase == DestinationPhase::Failed || phase == DestinationPhase::Idle) {
        return;
    }
    if (stopRequested && phase != DestinationPhase::Live &&
        phase != DestinationPhase::ReplacingEncoders) {
        // A start the user cancelled ends plainly, whatever the abandoned connection said.
        endPlainly();
        return;
    }
    if (recording) {
        fail(recordingStopText(code, lastError));
        return;
    }
    const StopCodeRule rule = stopCodeRule(code);
    const bool wasRecovering = phase == DestinationPhase::Recovering;
    const bool neverCameUp = phase == DestinationPhase::Connecting;
    const bool final = wasRecovering ? rule.recovery == OnRecovery::Ends : rule.endsALiveStream;
    if (stopRequested || final || neverCameUp || attempts >= kOutageAttemptLimit) {
        fail(stopCodeText(code, lastError));
        return;
    }
    if (!wasRecovering) {
        phase = DestinationPhase::Recovering;
        outageStartMs = atMs;
        attempts = 0;
        cuts += 1;
        const QByteArray error = maskedHostText(lastError, key, passphrase).toUtf8();
        moduleLog(LOG_WARNING,
                  "stream dropped by itself (code %d%s%s): restarting it automatically", code,
                  error.isEmpty() ? "" : ", ", error.constData());
    }
    const int32_t tries = ++attempts;
    int64_t delayMs = tries == 1 ? kFirstRestartDelayMs : kNextRestartDelayMs;
    QString reason = retryReason(code);
    if (wasRecovering && rule.recovery == OnRecovery::RetriedLessOften) {
        if (refusedSinceMs == 0)
            refusedSinceMs = atMs;
        delayMs = refusedRetryDelayMs(atMs - refusedSinceMs);
        if (code == kStopCertificateRejected)
            reason = uiText("no se aceptó el certificado del servidor; se reintenta cada %1 s")
                         .arg(delayMs / 1000);
        else if (delayMs > kNextRestartDelayMs)
            reason = uiText("el servidor sigue rechazando esta clave; revísala (se reintenta "
                            "cada %1 s)")
                         .arg(delayMs / 1000);
    } else {
        refusedSinceMs = 0;
    }
    setMessage(reason);
    nextRestartMs = atMs + delayMs;
}

void DestinationOutput::reconnecting(int64_t atMs) {
    if (phase != DestinationPhase::Live && phase != DestinationPhase::HostReconnecting)
        return;
    if (outageStartMs == 0) {
        outageStartMs = atMs;
        attempts = 0;
        cuts += 1;
    }
    attempts += 1;
    phase = DestinationPhase::HostReconnecting;
}

void DestinationOutput::reconnected(int64_t atMs) {
    if (phase != DestinationPhase::HostReconnecting)
        return;
    recoveryAfterSecs = secondsSinceOutage(atMs);
    outageStartMs = 0;
    phase = DestinationPhase::Live;
}

void DestinationOutput::endPlainly() {
    // A failure already shown stays: a stop that follows it must not turn it into a plain stop.
    if (phase != DestinationPhase::Failed)
        phase = DestinationPhase::Idle;
}

void DestinationOutput::fail(const QString& text) {
    setMessage(text);
    phase = DestinationPhase::Failed;
}

void DestinationOutput::setMessage(const QString& text) {
    message_ = maskedHostText(text, key, passphrase);
}

int32_t DestinationOutput::secondsSinceOutage(int64_t nowMs) const {
    if (outageStartMs == 0)
        return 0;
    return static_cast<int32_t>((nowMs - outageStartMs) / 1000);
}

bool DestinationOutput::beginStart(QString* out) {
    phase = DestinationPhase::Connecting;
    startNs = clock.nowNs();
    attempt.begin(delayNs);
    if (recording && port) {
        // The host's file output opens and removes its file as it starts: on the recording's
        // strand, never the interface thread, since its folder may not answer. A refusal shows
        // as a failure of the recording; the claim holds its name again behind the start.
        postCounted([this] {
            if (port->start()) {
                if (fileClaim)
                    fileClaim->holdAgain();
                return;
            }
            attempt.refused();
            const QString text = port->lastError();
            moduleLog(LOG_WARNING, "the host refused to start a recording's output");
            post({HostEvent::Kind::StartRefused, clock.nowMs(), 0,
                  text.isEmpty() ? uiText("No se pudo iniciar la emisión.") : text});
        });
        return true;
    }
    if (port && port->start())
        return true;
    attempt.refused();
    QString text = port ? port->lastError() : QString();
    if (text.isEmpty())
        text = uiText("No se pudo iniciar la emisión.");
    fail(text);
    if (out)
        *out = message();
    return false;
}

void DestinationOutput::postCounted(std::function<void()> call) {
    ++pendingHostCalls;
    hostCalls.post(this, [this, call = std::move(call)] {
        struct Done {
            std::atomic<int>& pending;
            ~Done() { --pending; }
        } done{pendingHostCalls};
        call();
    });
}

void DestinationOutput::requestHostStop(bool force) {
    if (!port)
        return;
    postCounted([this, force] {
        if (force)
            port->forceStop();
        else
            port->stop();
    });
}

void DestinationOutput::stopEndingWriter() {
    if (!port)
        return;
    postCounted([this] {
        // The forced stop waits for the writer to end: the end comes from its own thread, a
        // moment after the stop began.
        endStuckWriter(file, kWriterEndAfterStop);
        port->forceStop();
    });
}

DestinationStatus DestinationOutput::status() {
    deliverHostEvents();
    DestinationStatus s;
    s.state = state();
    s.message = message();
    s.attempts = attempts;
    s.outageSecs = secondsSinceOutage(clock.nowMs());
    s.recoveryAfterSecs = recoveryAfterSecs;
    s.cuts = cuts;
    s.bitrateKbps = bitrateKbps;
    s.droppedFrames = droppedFrames;
    s.uptimeSecs = firstLiveMs != 0 ? (clock.nowMs() - firstLiveMs) / 1000 : 0;
    s.sentBytes = sentBytes;
    s.totalFrames = totalFrames;
    s.congested = congestion.congested();
    s.congestionEpisodes = congestion.episodes();
    s.receivedKbps = congestion.receivedKbps();
    s.queuedMs = congestion.queuedMs();
    s.congestionPercent = congestion.congestionPercent();
    if (recording) {
        s.file = file;
        s.folderSilent = fileWatch.folderSilent();
    }
    return s;
}

QString stopCodeText(int code, const QString& lastError) {
    QString text = codeMessage(code);
    if (!lastError.isEmpty())
        text = text.isEmpty() ? lastError : text + QLatin1Char(' ') + lastError;
    return text;
}

QString recordingStopText(int code, const QString& lastError) {
    QString text = code == OBS_OUTPUT_UNSUPPORTED
                       ? uiText("La grabación se detuvo: este formato no admite lo que se graba.")
                       : uiText("La grabación se detuvo: no se pudo seguir escribiendo el archivo "
                                "(¿disco lleno o carpeta desconectada?).");
    if (!lastError.isEmpty())
        text += QLatin1Char(' ') + lastError.trimmed();
    return text;
}

void stopDestination(DestinationOutput& d) {
    d.deliverHostEvents();
    if (!d.stopRequested)
        d.stopRequestedNs = d.clock.nowNs();
    d.stopRequested = true;
    d.nextRestartMs = 0;
    // Why a recovery was still retrying no longer applies once the user stopped it.
    if (d.phase != DestinationPhase::Failed)
        d.setMessage({});
    if (!d.port)
        return;
    if (d.attempt.underWay()) {
        // The host's plain stop does nothing while it connects; the forced one waits for the
        // connection attempt (on the host call queue) and ends it at once. For the user the
        // destination is stopped now: it never shows Live, whatever the server does later.
        d.requestHostStop(true);
        d.endPlainly();
        return;
    }
    if (d.recovering() && !d.port->active()) {
        // Waiting for an automatic restart: there is nothing running to ask the host about.
        d.phase = DestinationPhase::Idle;
        return;
    }
    d.requestHostStop(false);
}

void retireDestination(std::unique_ptr<DestinationOutput> d, ReleasedFlag released) {
    if (!d)
        return;
    HostCallQueue& queue = d->hostCalls;
    const void* strand = d.get();
    queue.post(strand, [owned = std::shared_ptr<DestinationOutput>(std::move(d)),
                        released = std::move(released)]() mutable {
        owned.reset();
        if (released)
            *released = true;
    });
}

void runRestartStep(DestinationOutput& d) {
    if (!d.port || d.stopRequested || d.pendingHostCalls > 0)
        return;
    const int64_t due = d.nextRestartMs;
    const int64_t nowMs = d.clock.nowMs();
    if (due == 0 || nowMs < due)
        return;
    if (d.port->active() || d.attempt.underWay()) {
        d.nextRestartMs = nowMs + kActiveRecheckDelayMs;
        return;
    }
    d.nextRestartMs = 0;
    // The state stays Reconnecting, so the status keeps counting the outage and its attempts
    // until the host reports the stream started again.
    d.startNs = d.clock.nowNs();
    d.attempt.begin(d.delayNs);
    if (d.port->start())
        return;
    d.attempt.refused();
    if (d.attempts < kOutageAttemptLimit) {
        d.attempts += 1;
        d.nextRestartMs = nowMs + kNextRestartDelayMs;
        return;
    }
    d.fail(uiText("Se perdió la conexión y no se pudo recuperar. %1").arg(d.port->lastError()));
}

void collectStatistics(DestinationOutput& d) {
    if (d.port) {
        // Every run of the output counts from zero: a smaller figure is a new run.
        const uint64_t run = d.port->totalBytes();
        if (run < d.countedBytes)
            d.countedBytes = 0;
        d.sentBytes += run - d.countedBytes;
        d.countedBytes = run;
    }
    if (!d.port || d.state() != DestinationState::Live) {
        d.bitrateKbps = -1;
        d.lastSampleMs = 0;
        d.congestion.reset();
        return;
    }
    const int64_t nowMs = d.clock.nowMs();
    const uint64_t bytes = d.port->totalBytes();
    if (d.lastSampleMs > 0 && d.lastSampleMs < nowMs && bytes >= d.lastBytes) {
        const double rate = static_cast<double>(bytes - d.lastBytes) * 8.0 /
                            static_cast<double>(nowMs - d.lastSampleMs);
        const int32_t previous = d.bitrateKbps;
        d.bitrateKbps = truncatedKbps(previous < 0 ? rate : previous * 0.6 + rate * 0.4);
    }
    d.lastBytes = bytes;
    d.lastSampleMs = nowMs;
    d.droppedFrames = d.port->droppedFrames();
    d.totalFrames = d.port->totalFrames();
    d.congestion.sample(
        {nowMs, bytes, d.port->congestion(), d.droppedFrames, d.port->pathFigures()});
}

void enforceStartTimeout(DestinationOutput& d) {
    // Automatic restarts stay Reconnecting: an attempt that hangs is ended by the host's own
    // connection time-outs and the schedule goes on, however long the outage lasts.
    if (d.phase != DestinationPhase::Connecting ||
        d.clock.nowNs() - d.startNs <= kStartTimeoutNs + d.delayNs)
        return;
    d.requestHostStop(true);
    d.fail(uiText("El servidor no respondió a tiempo."));
}

void enforceCancel(DestinationOutput& d) {
    if (!d.stopWhenUp || d.pendingHostCalls > 0)
        return;
    d.stopWhenUp = false;
    if (d.port && d.port->active())
        d.requestHostStop(true);
}

void enforceStopTimeout(DestinationOutput& d) {
    if (!d.stopRequested || d.stopRequestedNs == 0 || !d.port || !d.port->active())
        return;
    // A delayed stream sends what it holds back before the host stops it, as OBS's own does.
    if (d.clock.nowNs() - d.stopRequestedNs <= kStopTimeoutNs + d.delayNs)
        return;
    d.stopRequestedNs = 0; // once: the host's "stop" signal or the inactive output ends it
    d.requestHostStop(true);
}

void restartIfLiveWithoutEncoders(DestinationOutput& d) {
    if (d.phase != DestinationPhase::Live || !d.port || d.stopRequested || d.pendingHostCalls > 0 ||
        d.port->encodersRunning())
        return;
    moduleLog(LOG_WARNING, "a stream came up on encoders the host had already stopped: starting "
                           "it again");
    d.phase = DestinationPhase::ReplacingEncoders;
    d.startNs = d.clock.nowNs(); // the start time-out counts from here
    d.requestHostStop(true);
}

bool hasEnded(DestinationOutput& d) {
    d.deliverHostEvents();
    if (!d.port)
        return true;
    if (d.port->active()) {
        d.inactiveSinceNs = 0;
        return false;
    }
    if (d.recovering() && !d.stopRequested) {
        // Waiting for or making a restart: the grace belongs to the next run, which may come
        // up and drop again between two heartbeats.
        d.inactiveSinceNs = 0;
        return false;
    }
    const int64_t nowNs = d.clock.nowNs();
    if (d.inactiveSinceNs == 0)
        d.inactiveSinceNs = nowNs;
    switch (d.state()) {
    case DestinationState::Idle:
    case DestinationState::Failed:
        return true;
    case DestinationState::Live:
    case DestinationState::Reconnecting:
        return nowNs - d.inactiveSinceNs > kInactiveGraceNs;
    case DestinationState::Starting:
        return false;
    }
    return false;
}

} // namespace relaycast
