#include "address/service_catalog.h"
#include "address/service_limits.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using namespace relaycast;

// The test process starts no host, so uiText returns the Spanish texts.

namespace {

// A services.json as the host's rtmp-services module writes it, with what we cannot send to.
const char* const kServices = R"json({
  "format_version": 4,
  "services": [
    {"name": "Uno", "alt_names": ["Uno Viejo", 7], "common": true,
     "stream_key_link": "https://uno.tv/key",
     "servers": [{"name": "EU", "url": " rtmps://eu.uno.tv:443/app "},
                 {"name": "Web", "url": "https://uno.tv/whip"},
                 {"name": "No host", "url": "rtmps://://uno.tv/app"},
                 {"name": "Auto (closest)", "url": "rtmp://live.uno.tv/app"}],
     "recommended": {"keyint": 2, "max video bitrate": 6000, "max audio bitrate": 160,
                     "max fps": 30, "profile": "Main",
                     "supported resolutions": ["1920x1080", "1280x720", "852x480", "bad", "16x9",
                                               "9000x5062"],
                     "bitrate matrix": [{"res": "1280x720", "fps": 60, "max bitrate": 4500},
                                        {"res": "1280x720", "fps": 30, "max bitrate": 3000},
                                        {"res": "x", "fps": 30, "max bitrate": 1}]},
     "supported video codecs": ["H264", "hevc"]},
    {"name": "Hls", "recommended": {"output": "ffmpeg_hls_muxer"},
     "servers": [{"name": "a", "url": "rtmp://hls.tv/a"}]},
    {"name": "SoloWeb", "servers": [{"name": "a", "url": "https://web.tv/a"}]},
    {"name": "Dos", "stream_key_link": "file:///home/a/.ssh/id_rsa",
     "servers": [{"name": "Primary", "url": "rtmp://dos.tv/live"},
                                {"name": "Backup", "url": "rtmp://b.dos.tv/live"}]},
    {"name": "Dos Gratis", "servers": [{"name": "Backup", "url": "rtmp://b.dos.tv/live"}]}
  ]})json";

ServiceCatalog catalog() {
    QString error;
    const auto parsed = parseServiceCatalog(kServices, &error);
    EXPECT_TRUE(parsed) << error.toStdString();
    return parsed.value_or(ServiceCatalog{});
}

QString namesOf(const ServiceCatalog& read) {
    QStringList names;
    for (const StreamingService& service : read.services)
        names << service.name;
    return names.join(',');
}

} // namespace

