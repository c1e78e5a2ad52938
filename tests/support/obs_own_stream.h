#pragma once

// OBS's own stream as OBS makes it at its first start: x264 and AAC on OBS's mixes, an RTMP
// output to `server` with stream key "obs". Not started; a FakeFrontend can hand it out as
// OBS's streaming output.

#include <obs.hpp>

#include <QString>

#include <cstdint>

namespace relaycast::test {

struct ObsOwnStream {
    ObsOwnStream(const QString& server, int32_t kbps);
    ~ObsOwnStream();
    ObsOwnStream(const ObsOwnStream&) = delete;
    ObsOwnStream& operator=(const ObsOwnStream&) = delete;

    OBSEncoderAutoRelease video;
    OBSEncoderAutoRelease audio;
    OBSServiceAutoRelease service;
    OBSOutputAutoRelease output;
};

} // namespace relaycast::test
