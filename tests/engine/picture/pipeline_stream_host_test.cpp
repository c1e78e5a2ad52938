// What a viewer receives from a pipeline: a 4:3 picture sent in a 16:9 frame through the
// pipeline's own encoder to a local RTMP server, decoded back.

#include "engine/picture/entry_pipeline.h"
#include "support/local_servers.h"
#include "support/test_host.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

// The least a destination adds on top of a pipeline: a service, an RTMP output and an AAC
// encoder on the entry's own audio.
class RtmpPublisher {
public:
    RtmpPublisher(EntryPipeline& pipeline, const QString& server, const QString& key) {
        OBSDataAutoRelease serviceSettings = obs_data_create();
        obs_data_set_string(serviceSettings, "server", server.toUtf8().constData());
        obs_data_set_string(serviceSettings, "key", key.toUtf8().constData());
        service_ =
            obs_service_create("rtmp_custom", "pipeline-test-service", serviceSettings, nullptr);
        OBSDataAutoRelease audioSettings = obs_data_create();
        obs_data_set_int(audioSettings, "bitrate", 128);
        audio_ =
            obs_audio_encoder_create("ffmpeg_aac", "pipeline-test-aac", audioSettings, 0, nullptr);
        obs_encoder_set_audio(audio_, pipeline.audioTrack.audioOutput());
        output_ = obs_output_create("rtmp_output", "pipeline-test-rtmp", nullptr, nullptr);
        obs_output_set_video_encoder(output_, pipeline.videoEncoder);
        obs_output_set_audio_encoder(output_, audio_, 0);
        obs_output_set_service(output_, service_);
    }
    ~RtmpPublisher() {
        obs_output_stop(output_);
        waitFor([&] { return !obs_output_active(output_); }, 10s);
        output_ = nullptr;
        audio_ = nullptr;
        service_ = nullptr;
    }
    RtmpPublisher(const RtmpPublisher&) = delete;
    RtmpPublisher& operator=(const RtmpPublisher&) = delete;

    bool start() { return obs_output_start(output_); }
    bool active() const { return obs_output_active(output_); }

private:
    OBSServiceAutoRelease service_;
    OBSEncoderAutoRelease audio_;
    OBSOutputAutoRelease output_;
};

bool dark(const Rgb& colour) {
    return colour.r < 32 && colour.g < 32 && colour.b < 32;
}

} // namespace

TEST(PipelineStream, ViewersSeeBarsBesideAFittedPictureAndAFilledOneCoveringTheFrame) {
    RtmpServer server;
    QString error;
    ASSERT_TRUE(server.start(&error)) << error.toStdString();
    OBSSourceAutoRelease picture = createBandedFourByThreeSource("stream-rayas");
    ASSERT_TRUE(picture);

    EntryConfig fitEntry;
    fitEntry.fuente = QStringLiteral("stream-rayas");
    fitEntry.ancho = 640;
    fitEntry.alto = 360;
    fitEntry.videoKbps = 2500;
    EntryConfig fillEntry = fitEntry;
    fillEntry.llenar = true;
    EntryPipeline fit;
    EntryPipeline fill;
    ASSERT_TRUE(openPipeline(fit, fitEntry, &error)) << error.toStdString();
    ASSERT_TRUE(openPipeline(fill, fillEntry, &error)) << error.toStdString();

    std::optional<RgbFrame> fitted;
    std::optional<RgbFrame> filled;
    {
        RtmpPublisher fitPublisher(fit, server.url(), "ajustar");
        RtmpPublisher fillPublisher(fill, server.url(), "llenar");
        ASSERT_TRUE(fitPublisher.start());
        ASSERT_TRUE(fillPublisher.start());
        ASSERT_TRUE(waitFor([&] { return fitPublisher.active() && fillPublisher.active(); }));
        fitted = decodeStreamFrame(server.playUrl("ajustar"), 3, 20s, &error);
        ASSERT_TRUE(fitted) << error.toStdString();
        filled = decodeStreamFrame(server.playUrl("llenar"), 3, 20s, &error);
        ASSERT_TRUE(filled) << error.toStdString();
    }

    ASSERT_EQ(fitted->width, 640);
    ASSERT_EQ(fitted->height, 360);
    ASSERT_EQ(filled->width, 640);
    ASSERT_EQ(filled->height, 360);
    const Rgb red = rgbOf(kOpaqueRed);
    const Rgb green = rgbOf(kOpaqueGreen);
    const Rgb blue = rgbOf(kOpaqueBlue);
    constexpr int tolerance = 10;

    // Fitted: 480x360 in the middle, 80-pixel bars, both bands whole.
    for (const int y : {4, 180, 355}) {
        EXPECT_TRUE(dark(fitted->at(30, y))) << "left bar, row " << y << " " << fitted->at(30, y);
        EXPECT_TRUE(dark(fitted->at(610, y)))
            << "right bar, row " << y << " " << fitted->at(610, y);
    }
    EXPECT_TRUE(closeTo(fitted->at(320, 12), red, tolerance)) << fitted->at(320, 12);
    EXPECT_TRUE(closeTo(fitted->at(320, 180), green, tolerance)) << fitted->at(320, 180);
    EXPECT_TRUE(closeTo(fitted->at(320, 348), blue, tolerance)) << fitted->at(320, 348);

    // Filled: the frame is covered and the bands fell outside it.
    for (const int x : {2, 320, 637}) {
        for (const int y : {2, 180, 357}) {
            EXPECT_TRUE(closeTo(filled->at(x, y), green, tolerance))
                << "column " << x << ", row " << y << " " << filled->at(x, y);
        }
    }
}