TEST(ServiceCatalog, ReadsServersAndLimitsAndLeavesOutWhatCannotBeSentTo) {
    const ServiceCatalog read = catalog();
    EXPECT_EQ(read.formatVersion, 4);
    EXPECT_EQ(namesOf(read), "Uno,Dos,Dos Gratis");
    EXPECT_EQ(read.serverCount(), 5);
    const StreamingService* uno = read.find("Uno Viejo");
    ASSERT_NE(uno, nullptr);
    EXPECT_EQ(uno->name, "Uno");
    EXPECT_EQ(uno->altNames, QStringList{"Uno Viejo"});
    EXPECT_TRUE(uno->common);
    EXPECT_EQ(uno->streamKeyLink, "https://uno.tv/key");
    ASSERT_EQ(uno->servers.size(), 2);
    EXPECT_EQ(uno->servers[0].url, "rtmps://eu.uno.tv:443/app");
    EXPECT_EQ(preferredServer(*uno), 1);
    const ServiceLimits& limits = uno->limits;
    EXPECT_EQ(limits.keyintSecs, 2);
    EXPECT_EQ(limits.maxVideoKbps, 6000);
    EXPECT_EQ(limits.maxAudioKbps, 160);
    EXPECT_EQ(limits.maxFps, 30);
    EXPECT_EQ(limits.profile, "main");
    EXPECT_EQ(limits.resolutions, (QList<PictureSize>{{1920, 1080}, {1280, 720}, {852, 480}}));
    ASSERT_EQ(limits.bitrateBySize.size(), 2);
    EXPECT_EQ(limits.bitrateBySize[1].maxKbps, 3000);
    EXPECT_EQ(limits.videoCodecs, (QStringList{"h264", "hevc"}));
    EXPECT_EQ(limits.audioCodecs, QStringList{"aac"});

    const StreamingService* dos = read.find("Dos");
    ASSERT_NE(dos, nullptr);
    EXPECT_EQ(preferredServer(*dos), 0);
    EXPECT_EQ(dos->limits.maxVideoKbps, 0);
    EXPECT_EQ(dos->streamKeyLink, QString()); // a link is to a web page only
    EXPECT_EQ(dos->limits.videoCodecs, QStringList{"h264"});
    for (const char* none : {"Hls", "SoloWeb", "", "uno"})
        EXPECT_EQ(read.find(none), nullptr) << none;

    QString error;
    EXPECT_FALSE(parseServiceCatalog("not json", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(parseServiceCatalog(R"({"services": 3})"));
}

TEST(ServiceCatalog, TheUserCopyIsReadOnlyWhenItParsesWithTheInstalledFormat) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto write = [&](const QString& name, const QByteArray& text) {
        if (text.isNull())
            return dir.filePath(name); // no such file
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return file.fileName();
    };
    const auto list = [](int format, const char* name) {
        return QStringLiteral(R"({"format_version": %1, "services": [{"name": "%2",
                              "servers": [{"name": "a", "url": "rtmp://h/a"}]}]})")
            .arg(format)
            .arg(QLatin1String(name))
            .toUtf8();
    };
    const struct {
        QByteArray user;
        QByteArray installed;
        const char* read;
        const char* from;
    } rows[] = {
        {list(4, "Usuario"), list(4, "Instalado"), "Usuario", "user"},
        {list(5, "Usuario"), list(4, "Instalado"), "Instalado", "installed"},
        {"{roto", list(4, "Instalado"), "Instalado", "installed"},
        {QByteArray(), list(4, "Instalado"), "Instalado", "installed"},
        {list(4, "Usuario"), QByteArray(), "Usuario", "user"},
        {QByteArray(), "{roto", "", ""},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(n);
        const QString user = write(QStringLiteral("user%1.json").arg(n), row.user);
        const QString installed = write(QStringLiteral("installed%1.json").arg(n), row.installed);
        ++n;
        const ServiceCatalog read = loadServiceCatalog(user, installed);
        EXPECT_EQ(namesOf(read), row.read);
        EXPECT_EQ(read.source, QString(row.from) == "user"        ? user
                               : QString(row.from) == "installed" ? installed
                                                                  : QString());
    }
}

TEST(ServiceCatalog, AnAddressIsTheServiceOfItsServerOrElseOfItsHost) {
    const ServiceCatalog read = catalog();
    const struct {
        const char* address;
        const char* service;
        int server;
        const char* kept = "";
    } rows[] = {
        {"rtmp://live.uno.tv/app", "Uno", 1},
        {"rtmp://live.uno.tv/app/", "Uno", 1},
        {" RTMP://LIVE.Uno.TV/app ", "Uno", 1},
        {"rtmps://eu.uno.tv:443/app", "Uno", 0},
        {"rtmp://live.uno.tv/otra", "Uno", -1},
        {"rtmp://b.dos.tv/live", "Dos", 1},
        {"rtmp://uno.tv/whip", "", -1}, // the host of a server left out
        {"rtmp://otro.tv/app", "", -1},
        {"", "", -1},
        // A server two services list stays the one the destination has, if it is one of them.
        {"rtmp://b.dos.tv/live", "Dos Gratis", 0, "Dos Gratis"},
        {"rtmp://b.dos.tv/live", "Dos", 1, "Uno"},
        {"rtmp://live.uno.tv/x", "Uno", -1, "Uno"},
    };
    for (const auto& row : rows) {
        const ServiceMatch match = findServiceForAddress(read, row.address, row.kept);
        EXPECT_EQ(match.service ? match.service->name : QString(), row.service) << row.address;
        EXPECT_EQ(match.server, row.server) << row.address;
    }
    const StreamingService& uno = *read.find("Uno");
    EXPECT_EQ(findServer(uno, "EU"), 0);
    EXPECT_EQ(findServer(uno, "rtmp://LIVE.uno.tv/app/"), 1);
    EXPECT_EQ(findServer(uno, "Web"), -1);
    EXPECT_TRUE(belongsToService(uno, "rtmp://live.uno.tv/otra"));
    EXPECT_FALSE(belongsToService(uno, "rtmp://b.dos.tv/live"));
}

