#include "support/obs_own_stream.h"

namespace relaycast::test {

ObsOwnStream::ObsOwnStream(const QString& server, int32_t kbps) {
    OBSDataAutoRelease videoSettings = obs_data_create();
    obs_data_set_int(videoSettings, "bitrate", kbps);
    video = obs_video_encoder_create("obs_x264", "obs-own-video", videoSettings, nullptr);
    obs_encoder_set_video(video, obs_get_video());
    audio = obs_audio_encoder_create("ffmpeg_aac", "obs-own-audio", nullptr, 0, nullptr);
    obs_encoder_set_audio(audio, obs_get_audio());
    OBSDataAutoRelease serviceSettings = obs_data_create();
    obs_data_set_string(serviceSettings, "server", server.toUtf8().constData());
    obs_data_set_string(serviceSettings, "key", "obs");
    service = obs_service_create("rtmp_custom", "obs-own-service", serviceSettings, nullptr);
    output = obs_output_create("rtmp_output", "obs-own-stream", nullptr, nullptr);
    obs_output_set_video_encoder(output, video);
    obs_output_set_audio_encoder(output, audio, 0);
    obs_output_set_service(output, service);
}

ObsOwnStream::~ObsOwnStream() {
    if (obs_output_active(output))
        obs_output_force_stop(output);
}

} // namespace relaycast::test
