// An entry's pipeline on the real host: what goes on its view and at which size, what is left
// behind when it cannot open, how it closes, what its frames and preview look like, how live
// changes and live switches reach it.

#include "engine/encoding/encoder_settings.h"
#include "engine/picture/entry_pipeline.h"
#include "support/log_capture.h"
#include "support/test_host.h"
#include "support/tone_source.h"

#include <gtest/gtest.h>

#include <graphics/graphics.h>

#include <QRegularExpression>

#include <mutex>
#include <string>

using namespace relaycast;
using namespace relaycast::test;

namespace {

EntryConfig entrySending(const char* source, int width = 0, int height = 0) {
    EntryConfig entry;
    entry.id = QStringLiteral("6f1d7d40-1111-4c1e-9a55-0c5e1f3a2b7c");
    entry.fuente = QString::fromUtf8(source);
    entry.ancho = width;
    entry.alto = height;
    entry.videoKbps = 2500;
    entry.destinos = {DestConfig{"d1", "rtmp://127.0.0.1:1935/live", "clave", ""}};
    return entry;
}

OBSSourceAutoRelease channelZero(const EntryPipeline& pipeline) {
    return obs_view_get_source(pipeline.view, 0);
}

obs_source_t* privateSceneSource(const EntryPipeline& pipeline) {
    return pipeline.privateScene ? obs_scene_get_source(pipeline.privateScene) : nullptr;
}

// The items of a scene, in order (not referenced).
std::vector<obs_sceneitem_t*> itemsOf(obs_scene_t* scene) {
    std::vector<obs_sceneitem_t*> items;
    obs_scene_enum_items(
        scene,
        [](obs_scene_t*, obs_sceneitem_t* item, void* param) {
            static_cast<std::vector<obs_sceneitem_t*>*>(param)->push_back(item);
            return true;
        },
        &items);
    return items;
}

int countEncodersNamed(const char* name) {
    struct Count {
        const char* name;
        int found;
    } count{name, 0};
    obs_enum_encoders(
        [](void* param, obs_encoder_t* encoder) {
            auto* c = static_cast<Count*>(param);
            if (std::string(obs_encoder_get_name(encoder)) == c->name)
                ++c->found;
            return true;
        },
        &count);
    return count.found;
}

// Checks the one item of the private scene: `source` in a bounds box covering the frame.
void expectFramedItem(const EntryPipeline& pipeline, obs_source_t* source,
                      obs_bounds_type boundsType) {
    ASSERT_TRUE(pipeline.privateScene);
    EXPECT_STREQ(obs_source_get_name(privateSceneSource(pipeline)), "relaycast-escena");
    EXPECT_TRUE(obs_obj_is_private(privateSceneSource(pipeline)));
    const std::vector<obs_sceneitem_t*> items = itemsOf(pipeline.privateScene);
    ASSERT_EQ(items.size(), 1u);
    obs_sceneitem_t* item = items.front();
    EXPECT_EQ(obs_sceneitem_get_source(item), source);
    EXPECT_EQ(obs_sceneitem_get_bounds_type(item), boundsType);
    EXPECT_EQ(obs_sceneitem_get_bounds_alignment(item), static_cast<uint32_t>(OBS_ALIGN_CENTER));
    vec2 bounds;
    obs_sceneitem_get_bounds(item, &bounds);
    EXPECT_EQ(bounds.x, static_cast<float>(pipeline.width));
    EXPECT_EQ(bounds.y, static_cast<float>(pipeline.height));
    vec2 position;
    obs_sceneitem_get_pos(item, &position);
    EXPECT_EQ(position.x, 0.0f);
    EXPECT_EQ(position.y, 0.0f);
    OBSSourceAutoRelease shown = channelZero(pipeline);
    EXPECT_EQ(shown.Get(), privateSceneSource(pipeline));
}

void expectNothingOpen(const EntryPipeline& pipeline) {
    EXPECT_EQ(pipeline.view, nullptr);
    EXPECT_EQ(pipeline.video, nullptr);
    EXPECT_FALSE(pipeline.privateScene);
    EXPECT_FALSE(pipeline.videoEncoder);
    EXPECT_EQ(pipeline.audioTrack.audioOutput(), nullptr);
    EXPECT_EQ(countEncodersNamed("relaycast-video"), 0);
}

bool dark(const Rgb& colour) {
    return colour.r < 24 && colour.g < 24 && colour.b < 24;
}

// Runs the preview draw routine into a texture of the display's size on the graphics thread,
// as a display would, and reads the result back.
std::optional<RgbFrame> renderPreview(EntryPipeline& pipeline, uint32_t width, uint32_t height) {
    struct Job {
        EntryPipeline* pipeline;
        uint32_t width;
        uint32_t height;
        gs_texrender_t* texrender = nullptr;
        gs_stagesurf_t* stage = nullptr;
        std::mutex lock;
        std::optional<RgbFrame> frame;
    } job{&pipeline, width, height};

    obs_enter_graphics();
    job.texrender = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
    job.stage = gs_stagesurface_create(width, height, GS_RGBA);
    obs_leave_graphics();

    const auto render = [](void* param, uint32_t, uint32_t) {
        auto* j = static_cast<Job*>(param);
        {
            std::lock_guard guard(j->lock);
            if (j->frame)
                return;
        }
        gs_texrender_reset(j->texrender);
        if (!gs_texrender_begin(j->texrender, j->width, j->height))
            return;
        vec4 clear;
        vec4_set(&clear, 0.0f, 0.0f, 0.0f, 1.0f);
        gs_clear(GS_CLEAR_COLOR, &clear, 0.0f, 0);
        drawPipelinePreview(j->pipeline, j->width, j->height);
        gs_texrender_end(j->texrender);
        gs_stage_texture(j->stage, gs_texrender_get_texture(j->texrender));
        uint8_t* data = nullptr;
        uint32_t linesize = 0;
        if (!gs_stagesurface_map(j->stage, &data, &linesize))
            return;
        RgbFrame frame{static_cast<int>(j->width), static_cast<int>(j->height), {}};
        for (uint32_t y = 0; y < j->height; ++y) {
            for (uint32_t x = 0; x < j->width; ++x) {
                const uint8_t* pixel = data + y * linesize + x * 4;
                frame.pixels.append(char(pixel[0])).append(char(pixel[1])).append(char(pixel[2]));
            }
        }
        gs_stagesurface_unmap(j->stage);
        std::lock_guard guard(j->lock);
        j->frame = std::move(frame);
    };
    obs_add_main_render_callback(render, &job);
    waitFor([&] {
        std::lock_guard guard(job.lock);
        return job.frame.has_value();
    });
    obs_remove_main_render_callback(render, &job);

    obs_enter_graphics();
    gs_stagesurface_destroy(job.stage);
    gs_texrender_destroy(job.texrender);
    obs_leave_graphics();
    std::lock_guard guard(job.lock);
    return std::move(job.frame);
}

} // namespace