namespace {

// What the tests send Uno unless a row says otherwise: H.264 with a keyframe every 2 s (0 is the
// encoder's own choice, -1 OBS's own encoder), the main profile, AAC at 128 kbps.
SentStream sent(uint32_t width, uint32_t height, int32_t fps, int32_t kbps,
                const char* codec = "h264", int32_t keyint = 2, const char* profile = "main",
                const char* audio = "aac", int32_t audioKbps = 128) {
    return {width, height, fps, kbps, codec, keyint, profile, audio, audioKbps};
}

} // namespace

TEST(ServiceLimits, TheFitSaysWhatACapOrSizeMendsAndRefusesWhatNothingCan) {
    const StreamingService uno = *catalog().find("Uno");
    const struct {
        const char* what;
        SentStream sent;
        int32_t cap;
        PictureSize size;
        const char* refusal; // a part of the one refusal, or nullptr for none
        int notes;
    } rows[] = {
        {"as it is", sent(1280, 720, 30, 2500), 0, {}, nullptr, 0},
        {"AV1", sent(1280, 720, 30, 2500, "av1"), 0, {}, "vídeo AV1", 0},
        {"Opus", sent(1280, 720, 30, 2500, "h264", 2, "main", "opus"), 0, {}, "audio OPUS", 0},
        {"keyint auto", sent(1280, 720, 30, 2500, "h264", 0), 0, {}, "cada 2 s", 0},
        {"keyint 4", sent(1280, 720, 30, 2500, "h264", 4), 0, {}, "cada 2 s", 0},
        // OBS's own encoder runs as OBS's settings say: nothing of ours to refuse or note.
        {"OBS's encoder", sent(1280, 720, 30, 2500, "h264", -1, "high"), 0, {}, nullptr, 0},
        {"60 fps", sent(1280, 720, 60, 2500), 0, {}, "como máximo 30", 0},
        {"larger, same shape", sent(2560, 1440, 30, 2500), 0, {1920, 1080}, nullptr, 0},
        {"rounded shape", sent(854, 480, 30, 2500), 0, {852, 480}, nullptr, 0},
        {"vertical", sent(1080, 1920, 30, 2500), 0, {}, "tamaños: 1920x1080, 1280x720, 852x480", 0},
        {"matrix cap", sent(1280, 720, 30, 3500), 3000, {}, nullptr, 0},
        {"matrix at 25 fps", sent(1280, 720, 25, 3500), 3000, {}, nullptr, 0},
        {"overall cap", sent(1920, 1080, 30, 7000), 6000, {}, nullptr, 0},
        {"cap of the size chosen", sent(2560, 1440, 30, 9000), 6000, {1920, 1080}, nullptr, 0},
        {"profile, audio", sent(1280, 720, 30, 2500, "h264", 2, "high", "aac", 192), 0, {}, 0, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const ServiceFit fit = fitToService(uno, row.sent);
        EXPECT_EQ(fit.capKbps, row.cap);
        EXPECT_EQ(fit.size, row.size);
        ASSERT_EQ(fit.refusals.size(), row.refusal ? 1 : 0)
            << fit.refusals.join('\n').toStdString();
        if (row.refusal)
            EXPECT_TRUE(fit.refusals[0].contains(QString::fromUtf8(row.refusal)))
                << fit.refusals[0].toStdString();
        EXPECT_EQ(fit.notes.size(), row.notes) << fit.notes.join('\n').toStdString();
        EXPECT_EQ(fit.fits(), row.cap == 0 && row.size.width == 0 && !row.refusal);
    }
    // A name from a list anyone may edit is quoted as it is, never read as a placeholder.
    StreamingService marked = uno;
    marked.name = "Uno %2";
    EXPECT_TRUE(fitToService(marked, rows[4].sent).refusals.value(0).startsWith("Uno %2 pide"));
}
