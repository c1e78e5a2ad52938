#include "engine/audio/shared_audio_encoder.h"

namespace relaycast {

SharedAudioEncoder SharedAudioEncoders::acquire(const QString& encoderId, obs_data_t* settings,
                                                audio_t* audio, size_t mixer) {
    const QByteArray id = encoderId.toUtf8();
    // The same settings on another audio (an OBS track instead of the entry's own) differ.
    const QString key =
        QStringLiteral("%1 %2\n").arg(reinterpret_cast<quintptr>(audio)).arg(mixer) +
        SharedEncoders::settingsKey(id, settings);
    return opened_.acquire(key, [&]() -> obs_encoder_t* {
        obs_encoder_t* created =
            obs_audio_encoder_create(id.constData(), "relaycast-audio", settings, mixer, nullptr);
        if (created)
            obs_encoder_set_audio(created, audio);
        return created;
    });
}

} // namespace relaycast
