#include "support/fake_output_port.h"

#include <utility>

namespace relaycast::test {

void FakeOutputScript::setLastError(const QString& text) {
    std::lock_guard guard(lock_);
    lastError_ = text;
}

QString FakeOutputScript::lastError() const {
    std::lock_guard guard(lock_);
    return lastError_;
}

FakeOutputPort::FakeOutputPort(std::shared_ptr<FakeOutputScript> script)
    : script_(std::move(script)) {}

FakeOutputPort::~FakeOutputPort() {
    script_->destroyed = true;
}

bool FakeOutputPort::start() {
    // Active before the start is counted, as a host output is active before it signals "start":
    // a test thread that waits for the count may stop the output at once, and that stop must
    // not be undone by this start.
    if (script_->acceptStart && script_->activeAfterStart)
        script_->active = true;
    script_->starts += 1;
    return script_->acceptStart;
}

void FakeOutputPort::stop() {
    script_->stops += 1;
    if (script_->stopDeactivates)
        script_->active = false;
    if (script_->afterStop)
        script_->afterStop();
}

void FakeOutputPort::forceStop() {
    script_->forceStops += 1;
    if (script_->stopDeactivates)
        script_->active = false;
    if (script_->afterStop)
        script_->afterStop();
}

bool FakeOutputPort::active() const {
    return script_->active;
}

uint64_t FakeOutputPort::totalBytes() const {
    return script_->totalBytes;
}

int FakeOutputPort::droppedFrames() const {
    return script_->droppedFrames;
}

int FakeOutputPort::totalFrames() const {
    return script_->totalFrames;
}

bool FakeOutputPort::encodersRunning() const {
    return script_->encodersRunning;
}

QString FakeOutputPort::lastError() const {
    return script_->lastError();
}

} // namespace relaycast::test
