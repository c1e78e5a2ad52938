// Video encoder settings built from an entry's choices, and the host audio encoder a saved
// codec name stands for, against the host's real encoder types.

#include "engine/encoding/encoder_settings.h"
#include "support/test_host.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace relaycast;
using namespace relaycast::test;

namespace {

constexpr const char* kHardwareId = "fake_nvenc_h264";
constexpr const char* kCapitalsId = "fake_NVENC_h264";

// Stand-ins for hardware encoder types, which this machine does not have: only their
// defaults matter here.
void registerHardwareLikeEncoders() {
    static std::once_flag registered;
    std::call_once(registered, [] {
        for (const char* id : {kHardwareId, kCapitalsId}) {
            obs_encoder_info info = {};
            info.id = id;
            info.type = OBS_ENCODER_VIDEO;
            info.codec = "h264";
            info.get_name = [](void*) { return "Fake hardware H.264"; };
            info.create = [](obs_data_t*, obs_encoder_t*) -> void* { return nullptr; };
            info.destroy = [](void*) {};
            info.encode = [](void*, encoder_frame*, encoder_packet*, bool*) { return false; };
            info.get_defaults = [](obs_data_t* settings) {
                obs_data_set_default_int(settings, "bf", 2);
                obs_data_set_default_bool(settings, "lookahead", true);
                obs_data_set_default_string(settings, "preset", "p5");
                obs_data_set_default_int(settings, "bitrate", 2500);
            };
            obs_register_encoder(&info);
        }
    });
}

// Whether the settings hold the key at all (as a user value or as a default).
bool holds(obs_data_t* settings, const char* key) {
    return obs_data_has_user_value(settings, key) || obs_data_has_default_value(settings, key);
}

int userValueCount(obs_data_t* settings) {
    int count = 0;
    for (obs_data_item_t* item = obs_data_first(settings); item; obs_data_item_next(&item)) {
        if (obs_data_item_has_user_value(item))
            ++count;
    }
    return count;
}

class VideoEncoderSettings : public testing::Test {
protected:
    static void SetUpTestSuite() { registerHardwareLikeEncoders(); }
};

} // namespace

TEST_F(VideoEncoderSettings, X264WithoutAdvancedTextGetsKeyframesEveryTwoSecondsAndNoBFrames) {
    OBSDataAutoRelease settings = buildVideoEncoderSettings("obs_x264", 3000, "");
    EXPECT_EQ(obs_data_get_int(settings, "keyint_sec"), 2);
    EXPECT_STREQ(obs_data_get_string(settings, "x264opts"), "bframes=0");
    EXPECT_EQ(obs_data_get_int(settings, "bitrate"), 3000);
    EXPECT_FALSE(holds(settings, "bf"));
    EXPECT_FALSE(holds(settings, "lookahead"));
    // Everything else is the encoder's own default.
    EXPECT_FALSE(obs_data_has_user_value(settings, "preset"));
    EXPECT_TRUE(obs_data_has_default_value(settings, "preset"));
}

TEST_F(VideoEncoderSettings, HardwareIdWithNvencGetsNoBFramesAndNoLookahead) {
    OBSDataAutoRelease settings = buildVideoEncoderSettings(kHardwareId, 6000, "");
    EXPECT_EQ(obs_data_get_int(settings, "keyint_sec"), 2);
    EXPECT_TRUE(obs_data_has_user_value(settings, "bf"));
    EXPECT_EQ(obs_data_get_int(settings, "bf"), 0);
    EXPECT_TRUE(obs_data_has_user_value(settings, "lookahead"));
    EXPECT_FALSE(obs_data_get_bool(settings, "lookahead"));
    EXPECT_EQ(obs_data_get_int(settings, "bitrate"), 6000);
    EXPECT_STREQ(obs_data_get_string(settings, "preset"), "p5");
    EXPECT_FALSE(holds(settings, "x264opts"));
}

TEST_F(VideoEncoderSettings, NvencInCapitalsIsNotRecognisedAndKeepsItsDefaults) {
    OBSDataAutoRelease settings = buildVideoEncoderSettings(kCapitalsId, 6000, "");
    EXPECT_EQ(obs_data_get_int(settings, "keyint_sec"), 2);
    EXPECT_EQ(obs_data_get_int(settings, "bitrate"), 6000);
    EXPECT_EQ(userValueCount(settings), 2);
    EXPECT_EQ(obs_data_get_int(settings, "bf"), 2);
    EXPECT_TRUE(obs_data_get_bool(settings, "lookahead"));
}

