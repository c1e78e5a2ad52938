#pragma once

// Host sources that sound and move, for tests on a machine without a microphone or camera.

#include <obs.hpp>

#include <string>

namespace relaycast::test {

// A host media source ("ffmpeg_source") looping a sine tone (48 kHz WAV, peak `amplitude` of
// full scale) from a file written once per process. It plays from its creation whether or not
// it is shown anywhere. Mono by default; with `channels` > 1 the tone is only on channel
// `toneChannel` (in WAV order: for 6 channels L, R, centre, LFE, rear L, rear R) and the others
// are silent.
OBSSourceAutoRelease createToneSource(const char* name, int frequencyHz = 440,
                                      double amplitude = 0.5, int channels = 1,
                                      int toneChannel = 0);

// The WAV file behind such a source (written on first use, removed at process exit).
std::string toneWavPath(int frequencyHz = 440, double amplitude = 0.5, int channels = 1,
                        int toneChannel = 0);

// A host media source looping a small clip of moving test bars (320x180, 30 fps, with a tone),
// made once per process with ffmpeg: real encoding work wherever it is stretched to. Null
// when ffmpeg could not make it.
OBSSourceAutoRelease createMovingSource(const char* name);

// A scene `name` with such a source stretched over the whole canvas; empty when there is none.
struct MovingScene {
    OBSSceneAutoRelease scene;
    OBSSourceAutoRelease source;
};
MovingScene createMovingScene(const char* name);

} // namespace relaycast::test
