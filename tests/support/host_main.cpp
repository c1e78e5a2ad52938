// The main of every *_host_test.cpp: starts the real host headless once per process, runs the
// tests, shuts the host down and fails the run when any host allocation is still alive.

#include "support/test_host.h"

#include <obs-nix-platform.h>
#include <obs.h>
#include <util/bmem.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

// Tests are written against the Spanish texts; a file that needs another locale defines this
// (RELAYCAST_HOST_TEST_LOCALE in test_host.h) and runs as its own process.
extern "C" __attribute__((weak)) const char* relaycastHostTestLocale() {
    return "es-ES";
}

// Host allocations a test file may leave alive because of a known defect of the host itself
// (not of the plug-in); such a file defines this with the exact count and the reason.
extern "C" __attribute__((weak)) long relaycastHostTestToleratedLeaks() {
    return 0;
}

namespace {

constexpr const char* kPluginDir = "/usr/lib/x86_64-linux-gnu/obs-plugins/";
constexpr const char* kPluginDataDir = "/usr/share/obs/obs-plugins/";

// Only what engine tests use. UI plug-ins need the host's main window and abort without it.
constexpr const char* kModules[] = {"obs-x264", "obs-ffmpeg", "obs-outputs", "rtmp-services",
                                    "image-source"};

// libX11 is a dependency of libobs, not of the tests; opening it at run time keeps the test
// link free of it.
class XDisplay {
public:
    bool open() {
        library_ = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!library_)
            return false;
        auto openDisplay =
            reinterpret_cast<void* (*)(const char*)>(dlsym(library_, "XOpenDisplay"));
        closeDisplay_ = reinterpret_cast<int (*)(void*)>(dlsym(library_, "XCloseDisplay"));
        display_ = openDisplay ? openDisplay(nullptr) : nullptr;
        return display_ != nullptr;
    }
    ~XDisplay() {
        if (display_ && closeDisplay_)
            closeDisplay_(display_);
        if (library_)
            dlclose(library_);
    }
    void* display() const { return display_; }

private:
    void* library_ = nullptr;
    void* display_ = nullptr;
    int (*closeDisplay_)(void*) = nullptr;
};

// The host's own plug-ins fetch remote service lists at load. Sending every HTTP(S) request
// through a closed loopback port keeps the tests off the network; loopback stays direct.
void keepHostOffTheNetwork() {
    const char* deadProxy = "http://127.0.0.1:9";
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        setenv(name, deadProxy, 1);
    for (const char* name : {"no_proxy", "NO_PROXY"})
        setenv(name, "127.0.0.1,localhost,::1", 1);
}

bool openModule(const char* name) {
    const std::string binary = std::string(kPluginDir) + name + ".so";
    const std::string data = std::string(kPluginDataDir) + name;
    obs_module_t* module = nullptr;
    const int result = obs_open_module(&module, binary.c_str(), data.c_str());
    if (result != MODULE_SUCCESS) {
        std::fprintf(stderr, "host test: could not open module %s (code %d)\n", name, result);
        return false;
    }
    if (!obs_init_module(module)) {
        std::fprintf(stderr, "host test: module %s failed to initialise\n", name);
        return false;
    }
    return true;
}

bool startHost(const XDisplay& display, const std::filesystem::path& configDir) {
    obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
    obs_set_nix_platform_display(display.display());
    const std::string config = configDir.string() + "/";
    if (!obs_startup(relaycastHostTestLocale(), config.c_str(), nullptr)) {
        std::fprintf(stderr, "host test: obs_startup failed\n");
        return false;
    }

    obs_video_info video = {};
    video.graphics_module = "libobs-opengl";
    video.fps_num = relaycast::test::kHostFps;
    video.fps_den = 1;
    video.base_width = relaycast::test::kCanvasWidth;
    video.base_height = relaycast::test::kCanvasHeight;
    video.output_width = relaycast::test::kCanvasWidth;
    video.output_height = relaycast::test::kCanvasHeight;
    video.output_format = VIDEO_FORMAT_NV12;
    video.adapter = 0;
    video.gpu_conversion = true;
    video.colorspace = VIDEO_CS_709;
    video.range = VIDEO_RANGE_PARTIAL;
    video.scale_type = OBS_SCALE_BICUBIC;
    const int videoResult = obs_reset_video(&video);
    if (videoResult != OBS_VIDEO_SUCCESS) {
        std::fprintf(stderr, "host test: obs_reset_video failed (code %d)\n", videoResult);
        return false;
    }

    obs_audio_info audio = {};
    audio.samples_per_sec = 48000;
    audio.speakers = SPEAKERS_STEREO;
    if (!obs_reset_audio(&audio)) {
        std::fprintf(stderr, "host test: obs_reset_audio failed\n");
        return false;
    }

    for (const char* name : kModules) {
        if (!openModule(name))
            return false;
    }
    obs_post_load_modules();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();

    XDisplay display;
    if (!display.open()) {
        std::fprintf(stderr,
                     "host test: no X display (DISPLAY=%s). Host tests need one; run them "
                     "under xvfb-run -a -s \"-screen 0 1280x1024x24\".\n",
                     std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "<unset>");
        return 1;
    }

    std::error_code error;
    std::string pattern = (std::filesystem::temp_directory_path(error) / "relaycast-host-XXXXXX");
    if (!mkdtemp(pattern.data())) {
        std::fprintf(stderr, "host test: could not create a temporary folder\n");
        return 1;
    }
    const std::filesystem::path configDir = pattern;

    keepHostOffTheNetwork();
    const bool started = startHost(display, configDir);
    const int result = started ? RUN_ALL_TESTS() : 1;

    if (obs_initialized())
        obs_shutdown();
    std::filesystem::remove_all(configDir, error);

    const long leaks = bnum_allocs();
    const bool leaked = leaks > relaycastHostTestToleratedLeaks();
    if (leaked) {
        std::fprintf(stderr,
                     "host test: %ld host allocation(s) still alive after shutdown: a host "
                     "reference leaked.\n",
                     leaks);
    }
    // The host process holds two SRT libraries (obs-ffmpeg's and libavformat's); once a stream
    // used SRT, their static destructors crash at exit. Everything is already shut down.
    std::fflush(nullptr);
    std::_Exit(leaked ? 1 : result);
}
