#include "support/tone_source.h"

#include "support/child_process.h"
#include "support/test_host.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <numbers>
#include <system_error>
#include <vector>

namespace relaycast::test {
namespace {

constexpr uint32_t kToneRate = 48000;
constexpr uint32_t kToneSeconds = 5;

class ToneFolder {
public:
    ~ToneFolder() {
        if (!path_.empty()) {
            std::error_code error;
            std::filesystem::remove_all(path_, error);
        }
    }
    const std::filesystem::path& path() {
        if (path_.empty()) {
            std::error_code error;
            std::string pattern =
                (std::filesystem::temp_directory_path(error) / "relaycast-tone-XXXXXX").string();
            if (mkdtemp(pattern.data()))
                path_ = pattern;
        }
        return path_;
    }

private:
    std::filesystem::path path_;
};

ToneFolder& sourceFolder() {
    static ToneFolder folder;
    return folder;
}

template <typename T> void putLittleEndian(std::ofstream& out, T value) {
    for (size_t i = 0; i < sizeof(T); ++i)
        out.put(char((uint64_t(value) >> (8 * i)) & 0xFF));
}

// A whole number of periods fits the file when the frequency divides the rate, so the loop
// seam is click-free for the usual test frequencies.
bool writeToneWav(const std::filesystem::path& file, int frequencyHz, double amplitude,
                  int channels, int toneChannel) {
    const uint32_t frames = kToneRate * kToneSeconds;
    const uint32_t dataBytes = frames * 2 * uint32_t(channels);
    std::ofstream out(file, std::ios::binary);
    out.write("RIFF", 4);
    putLittleEndian<uint32_t>(out, 36 + dataBytes);
    out.write("WAVEfmt ", 8);
    putLittleEndian<uint32_t>(out, 16);
    putLittleEndian<uint16_t>(out, 1); // PCM
    putLittleEndian<uint16_t>(out, uint16_t(channels));
    putLittleEndian<uint32_t>(out, kToneRate);
    putLittleEndian<uint32_t>(out, kToneRate * 2 * uint32_t(channels));
    putLittleEndian<uint16_t>(out, uint16_t(2 * channels));
    putLittleEndian<uint16_t>(out, 16);
    out.write("data", 4);
    putLittleEndian<uint32_t>(out, dataBytes);
    for (uint32_t i = 0; i < frames; ++i) {
        const double phase = 2.0 * std::numbers::pi * frequencyHz * double(i) / kToneRate;
        const auto sample = int16_t(std::lround(amplitude * 32767.0 * std::sin(phase)));
        for (int channel = 0; channel < channels; ++channel)
            putLittleEndian<uint16_t>(out, uint16_t(channel == toneChannel ? sample : 0));
    }
    return bool(out);
}

OBSSourceAutoRelease createLoopingMedia(const char* name, const std::string& file) {
    OBSDataAutoRelease settings = obs_data_create();
    obs_data_set_bool(settings, "is_local_file", true);
    obs_data_set_string(settings, "local_file", file.c_str());
    obs_data_set_bool(settings, "looping", true);
    obs_data_set_bool(settings, "restart_on_activate", false);
    obs_data_set_bool(settings, "close_when_inactive", false);
    obs_data_set_bool(settings, "hw_decode", false);
    return obs_source_create("ffmpeg_source", name, settings, nullptr);
}

} // namespace

std::string toneWavPath(int frequencyHz, double amplitude, int channels, int toneChannel) {
    static std::mutex lock;
    ToneFolder& folder = sourceFolder();
    static std::map<std::string, std::string> written;

    std::lock_guard guard(lock);
    const std::string key = "tone-" + std::to_string(frequencyHz) + "-" +
                            std::to_string(std::lround(amplitude * 1e6)) + "-" +
                            std::to_string(channels) + "-" + std::to_string(toneChannel);
    if (auto it = written.find(key); it != written.end())
        return it->second;
    if (folder.path().empty())
        return {};
    const std::filesystem::path file = folder.path() / (key + ".wav");
    if (!writeToneWav(file, frequencyHz, amplitude, channels, toneChannel)) {
        std::fprintf(stderr, "tone source: could not write %s\n", file.c_str());
        return {};
    }
    return written[key] = file.string();
}

OBSSourceAutoRelease createMovingSource(const char* name) {
    static std::mutex lock;
    static std::string clip;
    std::lock_guard guard(lock);
    if (clip.empty() && !sourceFolder().path().empty()) {
        const std::string file = (sourceFolder().path() / "moving.mkv").string();
        const CommandResult made = runCommand({"ffmpeg",
                                               "-nostdin",
                                               "-loglevel",
                                               "error",
                                               "-f",
                                               "lavfi",
                                               "-i",
                                               "testsrc2=size=320x180:rate=30:duration=6",
                                               "-f",
                                               "lavfi",
                                               "-i",
                                               "sine=frequency=440:sample_rate=48000:duration=6",
                                               "-c:v",
                                               "libx264",
                                               "-preset",
                                               "ultrafast",
                                               "-g",
                                               "30",
                                               "-c:a",
                                               "aac",
                                               "-shortest",
                                               "-y",
                                               QString::fromStdString(file)},
                                              120000);
        if (made.exitCode == 0)
            clip = file;
        else
            std::fprintf(stderr, "moving source: %s\n", made.err.constData());
    }
    return clip.empty() ? nullptr : createLoopingMedia(name, clip);
}

MovingScene createMovingScene(const char* name) {
    MovingScene made;
    made.source = createMovingSource((std::string(name) + "-moving").c_str());
    if (!made.source)
        return {};
    made.scene = createScene(name);
    obs_sceneitem_t* item = addToScene(made.scene, made.source);
    obs_sceneitem_set_bounds_type(item, OBS_BOUNDS_STRETCH);
    vec2 bounds{};
    vec2_set(&bounds, static_cast<float>(kCanvasWidth), static_cast<float>(kCanvasHeight));
    obs_sceneitem_set_bounds(item, &bounds);
    return made;
}

OBSSourceAutoRelease createToneSource(const char* name, int frequencyHz, double amplitude,
                                      int channels, int toneChannel) {
    const std::string file = toneWavPath(frequencyHz, amplitude, channels, toneChannel);
    if (file.empty())
        return nullptr;
    return createLoopingMedia(name, file);
}

} // namespace relaycast::test
