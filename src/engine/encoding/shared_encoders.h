#pragma once

// Host encoders shared by key: the first holder opens one, later holders with the same key send
// its packets, and it goes with its last holder. Host outputs take no reference on their
// encoders, so each destination holds its share until its own output is released; the last one
// to let go (on the host call queue, after its output) releases the host encoder. Interface
// thread; the encoders themselves may be let go of on any thread.

#include <obs.h>

#include <QByteArray>
#include <QString>

#include <functional>
#include <map>
#include <memory>

namespace relaycast {

class HostCallQueue;

using SharedEncoder = std::shared_ptr<obs_encoder_t>;

class SharedEncoders {
public:
    // The running encoder of `key` when someone still holds one; otherwise the one `create`
    // makes (null when the host refuses it).
    SharedEncoder acquire(const QString& key, const std::function<obs_encoder_t*()>& create);

    // Every encoder still held, with its key (to change their settings live). The share taken
    // for the visit is let go of on `releases`, in case its last holder let go meanwhile.
    void forEachHeld(HostCallQueue& releases,
                     const std::function<void(const QString& key, obs_encoder_t*)>& visit);

    // A key part for an encoder type and the settings the caller set (the type's defaults,
    // equal for every encoder of the type, are left out by the host), with the keys in a fixed
    // order so the order they were set in does not matter.
    static QString settingsKey(const QByteArray& encoderId, obs_data_t* settings);

private:
    // The holders own the encoders: one nobody holds any more has expired and the next acquire
    // opens a new one. Locked only to hand the encoder to a new holder: a copy taken just to
    // look would release the host encoder on this thread if its last holder let go meanwhile.
    std::map<QString, std::weak_ptr<obs_encoder_t>> opened_;
};

} // namespace relaycast
