#pragma once

// Helpers for tests that run on the real host (files named *_host_test.cpp, whose main starts
// libobs headless once per process: 1280x720 canvas, 30 fps, NV12, 48 kHz stereo, locale
// "es-ES", modules obs-x264, obs-ffmpeg, obs-outputs, rtmp-services and image-source).

#include <media-io/video-io.h>
#include <obs.hpp>

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>

// A host test file that needs another host locale defines it with this macro at file scope,
// e.g. RELAYCAST_HOST_TEST_LOCALE("en-US"). The interface language is decided once per
// process, so such a file must not rely on Spanish texts anywhere.
#define RELAYCAST_HOST_TEST_LOCALE(locale)                                                         \
    extern "C" const char* relaycastHostTestLocale() {                                             \
        return locale;                                                                             \
    }

// A host test file whose tests change what the process sees of /etc (own_mounts.h): the process
// enters a mount namespace of its own before the host starts.
#define RELAYCAST_HOST_TEST_OWN_MOUNTS()                                                           \
    extern "C" bool relaycastHostTestOwnMounts() {                                                 \
        return true;                                                                               \
    }

// A host test file whose host must mix more than two channels, e.g.
// RELAYCAST_HOST_TEST_SPEAKERS(SPEAKERS_5POINT1).
#define RELAYCAST_HOST_TEST_SPEAKERS(layout)                                                       \
    extern "C" int relaycastHostTestSpeakers() {                                                   \
        return layout;                                                                             \
    }

// obs-outputs 29 leaks the video packet it was sending when it finds the RTMP server gone (its
// send_packet returns early when reading the server fails, without releasing the packet); up to
// two allocations per dropped connection were seen. A test file that drops RTMP connections
// `drops` times tolerates that many, and only that: nothing of the plug-in may stay alive.
#define RELAYCAST_TOLERATE_HOST_LEAKS_OF_DROPPED_CONNECTIONS(drops)                                \
    extern "C" long relaycastHostTestToleratedLeaks() {                                            \
        return 2 * (drops);                                                                        \
    }

// libobs 30 and later pairs an output's audio and video encoders in two arrays that only the
// encoders' shutdown frees, not their destruction. An output that finishes connecting after a
// sibling's stop has shut the shared encoders down pairs them anew, and those two allocations stay
// until the host exits. A test file that stops an input while some of its destinations are still
// connecting, `stops` times, tolerates that many pairs on those lines, and only that.
#if LIBOBS_API_MAJOR_VER >= 30
#define RELAYCAST_TOLERATE_HOST_LEAKS_OF_STOPS_WHILE_CONNECTING(stops)                             \
    extern "C" long relaycastHostTestToleratedLeaks() {                                            \
        return 2 * (stops);                                                                        \
    }
#else
#define RELAYCAST_TOLERATE_HOST_LEAKS_OF_STOPS_WHILE_CONNECTING(stops)
#endif

namespace relaycast::test {

inline constexpr uint32_t kCanvasWidth = 1280;
inline constexpr uint32_t kCanvasHeight = 720;
inline constexpr uint32_t kHostFps = 30;

// Colours as the host's colour sources take them: 0xAABBGGRR.
inline constexpr uint32_t kOpaqueRed = 0xFF0000FF;
inline constexpr uint32_t kOpaqueGreen = 0xFF00FF00;
inline constexpr uint32_t kOpaqueBlue = 0xFFFF0000;
inline constexpr uint32_t kOpaqueWhite = 0xFFFFFFFF;

// A public scene of the host (listed by name, like one the user made).
OBSSceneAutoRelease createScene(const char* name);

// A colour source ("color_source_v3") of the given colour and size.
OBSSourceAutoRelease createColorSource(const char* name, uint32_t abgr, uint32_t width,
                                       uint32_t height);

// A 640x480 colour source: a 4:3 picture for framing checks.
OBSSourceAutoRelease createFourByThreeSource(const char* name, uint32_t abgr);

// A 640x480 picture ("image_source") with a red band 40 rows high at the top, a blue one at the
// bottom and green between, so framing checks can see which part of it reaches a frame. Its
// file lives until the process exits.
OBSSourceAutoRelease createBandedFourByThreeSource(const char* name);
inline constexpr int kBandRows = 40;

// Adds `source` to `scene`; the item belongs to the scene (not referenced for the caller).
obs_sceneitem_t* addToScene(obs_scene_t* scene, obs_source_t* source);

// Deletes a source as the host's interface does (marks it removed, takes its items out of every
// public scene) and drops the caller's reference. True once its name no longer resolves; false
// after `timeout` while something else (a private scene, say) still holds it.
bool removeSource(OBSSourceAutoRelease& source,
                  std::chrono::milliseconds timeout = std::chrono::seconds(2));

// The host source of that name, or empty.
OBSSourceAutoRelease findSource(const char* name);

// Polls `condition` every few milliseconds until it is true or `timeout` passes; returns its
// last value. Nothing is pumped: the host runs its own threads.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};
std::ostream& operator<<(std::ostream& out, const Rgb& colour);

// The colour of a 0xAABBGGRR value, alpha ignored.
Rgb rgbOf(uint32_t abgr);

// True when every channel differs by at most `tolerance` (video round trips are not exact).
bool closeTo(const Rgb& actual, const Rgb& expected, int tolerance = 6);

// A decoded picture, 3 bytes per pixel, rows top to bottom.
struct RgbFrame {
    int width = 0;
    int height = 0;
    QByteArray pixels;
    Rgb at(int x, int y) const;
};

// Decodes one video frame of `input` (a file or a live stream address on loopback) with the
// ffmpeg program, after skipping `skipFrames` frames. Empty on failure or time-out; the reason
// goes to `error` when given.
std::optional<RgbFrame>
decodeStreamFrame(const QString& input, int skipFrames = 0,
                  std::chrono::milliseconds timeout = std::chrono::seconds(20),
                  QString* error = nullptr);

// Takes one frame of a host raw video output, converted by the host to RGB, after letting
// `skipFrames` frames pass (the first frames of a new view may predate its content).
std::optional<RgbFrame> grabVideoFrame(video_t* video, int skipFrames = 3,
                                       std::chrono::milliseconds timeout = std::chrono::seconds(5));

} // namespace relaycast::test
