#include "support/test_host.h"

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace relaycast::test {

OBSSceneAutoRelease createScene(const char* name) {
    return obs_scene_create(name);
}

OBSSourceAutoRelease createColorSource(const char* name, uint32_t abgr, uint32_t width,
                                       uint32_t height) {
    OBSDataAutoRelease settings = obs_data_create();
    obs_data_set_int(settings, "color", abgr);
    obs_data_set_int(settings, "width", width);
    obs_data_set_int(settings, "height", height);
    return obs_source_create("color_source_v3", name, settings, nullptr);
}

OBSSourceAutoRelease createFourByThreeSource(const char* name, uint32_t abgr) {
    return createColorSource(name, abgr, 640, 480);
}

OBSSourceAutoRelease createBandedFourByThreeSource(const char* name) {
    static const QString path = [] {
        static QTemporaryDir folder;
        const int width = 640;
        const int height = 480;
        QByteArray ppm = QByteArray("P6\n640 480\n255\n");
        for (int y = 0; y < height; ++y) {
            const uint32_t abgr =
                y < kBandRows ? kOpaqueRed : (y >= height - kBandRows ? kOpaqueBlue : kOpaqueGreen);
            const Rgb colour = rgbOf(abgr);
            for (int x = 0; x < width; ++x)
                ppm.append(char(colour.r)).append(char(colour.g)).append(char(colour.b));
        }
        QFile file(folder.filePath(QStringLiteral("bands.ppm")));
        if (file.open(QIODevice::WriteOnly))
            file.write(ppm);
        return file.fileName();
    }();
    OBSDataAutoRelease settings = obs_data_create();
    obs_data_set_string(settings, "file", path.toUtf8().constData());
    OBSSourceAutoRelease source = obs_source_create("image_source", name, settings, nullptr);
    // The picture is decoded when the source is created; its size tells it is ready.
    if (source)
        waitFor([&] { return obs_source_get_width(source) == 640; }, std::chrono::seconds(5));
    return source;
}

obs_sceneitem_t* addToScene(obs_scene_t* scene, obs_source_t* source) {
    return obs_scene_add(scene, source);
}

bool removeSource(OBSSourceAutoRelease& source, std::chrono::milliseconds timeout) {
    const std::string name = obs_source_get_name(source);
    obs_source_remove(source);

    struct Search {
        obs_source_t* target;
        std::vector<obs_sceneitem_t*> items;
    } search{source, {}};
    obs_enum_scenes(
        [](void* param, obs_source_t* sceneSource) {
            obs_scene_enum_items(
                obs_scene_from_source(sceneSource),
                [](obs_scene_t*, obs_sceneitem_t* item, void* found) {
                    auto* s = static_cast<Search*>(found);
                    if (obs_sceneitem_get_source(item) == s->target) {
                        obs_sceneitem_addref(item);
                        s->items.push_back(item);
                    }
                    return true;
                },
                param);
            return true;
        },
        &search);
    for (obs_sceneitem_t* item : search.items) {
        obs_sceneitem_remove(item);
        obs_sceneitem_release(item);
    }
    source = nullptr;
    return waitFor([&] { return !OBSSourceAutoRelease(obs_get_source_by_name(name.c_str())); },
                   timeout);
}

OBSSourceAutoRelease findSource(const char* name) {
    return obs_get_source_by_name(name);
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::ostream& operator<<(std::ostream& out, const Rgb& colour) {
    return out << "rgb(" << colour.r << ", " << colour.g << ", " << colour.b << ")";
}

Rgb rgbOf(uint32_t abgr) {
    return {static_cast<int>(abgr & 0xFF), static_cast<int>((abgr >> 8) & 0xFF),
            static_cast<int>((abgr >> 16) & 0xFF)};
}

bool closeTo(const Rgb& actual, const Rgb& expected, int tolerance) {
    return std::abs(actual.r - expected.r) <= tolerance &&
           std::abs(actual.g - expected.g) <= tolerance &&
           std::abs(actual.b - expected.b) <= tolerance;
}

Rgb RgbFrame::at(int x, int y) const {
    const int offset = (y * width + x) * 3;
    const auto* bytes = reinterpret_cast<const unsigned char*>(pixels.constData()) + offset;
    return {bytes[0], bytes[1], bytes[2]};
}

namespace {

// Reads one whitespace-delimited header number of a binary PPM.
bool readPpmNumber(const QByteArray& data, int& pos, int& value) {
    const char* bytes = data.constData();
    while (pos < data.size() && std::isspace(static_cast<unsigned char>(bytes[pos])))
        ++pos;
    const int start = pos;
    while (pos < data.size() && std::isdigit(static_cast<unsigned char>(bytes[pos])))
        ++pos;
    if (pos == start)
        return false;
    value = data.mid(start, pos - start).toInt();
    return true;
}

std::optional<RgbFrame> parsePpm(const QByteArray& data) {
    if (!data.startsWith("P6"))
        return std::nullopt;
    int pos = 2;
    int width = 0;
    int height = 0;
    int maxValue = 0;
    if (!readPpmNumber(data, pos, width) || !readPpmNumber(data, pos, height) ||
        !readPpmNumber(data, pos, maxValue) || maxValue != 255)
        return std::nullopt;
    ++pos; // the single white-space character before the pixels
    const int size = width * height * 3;
    if (width <= 0 || height <= 0 || data.size() - pos < size)
        return std::nullopt;
    return RgbFrame{width, height, data.mid(pos, size)};
}

// Receives frames of a host video through a raw output of the test process's own type, the
// public way to make the host convert and hand out frames of any video (a view's included).
struct FrameTap {
    std::mutex lock;
    std::condition_variable ready;
    int framesToSkip = 0;
    std::optional<RgbFrame> frame;
    uint32_t width = 0;
    uint32_t height = 0;

    void receive(const video_data* data) {
        std::lock_guard guard(lock);
        if (frame)
            return;
        if (framesToSkip > 0) {
            --framesToSkip;
            return;
        }
        RgbFrame copy{static_cast<int>(width), static_cast<int>(height), {}};
        copy.pixels.resize(static_cast<int>(width * height * 3));
        auto* out = reinterpret_cast<unsigned char*>(copy.pixels.data());
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* row = data->data[0] + static_cast<size_t>(y) * data->linesize[0];
            for (uint32_t x = 0; x < width; ++x) {
                *out++ = row[x * 4];
                *out++ = row[x * 4 + 1];
                *out++ = row[x * 4 + 2];
            }
        }
        frame = std::move(copy);
        ready.notify_all();
    }
};

constexpr const char* kFrameTapOutputId = "relaycast_test_frame_tap";

struct FrameTapOutput {
    obs_output_t* output = nullptr;
    FrameTap* tap = nullptr;
};

void registerFrameTapOutput() {
    static std::once_flag registered;
    std::call_once(registered, [] {
        obs_output_info info = {};
        info.id = kFrameTapOutputId;
        info.flags = OBS_OUTPUT_VIDEO;
        info.get_name = [](void*) { return "Relaycast test frame tap"; };
        info.create = [](obs_data_t* settings, obs_output_t* output) -> void* {
            auto* tap = reinterpret_cast<FrameTap*>(obs_data_get_int(settings, "tap"));
            return new FrameTapOutput{output, tap};
        };
        info.destroy = [](void* data) { delete static_cast<FrameTapOutput*>(data); };
        info.start = [](void* data) {
            return obs_output_begin_data_capture(static_cast<FrameTapOutput*>(data)->output, 0);
        };
        info.stop = [](void* data, uint64_t) {
            obs_output_end_data_capture(static_cast<FrameTapOutput*>(data)->output);
        };
        info.raw_video = [](void* data, video_data* frame) {
            static_cast<FrameTapOutput*>(data)->tap->receive(frame);
        };
        obs_register_output(&info);
    });
}

} // namespace

std::optional<RgbFrame> decodeStreamFrame(const QString& input, int skipFrames,
                                          std::chrono::milliseconds timeout, QString* error) {
    QStringList arguments = {QStringLiteral("-nostdin"), QStringLiteral("-loglevel"),
                             QStringLiteral("error"), QStringLiteral("-i"), input};
    if (skipFrames > 0) {
        arguments << QStringLiteral("-vf") << QStringLiteral("select=gte(n\\,%1)").arg(skipFrames);
    }
    arguments << QStringLiteral("-frames:v") << QStringLiteral("1") << QStringLiteral("-f")
              << QStringLiteral("image2pipe") << QStringLiteral("-vcodec") << QStringLiteral("ppm")
              << QStringLiteral("-pix_fmt") << QStringLiteral("rgb24") << QStringLiteral("-");

    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), arguments);
    if (!ffmpeg.waitForStarted(5000)) {
        if (error)
            *error = QStringLiteral("ffmpeg did not start: ") + ffmpeg.errorString();
        return std::nullopt;
    }
    if (!ffmpeg.waitForFinished(static_cast<int>(timeout.count()))) {
        ffmpeg.kill();
        ffmpeg.waitForFinished(2000);
        if (error)
            *error = QStringLiteral("ffmpeg timed out reading ") + input;
        return std::nullopt;
    }
    const QByteArray output = ffmpeg.readAllStandardOutput();
    std::optional<RgbFrame> frame = parsePpm(output);
    if (!frame && error) {
        *error = QStringLiteral("ffmpeg gave no frame (exit %1): %2")
                     .arg(ffmpeg.exitCode())
                     .arg(QString::fromUtf8(ffmpeg.readAllStandardError()));
    }
    return frame;
}

