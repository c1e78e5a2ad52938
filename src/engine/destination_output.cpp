#include "engine/destination_output.h"

#include "module/module_log.h"
#include "module/ui_text.h"

#include <QByteArray>

#include <cmath>
#include <limits>

namespace relaycast {
namespace {

// Host stop codes whose cause a retry cannot fix (bad address, refused key, unsupported
// format, encoder failure).
bool isFatalStopCode(int code) {
    return code == -1 || code == -3 || code == -6 || code == -8;
}

QString codeMessage(int code) {
    switch (code) {
    case 0:
        return {};
    case -1:
        return uiText("La dirección no es correcta.");
    case -2:
        return uiText("No se pudo conectar con el servidor.");
    case -3:
        return uiText("La clave o la dirección no son válidas.");
    case -5:
        return uiText("Se perdió la conexión con el servidor.");
    case -6:
        return uiText("El servidor no admite este formato.");
    case -8:
        return uiText("Falló el codificador de vídeo o audio.");
    default:
        return uiText("La emisión se detuvo por un error (código %1).").arg(code);
    }
}

int32_t truncatedKbps(double rate) {
    if (!(rate >= 0)) // also catches NaN
        return 0;
    if (rate >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(rate);
}

} // namespace

DestinationOutput::DestinationOutput(const DestConfig& dest, EngineClock& engineClock)
    : id(dest.id), url(dest.url), key(dest.clave), passphrase(dest.contrasena), clock(engineClock) {
}

DestinationOutput::~DestinationOutput() {
    // The port disconnects the handlers before it releases the output, so it must go while
    // the fields they touch still exist.
    port.reset();
}

void DestinationOutput::onStart() {
    started = true;
    if (autoRestart) {
        recoveryAfterSecs = secondsSinceOutage();
        outageStartMs = 0;
        autoRestart = false;
        moduleLog(LOG_INFO, "stream recovered automatically after %d s",
                  static_cast<int>(recoveryAfterSecs.load()));
    }
    state = DestinationState::Live;
}

void DestinationOutput::onStop(int code, const QString& lastError) {
    if (code == 0) {
        // A normal stop also ends a restart in progress, so the destination can be removed.
        autoRestart = false;
        // A forced stop after a failure must not turn that failure into a plain stop.
        DestinationState current = state.load();
        while (current != DestinationState::Failed &&
               !state.compare_exchange_weak(current, DestinationState::Idle)) {
        }
        return;
    }
    const bool neverCameUp = !started && !autoRestart;
    if (stopRequested || isFatalStopCode(code) || neverCameUp || attempts >= kRestartAttemptLimit) {
        autoRestart = false;
        fail(stopCodeText(code, lastError));
        return;
    }
    const int64_t nowMs = clock.nowMs();
    if (!autoRestart) {
        autoRestart = true;
        started = false;
        outageStartMs = nowMs;
        attempts = 0;
        cuts += 1;
        const QByteArray error = lastError.toUtf8();
        moduleLog(LOG_WARNING,
                  "stream dropped by itself (code %d%s%s): restarting it automatically", code,
                  error.isEmpty() ? "" : ", ", error.constData());
    }
    const int32_t attempt = ++attempts;
    nextRestartMs = nowMs + (attempt == 1 ? kFirstRestartDelayMs : kNextRestartDelayMs);
    state = DestinationState::Reconnecting;
}

void DestinationOutput::onReconnect() {
    if (outageStartMs == 0) {
        outageStartMs = clock.nowMs();
        attempts = 0;
        cuts += 1;
    }
    attempts += 1;
    state = DestinationState::Reconnecting;
}

void DestinationOutput::onReconnectSuccess() {
    recoveryAfterSecs = secondsSinceOutage();
    outageStartMs = 0;
    state = DestinationState::Live;
}

void DestinationOutput::fail(const QString& text) {
    {
        std::lock_guard guard(lock_);
        message_ = text;
    }
    state = DestinationState::Failed;
}

QString DestinationOutput::message() const {
    std::lock_guard guard(lock_);
    return message_;
}

int32_t DestinationOutput::secondsSinceOutage() const {
    const int64_t since = outageStartMs;
    if (since == 0)
        return 0;
    return static_cast<int32_t>((clock.nowMs() - since) / 1000);
}

bool DestinationOutput::beginStart(QString* out) {
    state = DestinationState::Starting;
    startNs = clock.nowNs();
    if (port && port->start())
        return true;
    QString text = port ? port->lastError() : QString();
    if (text.isEmpty())
        text = uiText("No se pudo iniciar la emisión.");
    fail(text);
    if (out)
        *out = text;
    return false;
}

DestinationStatus DestinationOutput::status() const {
    DestinationStatus s;
    s.state = state;
    s.message = message();
    s.attempts = attempts;
    s.outageSecs = secondsSinceOutage();
    s.recoveryAfterSecs = recoveryAfterSecs;
    s.cuts = cuts;
    s.bitrateKbps = bitrateKbps;
    s.droppedFrames = droppedFrames;
    return s;
}

QString stopCodeText(int code, const QString& lastError) {
    QString text = codeMessage(code);
    if (!lastError.isEmpty())
        text = text.isEmpty() ? lastError : text + QLatin1Char(' ') + lastError;
    return text;
}

void stopDestination(DestinationOutput& d) {
    if (!d.stopRequested)
        d.stopRequestedNs = d.clock.nowNs();
    d.stopRequested = true;
    d.nextRestartMs = 0;
    if (d.autoRestart && d.port && !d.port->active()) {
        // Waiting for an automatic restart: there is nothing running to ask the host about.
        d.autoRestart = false;
        d.state = DestinationState::Idle;
        return;
    }
    if (d.port)
        d.port->stop();
}

void runRestartStep(DestinationOutput& d) {
    if (!d.port || d.stopRequested)
        return;
    const int64_t due = d.nextRestartMs;
    const int64_t nowMs = d.clock.nowMs();
    if (due == 0 || nowMs < due)
        return;
    if (d.port->active()) {
        d.nextRestartMs = nowMs + kActiveRecheckDelayMs;
        return;
    }
    d.nextRestartMs = 0;
    d.state = DestinationState::Starting;
    d.startNs = d.clock.nowNs();
    if (d.port->start())
        return;
    if (d.attempts < kRestartAttemptLimit) {
        d.attempts += 1;
        d.nextRestartMs = nowMs + kNextRestartDelayMs;
        d.state = DestinationState::Reconnecting;
        return;
    }
    d.autoRestart = false;
    d.fail(uiText("Se perdió la conexión y no se pudo recuperar. %1").arg(d.port->lastError()));
}

void collectStatistics(DestinationOutput& d) {
    if (!d.port || d.state != DestinationState::Live) {
        d.bitrateKbps = -1;
        d.lastSampleMs = 0;
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
}

void enforceStartTimeout(DestinationOutput& d) {
    if (d.state != DestinationState::Starting || d.clock.nowNs() - d.startNs <= kStartTimeoutNs)
        return;
    // A restart that timed out is over too; left set, it would keep the destination in the
    // runtime for good.
    d.autoRestart = false;
    if (d.port)
        d.port->forceStop();
    d.fail(uiText("El servidor no respondió a tiempo."));
}

void enforceStopTimeout(DestinationOutput& d) {
    if (!d.stopRequested || d.stopRequestedNs == 0 || !d.port || !d.port->active())
        return;
    if (d.clock.nowNs() - d.stopRequestedNs <= kStopTimeoutNs)
        return;
    d.stopRequestedNs = 0; // once: the host's "stop" signal or the inactive output ends it
    d.port->forceStop();
}

bool hasEnded(DestinationOutput& d) {
    if (!d.port)
        return true;
    if (d.port->active()) {
        d.inactiveSinceNs = 0;
        return false;
    }
    const int64_t nowNs = d.clock.nowNs();
    if (d.inactiveSinceNs == 0)
        d.inactiveSinceNs = nowNs;
    if (d.autoRestart && !d.stopRequested)
        return false;
    switch (d.state.load()) {
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