TEST(OpenPipeline, SceneAtCanvasSizeGoesOnTheViewDirectly) {
    OBSSceneAutoRelease scene = createScene("p-lienzo");
    OBSSourceAutoRelease colour = createColorSource("p-lienzo-color", kOpaqueRed, 320, 240);
    addToScene(scene, colour);
    EntryConfig entry = entrySending("p-lienzo", 1280, 0);
    entry.retrasoAudioMs = 250;

    EntryPipeline pipeline;
    QString error;
    ASSERT_TRUE(openPipeline(pipeline, entry, &error)) << error.toStdString();
    EXPECT_FALSE(pipeline.ownSize);
    EXPECT_EQ(pipeline.width, kCanvasWidth);
    EXPECT_EQ(pipeline.height, kCanvasHeight);
    EXPECT_FALSE(pipeline.fill);
    EXPECT_EQ(pipeline.sourceName, QByteArray("p-lienzo"));
    EXPECT_FALSE(pipeline.privateScene);
    OBSSourceAutoRelease shown = channelZero(pipeline);
    EXPECT_EQ(shown.Get(), obs_scene_get_source(scene));

    ASSERT_NE(pipeline.video, nullptr);
    EXPECT_EQ(video_output_get_info(pipeline.video)->width, kCanvasWidth);
    EXPECT_EQ(video_output_get_info(pipeline.video)->height, kCanvasHeight);

    ASSERT_TRUE(pipeline.videoEncoder);
    EXPECT_STREQ(obs_encoder_get_id(pipeline.videoEncoder), "obs_x264");
    EXPECT_STREQ(obs_encoder_get_name(pipeline.videoEncoder), "relaycast-video");
    EXPECT_EQ(obs_encoder_video(pipeline.videoEncoder), pipeline.video);
    OBSDataAutoRelease settings = obs_encoder_get_settings(pipeline.videoEncoder);
    EXPECT_EQ(obs_data_get_int(settings, "bitrate"), 2500);
    EXPECT_EQ(obs_data_get_int(settings, "keyint_sec"), 2);
    EXPECT_FALSE(obs_data_get_bool(settings, "repeat_headers"));

    EXPECT_NE(pipeline.audioTrack.audioOutput(), nullptr);
    EXPECT_EQ(pipeline.audioTrack.delaySamples(), 12000);

    // Only one side given is no own size either.
    entry.ancho = 0;
    entry.alto = 480;
    ASSERT_TRUE(openPipeline(pipeline, entry, &error)) << error.toStdString();
    EXPECT_FALSE(pipeline.ownSize);
    EXPECT_EQ(pipeline.width, kCanvasWidth);
    EXPECT_EQ(pipeline.height, kCanvasHeight);
    EXPECT_FALSE(pipeline.privateScene);
    EXPECT_EQ(countEncodersNamed("relaycast-video"), 1) << "reopening starts clean";
}