std::optional<RgbFrame> grabVideoFrame(video_t* video, int skipFrames,
                                       std::chrono::milliseconds timeout) {
    if (!video)
        return std::nullopt;
    registerFrameTapOutput();
    const video_output_info* info = video_output_get_info(video);
    FrameTap tap;
    tap.framesToSkip = skipFrames;
    tap.width = info->width;
    tap.height = info->height;

    OBSDataAutoRelease settings = obs_data_create();
    obs_data_set_int(settings, "tap", reinterpret_cast<intptr_t>(&tap));
    OBSOutputAutoRelease output =
        obs_output_create(kFrameTapOutputId, "relaycast-test-frame-tap", settings, nullptr);
    if (!output)
        return std::nullopt;
    video_scale_info conversion = {};
    conversion.format = VIDEO_FORMAT_RGBA;
    conversion.width = info->width;
    conversion.height = info->height;
    conversion.range = VIDEO_RANGE_FULL;
    conversion.colorspace = info->colorspace;
    obs_output_set_media(output, video, obs_get_audio());
    obs_output_set_video_conversion(output, &conversion);
    if (obs_output_start(output)) {
        std::unique_lock guard(tap.lock);
        tap.ready.wait_for(guard, timeout, [&] { return tap.frame.has_value(); });
    }
    obs_output_stop(output);
    // The tap lives on this stack: no frame may arrive once the output is released.
    waitFor([&] { return !obs_output_active(output); }, std::chrono::seconds(5));
    std::lock_guard guard(tap.lock);
    return std::move(tap.frame);
}

} // namespace relaycast::test
