#pragma once

#include <functional>
#include <string>

namespace relaycast::test {

// The real host, started headless for a test or benchmark process (X display, 1280x720 canvas
// at 30 fps, 48 kHz stereo by default, the engine's plug-ins only) and shut down when this goes
// away. Needs an X display: run under xvfb-run.
class HeadlessHost {
public:
    HeadlessHost() = default;
    ~HeadlessHost();
    HeadlessHost(const HeadlessHost&) = delete;
    HeadlessHost& operator=(const HeadlessHost&) = delete;

    // False with the reason when the host could not be started. `speakers` is a host
    // speaker_layout (SPEAKERS_STEREO unless a test needs the host to mix more channels).
    bool start(std::string* error, const char* locale = "es-ES", int speakers = 2);
    // Shuts the host down; returns the host allocations still alive (0 when nothing leaked).
    long shutdown();
    // The host's module configuration folder (a fresh temporary folder), with a final "/".
    std::string moduleConfigDir() const { return configDir_ + "/"; }

private:
    void* xlib_ = nullptr;
    void* display_ = nullptr;
    std::string configDir_;
};

// What the host's main window does when it clears a scene collection: output channels emptied,
// every public scene and source removed, their destruction awaited. From OBS 31 the host keeps
// a public scene until it is removed, so without this a test's scenes would outlive it.
void removeSceneData();
// Runs removeSceneData after every test of the process, once the test's fixture is gone, so
// each test starts with a host holding none of the scenes of the tests before it.
void removeSceneDataAfterEachTest();

// Starts the host, runs `body`, shuts the host down: the exit code of `body`, or 1 when the
// host did not start or a host allocation leaked (both reported on stderr).
int runOnHeadlessHost(const std::function<int()>& body);

} // namespace relaycast::test