TEST(OpenPipeline, OBSsProgramAtOBSsSizeIsOBSsOwnMixAndRendersNothing) {
    OBSSceneAutoRelease scene = createScene("p-programa");
    struct Case {
        const char* what;
        bool follows;
        int width, height;
        SceneMatchMap matches;
        bool mainMix;
    } cases[] = {
        {"following, no size of its own", true, 0, 0, {}, true},
        {"following at OBS's own size", true, int(kCanvasWidth), int(kCanvasHeight), {}, true},
        {"following, a scene matched to itself", true, 0, 0, {{"p-programa", "p-programa"}}, true},
        {"following at a size of its own", true, 640, 360, {}, false},
        {"following, another scene sent for one", true, 0, 0, {{"p-programa", "otra"}}, false},
        {"a scene of its own", false, 0, 0, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EntryConfig entry = entrySending("p-programa", c.width, c.height);
        entry.seguirObs = c.follows;
        entry.equivalencias = c.matches;
        EntryPipeline pipeline;
        QString error;
        ASSERT_TRUE(openPipeline(pipeline, entry, &error)) << error.toStdString();
        EXPECT_EQ(pipeline.mainMix, c.mainMix);
        EXPECT_EQ(pipeline.video == obs_get_video(), c.mainMix);
        EXPECT_EQ(pipeline.view == nullptr, c.mainMix);
        EXPECT_EQ(obs_encoder_video(pipeline.videoEncoder), pipeline.video);
        if (c.mainMix) {
            EXPECT_EQ(pipeline.width, kCanvasWidth);
            // A live switch only moves the audio; OBS's mix follows OBS by itself.
            OBSSourceAutoRelease other = createColorSource("p-programa-otra", kOpaqueRed, 64, 64);
            EXPECT_TRUE(switchSource(pipeline, "p-programa-otra", &error)) << error.toStdString();
            EXPECT_EQ(pipeline.sourceName, QByteArray("p-programa-otra"));
        }
        closePipeline(pipeline);
        EXPECT_EQ(pipeline.video, nullptr);
    }
}

TEST(OpenPipeline, OwnSizeWrapsEvenAScene) {
    OBSSceneAutoRelease scene = createScene("p-propia");
    EntryPipeline pipeline;
    QString error;
    ASSERT_TRUE(openPipeline(pipeline, entrySending("p-propia", 640, 360), &error))
        << error.toStdString();
    EXPECT_TRUE(pipeline.ownSize);
    EXPECT_EQ(pipeline.width, 640u);
    EXPECT_EQ(pipeline.height, 360u);
    EXPECT_EQ(video_output_get_info(pipeline.video)->width, 640u);
    EXPECT_EQ(video_output_get_info(pipeline.video)->height, 360u);
    expectFramedItem(pipeline, obs_scene_get_source(scene), OBS_BOUNDS_SCALE_INNER);
}

TEST(OpenPipeline, SourceAtCanvasSizeGoesThroughAPrivateScene) {
    OBSSourceAutoRelease colour = createFourByThreeSource("p-fuente", kOpaqueGreen);
    EntryConfig entry = entrySending("p-fuente");
    entry.llenar = true;
    EntryPipeline pipeline;
    QString error;
    ASSERT_TRUE(openPipeline(pipeline, entry, &error)) << error.toStdString();
    EXPECT_FALSE(pipeline.ownSize);
    EXPECT_TRUE(pipeline.fill);
    EXPECT_EQ(pipeline.width, kCanvasWidth);
    expectFramedItem(pipeline, colour, OBS_BOUNDS_SCALE_OUTER);
}

TEST(OpenPipeline, DeletedSourceFailsAndLeavesNothingBehind) {
    OBSSceneAutoRelease scene = createScene("p-con-borrada");
    OBSSourceAutoRelease gone = createColorSource("p-borrada", kOpaqueRed, 64, 64);
    addToScene(scene, gone);
    ASSERT_TRUE(removeSource(gone));

    EntryPipeline pipeline;
    QString error;
    EXPECT_FALSE(openPipeline(pipeline, entrySending("p-borrada"), &error));
    EXPECT_EQ(error, QString::fromUtf8("«p-borrada» ya no existe en OBS."));
    EXPECT_EQ(pipeline.sourceName, QByteArray("p-borrada"));
    expectNothingOpen(pipeline);

    // The host keeps a deleted source findable while anyone still holds it; it is gone all
    // the same, and a pipeline that was open closes.
    OBSSourceAutoRelease held = createColorSource("p-retenida", kOpaqueRed, 64, 64);
    ASSERT_TRUE(openPipeline(pipeline, entrySending("p-retenida"), &error));
    obs_source_remove(held);
    EXPECT_FALSE(openPipeline(pipeline, entrySending("p-retenida"), &error));
    EXPECT_EQ(error, QString::fromUtf8("«p-retenida» ya no existe en OBS."));
    expectNothingOpen(pipeline);

    EXPECT_FALSE(openPipeline(pipeline, entrySending("p-nunca")));
    expectNothingOpen(pipeline);
}

TEST(OpenPipeline, MpegTsDestinationMakesTheEncoderRepeatHeaders) {
    OBSSourceAutoRelease colour = createColorSource("p-srt", kOpaqueWhite, 64, 64);
    EntryPipeline pipeline;
    for (const char* url : {"  SRT://127.0.0.1:9000?latency=200", "RIST://127.0.0.1:9000"}) {
        EntryConfig entry = entrySending("p-srt");
        entry.destinos.append(DestConfig{"d2", url, "", "secreto"});
        ASSERT_TRUE(openPipeline(pipeline, entry));
        OBSDataAutoRelease settings = obs_encoder_get_settings(pipeline.videoEncoder);
        EXPECT_TRUE(obs_data_get_bool(settings, "repeat_headers")) << url;
    }

    EntryConfig entry = entrySending("p-srt");

    entry.destinos = {DestConfig{"d1", "rtmp://127.0.0.1/live", "k", ""},
                      DestConfig{"d2", "rtmps://127.0.0.1/live", "k", ""}};
    ASSERT_TRUE(openPipeline(pipeline, entry));
    OBSDataAutoRelease rtmpOnly = obs_encoder_get_settings(pipeline.videoEncoder);
    EXPECT_FALSE(obs_data_has_user_value(rtmpOnly, "repeat_headers"));
}

TEST(OpenPipeline, EncoderTypeTheHostLacksFailsWithItsOwnMessage) {
    OBSSourceAutoRelease colour = createColorSource("p-codificador", kOpaqueWhite, 64, 64);
    // The host hands out an encoder object even for an id it does not have; it would only
    // fail once a destination starts.
    for (const char* id : {"no_such_encoder", "ffmpeg_aac"}) {
        EntryConfig entry = entrySending("p-codificador");
        entry.codificador = QString::fromUtf8(id);
        EntryPipeline pipeline;
        LogCapture log;
        QString error;
        EXPECT_FALSE(openPipeline(pipeline, entry, &error));
        EXPECT_EQ(error, QString::fromUtf8("No se pudo crear el codificador de vídeo «%1». Prueba "
                                           "con el codificador por CPU (x264).")
                             .arg(id));
        expectNothingOpen(pipeline);
        EXPECT_EQ(log.count("[relaycast] closing entry: "), 1) << "the view had been created";
    }
}

TEST(ClosePipeline, LogsItsTimingsOnlyWhenSomethingWasOpen) {
    const QRegularExpression timingLine(
        R"(^\[relaycast\] closing entry: preview \d+\.\d ms, video encoder \d+\.\d ms, )"
        R"(audio \d+\.\d ms, video/view \d+\.\d ms \(total \d+\.\d ms\)$)");
    LogCapture log;
    EntryPipeline empty;
    closePipeline(empty);
    EXPECT_EQ(log.count("closing entry"), 0);

    // Half-built: a view and nothing else.
    EntryPipeline halfBuilt;
    halfBuilt.view = obs_view_create();
    closePipeline(halfBuilt);
    EXPECT_EQ(halfBuilt.view, nullptr);
    ASSERT_EQ(log.count("closing entry"), 1);
    const QStringList info = log.linesAt(LOG_INFO).filter("closing entry");
    ASSERT_EQ(info.size(), 1);
    EXPECT_TRUE(timingLine.match(info.front()).hasMatch()) << info.front().toStdString();

    OBSSourceAutoRelease colour = createColorSource("p-cierre", kOpaqueWhite, 64, 64);
    EntryPipeline pipeline;
    ASSERT_TRUE(openPipeline(pipeline, entrySending("p-cierre")));
    OBSWeakSourceAutoRelease wrapper = obs_source_get_weak_source(privateSceneSource(pipeline));
    log.clear();
    closePipeline(pipeline);
    closePipeline(pipeline);
    EXPECT_EQ(log.count("closing entry"), 1);
    expectNothingOpen(pipeline);
    OBSSourceAutoRelease stillThere = obs_weak_source_get_source(wrapper);
    EXPECT_EQ(stillThere.Get(), nullptr) << "the private scene is released";
}

TEST(PipelineFraming, FitShowsBarsAtTheSidesAndFillCropsTopAndBottom) {
    OBSSourceAutoRelease source = createBandedFourByThreeSource("p-rayas");
    ASSERT_TRUE(source);
    ASSERT_EQ(obs_source_get_width(source), 640u);

    EntryConfig fitEntry = entrySending("p-rayas", 640, 360);
    EntryConfig fillEntry = fitEntry;
    fillEntry.llenar = true;
    EntryPipeline fit;
    EntryPipeline fill;
    ASSERT_TRUE(openPipeline(fit, fitEntry));
    ASSERT_TRUE(openPipeline(fill, fillEntry));

    // 640x480 fitted into 640x360 is 480x360 with 80-pixel bars; filled it is 640x480 with 60
    // rows cut at the top and at the bottom, which takes both 40-row bands away.
    const std::optional<RgbFrame> fitted = grabVideoFrame(fit.video);
    const std::optional<RgbFrame> filled = grabVideoFrame(fill.video);
    ASSERT_TRUE(fitted && filled);
    ASSERT_EQ(fitted->width, 640);
    ASSERT_EQ(fitted->height, 360);
    const Rgb red = rgbOf(kOpaqueRed);
    const Rgb green = rgbOf(kOpaqueGreen);
    const Rgb blue = rgbOf(kOpaqueBlue);
    for (const int y : {2, 180, 357}) {
        EXPECT_TRUE(dark(fitted->at(40, y))) << "left bar, row " << y << fitted->at(40, y);
        EXPECT_TRUE(dark(fitted->at(600, y))) << "right bar, row " << y << fitted->at(600, y);
    }
    EXPECT_TRUE(closeTo(fitted->at(320, 10), red)) << fitted->at(320, 10);
    EXPECT_TRUE(closeTo(fitted->at(90, 180), green)) << fitted->at(90, 180);
    EXPECT_TRUE(closeTo(fitted->at(320, 350), blue)) << fitted->at(320, 350);

    for (const int x : {1, 320, 638}) {
        for (const int y : {1, 180, 358})
            EXPECT_TRUE(closeTo(filled->at(x, y), green)) << x << "," << y << filled->at(x, y);
    }
}

TEST(PipelinePreview, DrawsTheFrameLetterboxedInTheDisplay) {
    OBSSourceAutoRelease colour = createColorSource("p-vista", kOpaqueGreen, 640, 360);
    EntryPipeline pipeline;
    ASSERT_TRUE(openPipeline(pipeline, entrySending("p-vista", 640, 360)));

    // 640x360 in a 200x200 display: scale 0.3125, drawn 200x112 from row 44.
    const std::optional<RgbFrame> shown = renderPreview(pipeline, 200, 200);
    ASSERT_TRUE(shown);
    const Rgb green = rgbOf(kOpaqueGreen);
    EXPECT_TRUE(closeTo(shown->at(100, 100), green)) << shown->at(100, 100);
    EXPECT_TRUE(closeTo(shown->at(1, 46), green)) << shown->at(1, 46);
    EXPECT_TRUE(closeTo(shown->at(198, 153), green)) << shown->at(198, 153);
    EXPECT_TRUE(dark(shown->at(100, 40))) << shown->at(100, 40);
    EXPECT_TRUE(dark(shown->at(100, 160))) << shown->at(100, 160);

    closePipeline(pipeline);
    const std::optional<RgbFrame> closed = renderPreview(pipeline, 200, 200);
    ASSERT_TRUE(closed);
    EXPECT_TRUE(dark(closed->at(100, 100))) << "a closed pipeline draws nothing";
}

TEST(SwitchSource, WithoutAViewItRefusesAndChangesNothing) {
    OBSSourceAutoRelease colour = createColorSource("s-sin-vista", kOpaqueWhite, 64, 64);
    EntryPipeline pipeline;
    pipeline.sourceName = "antes";
    QString error;
    EXPECT_FALSE(switchSource(pipeline, "s-sin-vista", &error));
    EXPECT_EQ(error, QString::fromUtf8("La entrada no está emitiendo."));
    EXPECT_EQ(pipeline.sourceName, QByteArray("antes"));
    EXPECT_FALSE(pipeline.privateScene);
    EXPECT_EQ(pipeline.audioTrack.audioOutput(), nullptr);
}

TEST(SwitchSource, MissingNameFailsAndChangesNothing) {
    OBSSceneAutoRelease scene = createScene("s-actual");
    OBSSourceAutoRelease tone = createToneSource("s-actual-tono");
    addToScene(scene, tone);
    OBSSourceAutoRelease gone = createColorSource("s-borrada", kOpaqueRed, 64, 64);
    EntryPipeline pipeline;
    ASSERT_TRUE(openPipeline(pipeline, entrySending("s-actual")));
    ASSERT_EQ(pipeline.audioTrack.captureCount(), 1);

    obs_source_remove(gone);
    for (const char* name : {"s-no-existe", "s-borrada"}) {
        QString error;
        EXPECT_FALSE(switchSource(pipeline, QString::fromUtf8(name), &error));
        EXPECT_EQ(error, QString::fromUtf8("«%1» no existe en OBS.").arg(name));
        EXPECT_EQ(pipeline.sourceName, QByteArray("s-actual"));
        EXPECT_FALSE(pipeline.privateScene);
        OBSSourceAutoRelease shown = channelZero(pipeline);
        EXPECT_EQ(shown.Get(), obs_scene_get_source(scene));
        EXPECT_EQ(pipeline.audioTrack.captureCount(), 1);
    }
}

TEST(SwitchSource, WithoutOwnSizeASourceGetsAPrivateSceneAndASceneDropsIt) {
    OBSSceneAutoRelease red = createScene("s-rojo");
    OBSSourceAutoRelease redColour =
        createColorSource("s-rojo-color", kOpaqueRed, kCanvasWidth, kCanvasHeight);
    OBSSourceAutoRelease tone = createToneSource("s-rojo-tono");
    addToScene(red, redColour);
    addToScene(red, tone);
    OBSSceneAutoRelease blue = createScene("s-azul");
    OBSSourceAutoRelease blueColour = createColorSource("s-azul-color", kOpaqueBlue, 320, 240);

    EntryPipeline pipeline;
    ASSERT_TRUE(openPipeline(pipeline, entrySending("s-rojo")));
    ASSERT_EQ(pipeline.audioTrack.captureCount(), 1);
    obs_encoder_t* encoder = pipeline.videoEncoder;
    video_t* video = pipeline.video;

    QString error;
    ASSERT_TRUE(switchSource(pipeline, "s-azul-color", &error)) << error.toStdString();
    EXPECT_EQ(pipeline.sourceName, QByteArray("s-azul-color"));
    expectFramedItem(pipeline, blueColour, OBS_BOUNDS_SCALE_INNER);
    EXPECT_EQ(pipeline.audioTrack.captureCount(), 0) << "a source without sound is silent";
    const std::optional<RgbFrame> frame = grabVideoFrame(pipeline.video);
    ASSERT_TRUE(frame);
    EXPECT_TRUE(closeTo(frame->at(640, 360), rgbOf(kOpaqueBlue))) << frame->at(640, 360);
    EXPECT_TRUE(dark(frame->at(20, 360))) << "4:3 fitted into 16:9" << frame->at(20, 360);

    OBSWeakSourceAutoRelease wrapper = obs_source_get_weak_source(privateSceneSource(pipeline));
    ASSERT_TRUE(switchSource(pipeline, "s-rojo", &error)) << error.toStdString();
    EXPECT_FALSE(pipeline.privateScene);
    OBSSourceAutoRelease shown = channelZero(pipeline);
    EXPECT_EQ(shown.Get(), obs_scene_get_source(red));
    OBSSourceAutoRelease oldWrapper = obs_weak_source_get_source(wrapper);
    EXPECT_EQ(oldWrapper.Get(), nullptr) << "the private scene is released";
    EXPECT_EQ(pipeline.audioTrack.captureCount(), 1) << "the sound is back in the same call";

    EXPECT_EQ(pipeline.videoEncoder.Get(), encoder);
    EXPECT_EQ(pipeline.video, video);
    EXPECT_EQ(obs_encoder_video(encoder), video);
}

TEST(SwitchSource, OwnSizeKeepsTheFrameAndTheFramingAndWrapsScenesToo) {
    OBSSourceAutoRelease camera = createFourByThreeSource("s-camara", kOpaqueGreen);
    OBSSceneAutoRelease scene = createScene("s-escena");
    EntryConfig entry = entrySending("s-camara", 640, 360);
    entry.llenar = true;
    EntryPipeline pipeline;
    ASSERT_TRUE(openPipeline(pipeline, entry));
    OBSWeakSourceAutoRelease first = obs_source_get_weak_source(privateSceneSource(pipeline));

    ASSERT_TRUE(switchSource(pipeline, "s-escena"));
    EXPECT_EQ(pipeline.width, 640u);
    EXPECT_EQ(pipeline.height, 360u);
    EXPECT_EQ(video_output_get_info(pipeline.video)->width, 640u);
    expectFramedItem(pipeline, obs_scene_get_source(scene), OBS_BOUNDS_SCALE_OUTER);
    OBSSourceAutoRelease firstWrapper = obs_weak_source_get_source(first);
    EXPECT_EQ(firstWrapper.Get(), nullptr);

    ASSERT_TRUE(switchSource(pipeline, "s-camara"));
    expectFramedItem(pipeline, camera, OBS_BOUNDS_SCALE_OUTER);
}

TEST(ApplyLiveChanges, ReachTheRunningEncoderAndTheAudioDelay) {
    OBSSourceAutoRelease colour = createColorSource("v-cambios", kOpaqueWhite, 64, 64);
    EntryConfig entry = entrySending("v-cambios");
    EntryPipeline pipeline;
    ASSERT_TRUE(openPipeline(pipeline, entry));

    EntryConfig edited = entry;
    edited.videoKbps = 4200;
    edited.retrasoAudioMs = 500;
    edited.destinos.append(DestConfig{"d2", "srt://127.0.0.1:9000", "", ""});
    // A new encoder type waits for the next start; the running one gets its own settings.
    edited.codificador = QStringLiteral("ffmpeg_nvenc");
    obs_encoder_t* encoder = pipeline.videoEncoder;
    applyLiveChanges(pipeline, edited);

    EXPECT_EQ(pipeline.videoEncoder.Get(), encoder);
    EXPECT_EQ(pipeline.audioTrack.delaySamples(), 24000);
    OBSDataAutoRelease settings = obs_encoder_get_settings(encoder);
    EXPECT_EQ(obs_data_get_int(settings, "bitrate"), 4200);
    EXPECT_TRUE(obs_data_get_bool(settings, "repeat_headers"));
    EXPECT_STREQ(obs_data_get_string(settings, "x264opts"), "bframes=0");
    EXPECT_FALSE(obs_data_has_user_value(settings, "bf"));

    edited.ajustesCodificador = QStringLiteral(R"({"profile": "baseline", "bitrate": 1})");
    applyLiveChanges(pipeline, edited);
    OBSDataAutoRelease advanced = obs_encoder_get_settings(encoder);
    EXPECT_STREQ(obs_data_get_string(advanced, "profile"), "baseline");
    EXPECT_EQ(obs_data_get_int(advanced, "bitrate"), 4200);

    // Without an encoder only the delay applies.
    EntryPipeline closed;
    applyLiveChanges(closed, edited);
    EXPECT_EQ(closed.audioTrack.delaySamples(), 24000);
}
