#include "support/fake_runtime.h"

#include "engine/recording/recording_id.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace relaycast::test {

std::shared_ptr<FakeOutputScript> addFakeDestination(EntryRuntime& runtime, const QString& id,
                                                     int delaySecs) {
    FakeOutput fake;
    DestConfig dest;
    dest.id = id;
    dest.url = QStringLiteral("rtmp://127.0.0.1/live");
    dest.clave = QStringLiteral("key-") + id;
    dest.envio.retrasoSegs = delaySecs;
    auto d = isRecordingId(id)
                 ? std::make_unique<DestinationOutput>(
                       RecordingSink{id, QStringLiteral("/nonexistent/") + id + ".mkv", {}},
                       runtime.clock, runtime.hostCalls)
                 : std::make_unique<DestinationOutput>(dest, runtime.clock, runtime.hostCalls);
    d->port = fake.makePort();
    if (!d->beginStart(nullptr))
        throw std::logic_error("the fake port refused the first start");
    runtime.outputs.emplace(id, std::move(d));
    return fake.script;
}

std::shared_ptr<FakeOutputScript> FakeRuntime::addLive(const QString& id, int delaySecs) {
    auto script = addStarting(id, delaySecs);
    at(id).onStart();
    return script;
}

DestinationOutput& FakeRuntime::at(const QString& id) {
    const auto found = runtime.outputs.find(id);
    if (found == runtime.outputs.end()) {
        ADD_FAILURE() << "no destination " << id.toStdString() << " in the runtime";
        throw std::out_of_range("destination not in the runtime");
    }
    return *found->second;
}

void FakeRuntime::tickAfter(int64_t ms) {
    clock.advanceMs(ms);
    tick(runtime);
}

void FakeRuntime::runFor(int64_t ms) {
    for (int64_t done = 0; done + kTickMs <= ms; done += kTickMs)
        tickAfter(kTickMs);
}

} // namespace relaycast::test
