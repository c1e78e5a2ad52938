#pragma once

// An audible host source for tests on a machine without a microphone.

#include <obs.hpp>

#include <string>

namespace relaycast::test {

// A host media source ("ffmpeg_source") looping a sine tone (mono WAV, 48 kHz, peak
// `amplitude` of full scale) from a file written once per process. It plays from its creation
// whether or not it is shown anywhere.
OBSSourceAutoRelease createToneSource(const char* name, int frequencyHz = 440,
                                      double amplitude = 0.5);

// The WAV file behind such a source (written on first use, removed at process exit).
std::string toneWavPath(int frequencyHz = 440, double amplitude = 0.5);

} // namespace relaycast::test
