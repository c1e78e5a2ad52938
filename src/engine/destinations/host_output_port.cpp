#include "engine/destinations/host_output_port.h"

#include "engine/destinations/destination_output.h"
#include "engine/destinations/stop_cause.h"
#include "engine/host/engine_clock.h"
#include "engine/host/host_call_queue.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

namespace relaycast {
namespace {

constexpr int kInactivePolls = 40;
constexpr auto kInactivePollInterval = std::chrono::milliseconds(50);
constexpr auto kAttemptPollInterval = std::chrono::milliseconds(20);
// After the host reported how an attempt ended, its thread still has a few instructions to run.
constexpr int64_t kAttemptSettleNs = 50LL * 1000 * 1000;

// Once the plug-in gave up on stuck host calls at exit, the host frees whatever it still has
// itself: a release from here could come after that.
template <typename Reference> void keepFromRelease(Reference& reference) {
    leaveToHost(std::make_shared<Reference>(std::move(reference)));
}

// What obs-outputs says of a certificate it refused: its English text, which it falls back to,
// and its text in the language OBS runs in.
QStringList hostCertificateTexts() {
    QStringList texts{QStringLiteral("The RTMP server sent an invalid SSL certificate.")};
    const char* text = nullptr;
    obs_module_t* outputs = obs_get_module("obs-outputs");
    if (outputs && obs_module_get_locale_string(outputs, "SSLCertVerifyFailed", &text) && text &&
        *text)
        texts.append(QString::fromUtf8(text));
    return texts;
}

} // namespace

HostOutputPort::~HostOutputPort() {
    if (output && destination_ && destination_->attempt.heldBack())
        forceStop();
    if (output && !awaitAttemptEnd()) {
        // Given up at exit while the attempt still waits for its server: the host's own.
        disconnectSignals();
        keepFromRelease(output);
        keepFromRelease(audioEncoder);
        keepFromRelease(videoEncoder);
        keepFromRelease(service);
        return;
    }
    if (output) {
        disconnectSignals();
        if (obs_output_active(output)) {
            obs_output_force_stop(output);
            for (int i = 0; i < kInactivePolls && obs_output_active(output); ++i)
                std::this_thread::sleep_for(kInactivePollInterval);
        }
        // Releasing an output still connecting waits for its connection attempt.
        if (backgroundHostCallsAbandoned())
            keepFromRelease(output);
        output = nullptr;
    }
    if (backgroundHostCallsAbandoned()) {
        keepFromRelease(audioEncoder);
        keepFromRelease(videoEncoder);
        keepFromRelease(service);
    }
    audioEncoder = nullptr;
    videoEncoder = nullptr;
    service = nullptr;
}

void HostOutputPort::followConnection(const QString& url, const DestinationOutput& d) {
    connection_.follow(url, d.attempt);
}

void HostOutputPort::connectSignals(DestinationOutput& d) {
    destination_ = &d;
    signal_handler_t* handler = obs_output_get_signal_handler(output);
    // Only the RTMP output keeps a send queue whose fullness it reports.
    const char* type = obs_output_get_id(output);
    hostCongestion_ = type && std::strcmp(type, "rtmp_output") == 0;
    if (hostCongestion_)
        certificateTexts_ = hostCertificateTexts();
    signals_[0].Connect(handler, "start", handleStart, this);
    signals_[1].Connect(handler, "stop", handleStop, this);
    signals_[2].Connect(handler, "reconnect", handleReconnect, this);
    signals_[3].Connect(handler, "reconnect_success", handleReconnectSuccess, this);
    signalsConnected_ = true;
}

// The handlers run on host output threads: nothing may escape into the host.
void HostOutputPort::handleStart(void* param, calldata_t*) {
    try {
        auto& port = *static_cast<HostOutputPort*>(param);
        port.connection_.noteConnected();
        port.destination_->onStart();
    } catch (...) {
    }
}

void HostOutputPort::handleStop(void* param, calldata_t* data) {
    try {
        auto& port = *static_cast<HostOutputPort*>(param);
        port.connection_.noteStopped();
        const int code = static_cast<int>(calldata_int(data, "code"));
        const char* lastError = nullptr;
        // Hosts that do not pass the text with the signal still keep it on the output.
        if (!calldata_get_string(data, "last_error", &lastError) || !lastError || !*lastError) {
            auto* output = static_cast<obs_output_t*>(calldata_ptr(data, "output"));
            lastError = output ? obs_output_get_last_error(output) : nullptr;
        }
        const QString text = lastError ? QString::fromUtf8(lastError) : QString();
        port.destination_->onStop(engineStopCode(code, text, port.certificateTexts_), text);
    } catch (...) {
    }
}

void HostOutputPort::handleReconnect(void* param, calldata_t*) {
    try {
        static_cast<HostOutputPort*>(param)->destination_->onReconnect();
    } catch (...) {
    }
}

void HostOutputPort::handleReconnectSuccess(void* param, calldata_t*) {
    try {
        static_cast<HostOutputPort*>(param)->destination_->onReconnectSuccess();
    } catch (...) {
    }
}

bool HostOutputPort::awaitAttemptEnd() const {
    if (!destination_)
        return true;
    const ConnectionAttempt& attempt = destination_->attempt;
    while (attempt.underWay()) {
        if (backgroundHostCallsAbandoned())
            return false;
        std::this_thread::sleep_for(kAttemptPollInterval);
    }
    const int64_t endedNs = attempt.endedNs();
    const int64_t settledNs = endedNs + kAttemptSettleNs;
    const int64_t nowNs = steadyClock().nowNs();
    if (endedNs != 0 && nowNs < settledNs)
        std::this_thread::sleep_for(std::chrono::nanoseconds(settledNs - nowNs));
    return true;
}

void HostOutputPort::disconnectSignals() {
    if (!signalsConnected_)
        return;
    for (OBSSignal& s : signals_)
        s.Disconnect();
    signalsConnected_ = false;
}

bool HostOutputPort::start() {
    if (!output)
        return false;
    connection_.beginAttempt();
    const bool accepted = obs_output_start(output);
    connection_.endStart(accepted);
    return accepted;
}

void HostOutputPort::stop() {
    if (output && awaitAttemptEnd())
        obs_output_stop(output);
}

void HostOutputPort::forceStop() {
    if (output && destination_ && destination_->attempt.heldBack()) {
        // Stopped inside its delay: the held packets are dropped and nothing reaches the server.
        // The host may tell of no end of an attempt it never began to connect.
        obs_output_force_stop(output);
        destination_->attempt.end();
        return;
    }
    if (output && awaitAttemptEnd())
        obs_output_force_stop(output);
}

bool HostOutputPort::encodersRunning() const {
    if (!output)
        return true;
    obs_encoder_t* video = obs_output_get_video_encoder(output);
    if (video && !obs_encoder_active(video))
        return false;
    for (size_t track = 0; track < MAX_AUDIO_MIXES; ++track) {
        obs_encoder_t* audio = obs_output_get_audio_encoder(output, track);
        if (audio && !obs_encoder_active(audio))
            return false;
    }
    return true;
}

bool HostOutputPort::active() const {
    return output && obs_output_active(output);
}

uint64_t HostOutputPort::totalBytes() const {
    return output ? obs_output_get_total_bytes(output) : 0;
}

int HostOutputPort::droppedFrames() const {
    return output ? obs_output_get_frames_dropped(output) : 0;
}

int HostOutputPort::totalFrames() const {
    return output ? obs_output_get_total_frames(output) : 0;
}

double HostOutputPort::congestion() const {
    return output && hostCongestion_ ? obs_output_get_congestion(output) : -1.0;
}

PathFigures HostOutputPort::pathFigures() const {
    return connection_.figures();
}

QString HostOutputPort::lastError() const {
    const char* text = output ? obs_output_get_last_error(output) : nullptr;
    return text ? QString::fromUtf8(text) : QString();
}

} // namespace relaycast
