#include "engine/audio/shared_audio_encoder.h"

#include <QJsonDocument>

namespace relaycast {
namespace {

// The type and the settings the caller set (the type's defaults, equal for every encoder of the
// type, are left out by the host), with the keys in a fixed order so the order they were set in
// does not matter.
QString sharingKey(const QByteArray& encoderId, obs_data_t* settings) {
    const char* json = settings ? obs_data_get_json(settings) : nullptr;
    const QJsonDocument document = QJsonDocument::fromJson(json ? QByteArray(json) : "{}");
    return QString::fromUtf8(encoderId + '\n' + document.toJson(QJsonDocument::Compact));
}

} // namespace

SharedAudioEncoder SharedAudioEncoders::acquire(const QString& encoderId, obs_data_t* settings,
                                                audio_t* audio) {
    std::erase_if(opened_, [](const auto& item) { return item.second.expired(); });
    const QByteArray id = encoderId.toUtf8();
    const QString key = sharingKey(id, settings);
    if (const auto found = opened_.find(key); found != opened_.end()) {
        if (SharedAudioEncoder running = found->second.lock())
            return running;
    }

    obs_encoder_t* created =
        obs_audio_encoder_create(id.constData(), "relaycast-audio", settings, 0, nullptr);
    if (!created)
        return nullptr;
    SharedAudioEncoder encoder(created, obs_encoder_release);
    obs_encoder_set_audio(created, audio);
    opened_[key] = encoder;
    return encoder;
}

} // namespace relaycast
