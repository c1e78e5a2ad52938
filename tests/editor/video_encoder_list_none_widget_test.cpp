// The encoder choice on a host without hardware H.264 encoders (no graphics card here).

#include "editor/entry_dialog.h"
#include "editor/input_widgets.h"
#include "editor/video_encoder_list.h"
#include "support/fake_encoder_types.h"

#include <QString>

#include <gtest/gtest.h>

namespace relaycast {
namespace {

TEST(VideoEncoderListNoHardwareTest, OnlyTheCpuEncoderMarkedRecommended) {
    if (test::hostHasOwnHardwareH264())
        GTEST_SKIP() << "this host has a hardware H.264 encoder of its own";
    const QList<VideoEncoderChoice> choices = listVideoEncoders();
    ASSERT_EQ(choices.size(), 1);
    EXPECT_EQ(choices[0].id, QString("obs_x264"));
    EXPECT_EQ(choices[0].label, QString("CPU (x264) · recomendado"));

    EntryDialog dialog(nullptr, EntryConfig{}, false, false, {});
    ASSERT_EQ(dialog.encoderCombo()->count(), 1);
    EXPECT_EQ(dialog.encoderCombo()->currentText(), QString("CPU (x264) · recomendado"));
    EXPECT_EQ(dialog.encoderCombo()->currentData().toString(), QString("obs_x264"));
}

} // namespace
} // namespace relaycast
