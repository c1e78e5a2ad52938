#include "headless_host.h"

#include "test_host.h"

#include "engine/host/host_call_queue.h"
#include "module/ui_text.h"

#include <obs-nix-platform.h>
#include <obs.hpp>
#include <util/bmem.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <thread>
#include <vector>

namespace relaycast::test {
namespace {

const char* const kPluginDir = "/usr/lib/x86_64-linux-gnu/obs-plugins/";
const char* const kPluginDataDir = "/usr/share/obs/obs-plugins/";
const char* const kModules[] = {"obs-x264", "obs-ffmpeg", "obs-outputs", "rtmp-services",
                                "image-source"};

bool openModule(const char* name, std::string* error) {
    const std::string binary = std::string(kPluginDir) + name + ".so";
    const std::string data = std::string(kPluginDataDir) + name;
    obs_module_t* module = nullptr;
    if (obs_open_module(&module, binary.c_str(), data.c_str()) != MODULE_SUCCESS ||
        !obs_init_module(module)) {
        *error = std::string("could not load module ") + name;
        return false;
    }
    return true;
}

// True while any source of the host, public or private, still exists.
bool anySourceAlive() {
    bool any = false;
    obs_enum_all_sources(
        [](void* param, obs_source_t*) {
            *static_cast<bool*>(param) = true;
            return false;
        },
        &any);
    return any;
}

} // namespace

void removeSceneData() {
    for (uint32_t channel = 0; channel < MAX_CHANNELS; ++channel)
        obs_set_output_source(channel, nullptr);
    std::vector<OBSSource> left;
    const auto collect = [](void* param, obs_source_t* source) {
        static_cast<std::vector<OBSSource>*>(param)->emplace_back(source);
        return true;
    };
    obs_enum_scenes(collect, &left);
    obs_enum_sources(collect, &left);
    for (const OBSSource& source : left) {
        if (source)
            obs_source_remove(source);
    }
    left.clear();
    while (obs_wait_for_destroy_queue()) {
    }
}

void removeSceneDataAfterEachTest() {
    class Remover : public testing::EmptyTestEventListener {
        void OnTestEnd(const testing::TestInfo&) override { removeSceneData(); }
    };
    testing::UnitTest::GetInstance()->listeners().Append(new Remover);
}

namespace {

// Before the core goes, every source must be gone: a host thread (audio mixing, say) may drop
// the last reference a moment after the removal, and a destruction still pending when the core
// shuts down releases what the core has already freed.
void clearBeforeShutdown() {
    removeSceneData();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (anySourceAlive() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        while (obs_wait_for_destroy_queue()) {
        }
    }
}

} // namespace

HeadlessHost::~HeadlessHost() {
    shutdown();
}

bool HeadlessHost::start(std::string* error, const char* locale, int speakers) {
    xlib_ = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    auto openDisplay =
        xlib_ ? reinterpret_cast<void* (*)(const char*)>(dlsym(xlib_, "XOpenDisplay")) : nullptr;
    display_ = openDisplay ? openDisplay(nullptr) : nullptr;
    if (!display_) {
        *error = "no X display: run under xvfb-run -a";
        return false;
    }
    // Keep the host's own plug-ins from fetching anything beyond loopback.
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        setenv(name, "http://127.0.0.1:9", 1);
    for (const char* name : {"no_proxy", "NO_PROXY"})
        setenv(name, "127.0.0.1,localhost,::1", 1);

    std::string pattern = (std::filesystem::temp_directory_path() / "relaycast-bench-XXXXXX");
    if (!mkdtemp(pattern.data())) {
        *error = "no temporary folder";
        return false;
    }
    configDir_ = pattern;
    // Keys the tests protect go to a key file of their own, never the user's.
    setenv("XDG_DATA_HOME", (configDir_ + "/data").c_str(), 1);

    // No module loader hands the plug-in's code its texts here: it reads the source tree's.
    relaycast::setLocaleDirectoryWithoutModule(QStringLiteral(RELAYCAST_SOURCE_DIR "/data/locale"));
    obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
    obs_set_nix_platform_display(display_);
    if (!obs_startup(locale, (configDir_ + "/").c_str(), nullptr)) {
        *error = "obs_startup failed";
        return false;
    }
    obs_video_info video = {};
    video.graphics_module = "libobs-opengl";
    video.fps_num = kHostFps;
    video.fps_den = 1;
    video.base_width = video.output_width = kCanvasWidth;
    video.base_height = video.output_height = kCanvasHeight;
    video.output_format = VIDEO_FORMAT_NV12;
    video.gpu_conversion = true;
    video.colorspace = VIDEO_CS_709;
    video.range = VIDEO_RANGE_PARTIAL;
    video.scale_type = OBS_SCALE_BICUBIC;
    if (obs_reset_video(&video) != OBS_VIDEO_SUCCESS) {
        *error = "obs_reset_video failed";
        return false;
    }
    obs_audio_info audio = {};
    audio.samples_per_sec = 48000;
    audio.speakers = static_cast<speaker_layout>(speakers);
    if (!obs_reset_audio(&audio)) {
        *error = "obs_reset_audio failed";
        return false;
    }
    for (const char* name : kModules)
        if (!openModule(name, error))
            return false;
    obs_post_load_modules();
    return true;
}

long HeadlessHost::shutdown() {
    // Outputs and pipelines still being released go before the host frees its types.
    stopBackgroundHostCalls();
    if (obs_initialized()) {
        clearBeforeShutdown();
        obs_shutdown();
    }
    if (!configDir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(configDir_, ignored);
        configDir_.clear();
    }
    if (display_) {
        auto closeDisplay = reinterpret_cast<int (*)(void*)>(dlsym(xlib_, "XCloseDisplay"));
        if (closeDisplay)
            closeDisplay(display_);
        display_ = nullptr;
    }
    if (xlib_) {
        dlclose(xlib_);
        xlib_ = nullptr;
    }
    return bnum_allocs();
}

int runOnHeadlessHost(const std::function<int()>& body) {
    HeadlessHost host;
    std::string error;
    if (!host.start(&error)) {
        std::fprintf(stderr, "host: %s\n", error.c_str());
        return 1;
    }
    const int result = body();
    const long leaks = host.shutdown();
    if (leaks != 0)
        std::fprintf(stderr, "%ld host allocation(s) leaked\n", leaks);
    return leaks == 0 ? result : 1;
}

} // namespace relaycast::test
