#pragma once

// Encoder types registered in a test process through the host's own registration call, for
// hardware encoders this machine does not have. They encode nothing. Encoder types cannot be
// unregistered: a test file that registers some runs in a process of its own.

#include <obs.h>

#include <cstdint>

namespace relaycast::test {

struct FakeEncoderType {
    const char* id = nullptr;
    obs_encoder_type type = OBS_ENCODER_VIDEO;
    const char* codec = "h264";
    const char* displayName = nullptr; // null: the host gives no display name
    uint32_t caps = 0;
    obs_properties_t* (*getProperties)(void* data) = nullptr;
    void (*getDefaults)(obs_data_t* settings) = nullptr;
};

void registerFakeEncoderType(const FakeEncoderType& fake);

// True when the host already offers a hardware H.264 video encoder of its own (a machine with
// a graphics card), so an exact list of offered encoders cannot be predicted.
bool hostHasOwnHardwareH264();

} // namespace relaycast::test
