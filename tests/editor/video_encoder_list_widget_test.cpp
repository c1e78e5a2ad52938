// The encoder choice on a host that has hardware H.264 encoders. There is no graphics card
// here, so hardware encoder types are registered through the host's own registration call;
// encoder types cannot be unregistered, hence a process of their own.

#include "editor/entry_dialog.h"
#include "editor/input_widgets.h"
#include "editor/video_encoder_list.h"

#include "support/fake_encoder_types.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace relaycast {
namespace {

class VideoEncoderListTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        hostOwnHardware = test::hostHasOwnHardwareH264();
        if (hostOwnHardware)
            return;
        // Registration order is the host order the list must keep.
        test::registerFakeEncoderType({.id = "rc_test_hw_first", .displayName = "Tarjeta Uno"});
        test::registerFakeEncoderType({.id = "rc_test_hw_deprecated",
                                       .displayName = "Vieja",
                                       .caps = OBS_ENCODER_CAP_DEPRECATED});
        test::registerFakeEncoderType({.id = "rc_test_hw_internal",
                                       .displayName = "Interna",
                                       .caps = OBS_ENCODER_CAP_INTERNAL});
        test::registerFakeEncoderType(
            {.id = "rc_test_hw_hevc", .codec = "hevc", .displayName = "Tarjeta HEVC"});
        test::registerFakeEncoderType(
            {.id = "rc_test_hw_av1", .codec = "av1", .displayName = "Tarjeta AV1"});
        test::registerFakeEncoderType(
            {.id = "rc_test_hw_capital_codec", .codec = "H264", .displayName = "Mayúsculas"});
        test::registerFakeEncoderType(
            {.id = "rc_test_audio_h264", .type = OBS_ENCODER_AUDIO, .displayName = "Audio raro"});
        test::registerFakeEncoderType({.id = "rc_test_hw_second",
                                       .displayName = "Tarjeta Dos",
                                       .caps = OBS_ENCODER_CAP_DYN_BITRATE});
        test::registerFakeEncoderType({.id = "rc_test_hw_unnamed"});
    }

    void SetUp() override {
        if (hostOwnHardware)
            GTEST_SKIP() << "this host has a hardware H.264 encoder of its own";
    }

    static inline bool hostOwnHardware = false;
};

TEST_F(VideoEncoderListTest, OffersUsableHardwareEncodersInHostOrderThenTheCpuEncoder) {
    QStringList ids;
    QStringList labels;
    for (const VideoEncoderChoice& choice : listVideoEncoders()) {
        ids << choice.id;
        labels << choice.label;
    }
    EXPECT_EQ(ids, (QStringList{"rc_test_hw_first", "rc_test_hw_second", "rc_test_hw_unnamed",
                                "obs_x264"}));
    EXPECT_EQ(labels, (QStringList{"Tarjeta Uno · tarjeta gráfica · recomendado",
                                   "Tarjeta Dos · tarjeta gráfica",
                                   "rc_test_hw_unnamed · tarjeta gráfica", "CPU (x264)"}));
}

TEST_F(VideoEncoderListTest, NewEntryDialogStartsWithTheRecommendedHardwareEncoder) {
    EntryDialog dialog(nullptr, EntryConfig{}, false, false, {});
    const NoWheelComboBox* combo = dialog.encoderCombo();
    ASSERT_EQ(combo->count(), 4);
    EXPECT_EQ(combo->itemText(0), QString("Tarjeta Uno · tarjeta gráfica · recomendado"));
    EXPECT_EQ(combo->itemData(3).toString(), QString("obs_x264"));
    EXPECT_EQ(combo->currentData().toString(), QString("rc_test_hw_first"));
}

} // namespace
} // namespace relaycast