TEST_F(VideoEncoderSettings, UnknownEncoderStartsFromEmptySettings) {
    OBSDataAutoRelease settings = buildVideoEncoderSettings("no_such_encoder", 1500, "");
    ASSERT_NE(settings.Get(), nullptr);
    EXPECT_EQ(userValueCount(settings), 2);
    EXPECT_EQ(obs_data_get_int(settings, "keyint_sec"), 2);
    EXPECT_EQ(obs_data_get_int(settings, "bitrate"), 1500);
}

TEST_F(VideoEncoderSettings, AdvancedTextReplacesTheModuleDefaultsButNeverTheBitrate) {
    OBSDataAutoRelease settings = buildVideoEncoderSettings(
        "obs_x264", 3000, R"({"bitrate": 9000, "keyint_sec": 4, "profile": "main"})");
    EXPECT_EQ(obs_data_get_int(settings, "keyint_sec"), 4);
    EXPECT_EQ(obs_data_get_int(settings, "bitrate"), 3000);
    EXPECT_STREQ(obs_data_get_string(settings, "profile"), "main");
    EXPECT_FALSE(obs_data_has_user_value(settings, "x264opts"));

    OBSDataAutoRelease hardware =
        buildVideoEncoderSettings(kHardwareId, 3000, R"({"preset": "p7"})");
    EXPECT_STREQ(obs_data_get_string(hardware, "preset"), "p7");
    EXPECT_FALSE(obs_data_has_user_value(hardware, "bf"));
    EXPECT_FALSE(obs_data_has_user_value(hardware, "keyint_sec"));
}

TEST_F(VideoEncoderSettings, AdvancedTextOfOnlySpacesCountsAsEmpty) {
    OBSDataAutoRelease settings = buildVideoEncoderSettings("obs_x264", 2500, "  \t\n  ");
    EXPECT_EQ(obs_data_get_int(settings, "keyint_sec"), 2);
    EXPECT_STREQ(obs_data_get_string(settings, "x264opts"), "bframes=0");
    EXPECT_EQ(obs_data_get_int(settings, "bitrate"), 2500);
}

TEST_F(VideoEncoderSettings, InvalidAdvancedTextKeepsTheEncoderDefaultsWithoutTheModuleOnes) {
    OBSDataAutoRelease settings =
        buildVideoEncoderSettings("obs_x264", 2500, R"({"keyint_sec": 4, "profile": )");
    EXPECT_FALSE(obs_data_has_user_value(settings, "keyint_sec"));
    EXPECT_FALSE(obs_data_has_user_value(settings, "x264opts"));
    EXPECT_FALSE(obs_data_has_user_value(settings, "profile"));
    EXPECT_EQ(obs_data_get_int(settings, "bitrate"), 2500);
    EXPECT_EQ(userValueCount(settings), 1);
}

TEST(AudioEncoderId, CodecNamesResolveToTheHostsAudioEncoders) {
    EXPECT_EQ(resolveAudioEncoderId(" AAC "), "ffmpeg_aac");
    EXPECT_EQ(resolveAudioEncoderId("aac"), "ffmpeg_aac");
    EXPECT_EQ(resolveAudioEncoderId("Opus"), "ffmpeg_opus");
    EXPECT_EQ(resolveAudioEncoderId(""), "ffmpeg_aac");
    EXPECT_EQ(resolveAudioEncoderId("   "), "ffmpeg_aac");
    EXPECT_EQ(resolveAudioEncoderId("ffmpeg_opus"), "ffmpeg_opus");
    EXPECT_EQ(resolveAudioEncoderId(" ffmpeg_aac\t"), "ffmpeg_aac");
}

TEST(AudioEncoderId, VideoEncodersAndUnknownNamesResolveToNothing) {
    EXPECT_EQ(resolveAudioEncoderId("obs_x264"), QString());
    EXPECT_EQ(resolveAudioEncoderId("mp3"), QString());
    // Ids are matched exactly: only the short names are case-insensitive.
    EXPECT_EQ(resolveAudioEncoderId("FFMPEG_AAC"), QString());
}
