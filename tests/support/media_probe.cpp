#include "media_probe.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <csignal>

namespace relaycast::test {
namespace {

double toDb(double amplitude) {
    return amplitude <= 0 ? -120.0 : std::max(-120.0, 20.0 * std::log10(amplitude / 32768.0));
}

QString readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

const StreamInfo* ProbeResult::first(const QString& type) const {
    for (const StreamInfo& s : streams)
        if (s.type == type)
            return &s;
    return nullptr;
}

ProbeResult probeStreams(const QString& urlOrFile, int timeoutMs) {
    ProbeResult result;
    const CommandResult run =
        runCommand({QStringLiteral("ffprobe"), QStringLiteral("-v"), QStringLiteral("error"),
                    QStringLiteral("-show_streams"), QStringLiteral("-show_format"),
                    QStringLiteral("-of"), QStringLiteral("json"), urlOrFile},
                   timeoutMs);
    if (!run.started) {
        result.error = QStringLiteral("ffprobe could not be started");
        return result;
    }
    if (run.timedOut || run.exitCode != 0) {
        result.error = (run.timedOut ? QStringLiteral("ffprobe timed out: ")
                                     : QStringLiteral("ffprobe failed: ")) +
                       QString::fromUtf8(run.err);
        return result;
    }
    const QJsonObject root = QJsonDocument::fromJson(run.out).object();
    result.durationSecs = root.value("format").toObject().value("duration").toString().toDouble();
    const QJsonArray streams = root.value("streams").toArray();
    for (const QJsonValue& v : streams) {
        const QJsonObject o = v.toObject();
        StreamInfo s;
        s.type = o.value("codec_type").toString();
        s.codec = o.value("codec_name").toString();
        s.width = o.value("width").toInt();
        s.height = o.value("height").toInt();
        s.sampleRate = o.value("sample_rate").toString().toInt();
        s.channels = o.value("channels").toInt();
        result.streams.append(s);
    }
    result.ok = true;
    return result;
}

QList<double> packetTimes(const QString& file, const QString& type, int timeoutMs) {
    const QString stream =
        type == QLatin1String("audio") ? QStringLiteral("a:0") : QStringLiteral("v:0");
    const CommandResult run = runCommand(
        {QStringLiteral("ffprobe"), QStringLiteral("-v"), QStringLiteral("error"),
         QStringLiteral("-select_streams"), stream, QStringLiteral("-show_entries"),
         QStringLiteral("packet=pts_time"), QStringLiteral("-of"), QStringLiteral("csv=p=0"), file},
        timeoutMs);
    QList<double> times;
    if (!run.started || run.timedOut || run.exitCode != 0)
        return times;
    for (const QByteArray& line : run.out.split('\n')) {
        bool ok = false;
        const double t = line.split(',').first().trimmed().toDouble(&ok); // "1.466667,"
        if (ok)
            times.append(t);
    }
    return times;
}

// --- StreamRecorder ---

StreamRecorder::StreamRecorder() = default;

StreamRecorder::~StreamRecorder() {
    stop();
}

QString StreamRecorder::path() const {
    return dir_.filePath(QStringLiteral("recorded.ts"));
}

qint64 StreamRecorder::recordedBytes() const {
    return QFileInfo(path()).size();
}

QString StreamRecorder::log() const {
    return readFile(dir_.filePath(QStringLiteral("ffmpeg.log")));
}

bool StreamRecorder::start(const QString& url) {
    if (!dir_.isValid())
        return false;
    return process_.start({QStringLiteral("ffmpeg"), QStringLiteral("-nostdin"),
                           QStringLiteral("-loglevel"), QStringLiteral("warning"),
                           QStringLiteral("-i"), url, QStringLiteral("-c"), QStringLiteral("copy"),
                           QStringLiteral("-f"), QStringLiteral("mpegts"), QStringLiteral("-y"),
                           path()},
                          {}, dir_.filePath(QStringLiteral("ffmpeg.log")));
}

void StreamRecorder::stop() {
    process_.stop(SIGINT, 10000);
}

// --- Frames ---

Colour DecodedFrame::pixel(int x, int y) const {
    const auto* p = reinterpret_cast<const unsigned char*>(rgb.constData()) +
                    (static_cast<qsizetype>(y) * width + x) * 3;
    return {p[0], p[1], p[2]};
}

Colour DecodedFrame::average(int x, int y, int w, int h) const {
    int64_t r = 0, g = 0, b = 0, n = 0;
    for (int yy = y; yy < y + h; ++yy)
        for (int xx = x; xx < x + w; ++xx) {
            const Colour p = pixel(xx, yy);
            r += p.r;
            g += p.g;
            b += p.b;
            ++n;
        }
    if (n == 0)
        return {};
    return {static_cast<int>(r / n), static_cast<int>(g / n), static_cast<int>(b / n)};
}

QList<DecodedFrame> decodeFrames(const QString& urlOrFile, const FrameOptions& options,
                                 int timeoutMs) {
    QList<DecodedFrame> frames;
    QTemporaryDir dir;
    if (!dir.isValid())
        return frames;
    const QString rawPath = dir.filePath(QStringLiteral("frames.rgb"));
    QString filters;
    if (options.startSecs > 0)
        filters += QStringLiteral("select='gte(t\\,%1)',").arg(options.startSecs);
    filters += QStringLiteral("showinfo");
    if (options.scaleWidth > 0 && options.scaleHeight > 0)
        filters += QStringLiteral(",scale=%1:%2:flags=area")
                       .arg(options.scaleWidth)
                       .arg(options.scaleHeight);
    QStringList argv{QStringLiteral("ffmpeg"),    QStringLiteral("-nostdin"),
                     QStringLiteral("-loglevel"), QStringLiteral("info"),
                     QStringLiteral("-i"),        urlOrFile,
                     QStringLiteral("-map"),      QStringLiteral("0:v:0"),
                     QStringLiteral("-vf"),       filters,
                     QStringLiteral("-fps_mode"), QStringLiteral("passthrough")};
    if (options.maxFrames > 0)
        argv << QStringLiteral("-frames:v") << QString::number(options.maxFrames);
    argv << QStringLiteral("-f") << QStringLiteral("rawvideo") << QStringLiteral("-pix_fmt")
         << QStringLiteral("rgb24") << QStringLiteral("-y") << rawPath;
    const CommandResult run = runCommand(argv, timeoutMs);
    if (!run.started)
        return frames;

    // showinfo prints one line per frame: "... n:  12 pts: ... pts_time:0.4 ... s:640x360 ..."
    static const QRegularExpression line(
        QStringLiteral(R"(Parsed_showinfo.*\bn:\s*\d+.*\bpts_time:([-\d.eE+]+).*\bs:(\d+)x(\d+))"));
    QList<double> times;
    int width = options.scaleWidth;
    int height = options.scaleHeight;
    for (const QString& l : QString::fromUtf8(run.err).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = line.match(l);
        if (!m.hasMatch())
            continue;
        times.append(m.captured(1).toDouble());
        if (options.scaleWidth <= 0 || options.scaleHeight <= 0) {
            width = m.captured(2).toInt();
            height = m.captured(3).toInt();
        }
    }
    QFile raw(rawPath);
    if (width <= 0 || height <= 0 || !raw.open(QIODevice::ReadOnly))
        return frames;
    const qint64 frameBytes = static_cast<qint64>(width) * height * 3;
    for (double t : times) {
        DecodedFrame f;
        f.rgb = raw.read(frameBytes);
        if (f.rgb.size() != frameBytes)
            break;
        f.ptsSecs = t;
        f.width = width;
        f.height = height;
        frames.append(f);
    }
    return frames;
}

AudioLevel measureAudio(const QString& urlOrFile, double startSecs, double durationSecs,
                        int timeoutMs) {
    AudioLevel level;
    QTemporaryDir dir;
    if (!dir.isValid())
        return level;
    const QString rawPath = dir.filePath(QStringLiteral("audio.s16"));
    QStringList argv{QStringLiteral("ffmpeg"),    QStringLiteral("-nostdin"),
                     QStringLiteral("-loglevel"), QStringLiteral("error"),
                     QStringLiteral("-i"),        urlOrFile};
    if (startSecs > 0)
        argv << QStringLiteral("-ss") << QString::number(startSecs);
    if (durationSecs > 0)
        argv << QStringLiteral("-t") << QString::number(durationSecs);
    argv << QStringLiteral("-map") << QStringLiteral("0:a:0") << QStringLiteral("-ac")
         << QStringLiteral("1") << QStringLiteral("-ar") << QStringLiteral("48000")
         << QStringLiteral("-f") << QStringLiteral("s16le") << QStringLiteral("-y") << rawPath;
    const CommandResult run = runCommand(argv, timeoutMs);
    QFile raw(rawPath);
    if (!run.started || run.timedOut || !raw.open(QIODevice::ReadOnly))
        return level;
    const QByteArray data = raw.readAll();
    const auto* samples = reinterpret_cast<const int16_t*>(data.constData());
    const qsizetype count = data.size() / 2;
    double sumSquares = 0;
    int peak = 0;
    for (qsizetype i = 0; i < count; ++i) {
        sumSquares += static_cast<double>(samples[i]) * samples[i];
        peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
    }
    level.ok = count > 0;
    level.samples = count;
    if (count > 0) {
        level.rmsDb = toDb(std::sqrt(sumSquares / static_cast<double>(count)));
        level.peakDb = toDb(peak);
    }
    return level;
}

} // namespace relaycast::test
