// The host every engine test runs on: the plug-in types the engine needs are registered, the
// interface speaks Spanish, and a colour put on the canvas comes back through the host's video.

#include "module/ui_text.h"
#include "support/test_host.h"

#include <gtest/gtest.h>

#include <string>

using namespace relaycast;
using namespace relaycast::test;

namespace {

bool hasEncoderType(const char* wanted) {
    const char* id = nullptr;
    for (size_t i = 0; obs_enum_encoder_types(i, &id); ++i) {
        if (std::string(id) == wanted)
            return true;
    }
    return false;
}

bool hasOutputType(const char* wanted) {
    const char* id = nullptr;
    for (size_t i = 0; obs_enum_output_types(i, &id); ++i) {
        if (std::string(id) == wanted)
            return true;
    }
    return false;
}

} // namespace

TEST(HostFixture, RegistersThePlugInTypesTheEngineUses) {
    for (const char* encoder : {"obs_x264", "ffmpeg_aac", "ffmpeg_opus"})
        EXPECT_TRUE(hasEncoderType(encoder)) << encoder;
    for (const char* output : {"rtmp_output", "ffmpeg_mpegts_muxer"})
        EXPECT_TRUE(hasOutputType(output)) << output;
    OBSDataAutoRelease serviceDefaults = obs_service_defaults("rtmp_custom");
    EXPECT_NE(serviceDefaults.Get(), nullptr);
    EXPECT_NE(createColorSource("fixture-colour", kOpaqueRed, 16, 16).Get(), nullptr);
}

TEST(HostFixture, StartsWithTheSpanishInterface) {
    EXPECT_STREQ(obs_get_locale(), "es-ES");
    EXPECT_TRUE(isSpanishInterface());
    EXPECT_EQ(uiText("La entrada no está emitiendo."),
              QString::fromUtf8("La entrada no está emitiendo."));
}

TEST(HostFixture, CanvasColourComesBackThroughTheHostVideo) {
    OBSSceneAutoRelease scene = createScene("fixture-scene");
    OBSSourceAutoRelease colour =
        createColorSource("fixture-green", kOpaqueGreen, kCanvasWidth, kCanvasHeight);
    ASSERT_NE(addToScene(scene, colour), nullptr);
    obs_set_output_source(0, obs_scene_get_source(scene));

    const std::optional<RgbFrame> frame = grabVideoFrame(obs_get_video());
    obs_set_output_source(0, nullptr);

    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->width, static_cast<int>(kCanvasWidth));
    EXPECT_EQ(frame->height, static_cast<int>(kCanvasHeight));
    EXPECT_TRUE(closeTo(frame->at(640, 360), rgbOf(kOpaqueGreen), 3)) << frame->at(640, 360);
    EXPECT_TRUE(closeTo(frame->at(2, 2), rgbOf(kOpaqueGreen), 3)) << frame->at(2, 2);

    EXPECT_TRUE(removeSource(colour));
    EXPECT_EQ(findSource("fixture-green").Get(), nullptr);
}
