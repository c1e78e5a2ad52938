#include "engine/encoding/shared_encoders.h"

#include "engine/host/host_call_queue.h"

#include <QJsonDocument>

namespace relaycast {

SharedEncoder SharedEncoders::acquire(const QString& key,
                                      const std::function<obs_encoder_t*()>& create) {
    std::erase_if(opened_, [](const auto& item) { return item.second.expired(); });
    if (const auto found = opened_.find(key); found != opened_.end()) {
        if (SharedEncoder running = found->second.lock())
            return running;
    }
    obs_encoder_t* created = create();
    if (!created)
        return nullptr;
    SharedEncoder encoder(created, obs_encoder_release);
    opened_[key] = encoder;
    return encoder;
}

void SharedEncoders::forEachHeld(
    HostCallQueue& releases, const std::function<void(const QString& key, obs_encoder_t*)>& visit) {
    for (const auto& [key, weak] : opened_) {
        if (SharedEncoder encoder = weak.lock()) {
            visit(key, encoder.get());
            obs_encoder_t* strand = encoder.get();
            releases.post(strand, [share = std::move(encoder)] {});
        }
    }
}

QString SharedEncoders::settingsKey(const QByteArray& encoderId, obs_data_t* settings) {
    const char* json = settings ? obs_data_get_json(settings) : nullptr;
    const QJsonDocument document = QJsonDocument::fromJson(json ? QByteArray(json) : "{}");
    return QString::fromUtf8(encoderId + '\n' + document.toJson(QJsonDocument::Compact));
}

} // namespace relaycast
