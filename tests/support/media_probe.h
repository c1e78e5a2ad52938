#pragma once

#include "child_process.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>

namespace relaycast::test {

// One elementary stream as ffprobe reports it.
struct StreamInfo {
    QString type;  // "video" or "audio"
    QString codec; // ffprobe's codec_name: "h264", "aac", "opus", ...
    int width = 0;
    int height = 0;
    int sampleRate = 0;
    int channels = 0;
};

struct ProbeResult {
    bool ok = false;
    QString error; // ffprobe's complaint when !ok
    QList<StreamInfo> streams;
    double durationSecs = 0; // the container's length; 0 when it states none

    // The first stream of the type, or null.
    const StreamInfo* first(const QString& type) const;
};

// `ffprobe -show_streams -show_format` on a live URL (rtmp://127.0.0.1/...) or a file. On a live
// RTMP stream this takes a few seconds (ffprobe waits for a keyframe).
ProbeResult probeStreams(const QString& urlOrFile, int timeoutMs = 30000);

// Copies a live stream as it arrives into a .ts file (ffmpeg -c copy), like a viewer would
// receive it, for decoding afterwards.
class StreamRecorder {
public:
    StreamRecorder();
    ~StreamRecorder();
    StreamRecorder(const StreamRecorder&) = delete;
    StreamRecorder& operator=(const StreamRecorder&) = delete;

    bool start(const QString& url);
    // Asks ffmpeg to finish the file (SIGINT) and waits for it.
    void stop();
    QString path() const;
    qint64 recordedBytes() const;
    QString log() const;

private:
    QTemporaryDir dir_;
    ChildProcess process_;
};

struct Colour {
    int r = 0;
    int g = 0;
    int b = 0;
};

// A decoded video frame as packed RGB24, with its presentation time in seconds.
struct DecodedFrame {
    double ptsSecs = 0;
    int width = 0;
    int height = 0;
    QByteArray rgb;

    Colour pixel(int x, int y) const;
    // Mean colour of the rectangle [x, x+w) × [y, y+h).
    Colour average(int x, int y, int w, int h) const;
};

struct FrameOptions {
    int maxFrames = 0;    // 0: every frame
    double startSecs = 0; // skip frames before this input time
    int scaleWidth = 0;   // 0: keep the stream's size
    int scaleHeight = 0;
};

// Decodes the video of a file (or URL) with ffmpeg into RGB frames, keeping every decoded
// frame (no frame-rate conversion) with its timestamp.
QList<DecodedFrame> decodeFrames(const QString& urlOrFile, const FrameOptions& options = {},
                                 int timeoutMs = 60000);

// Presentation times in seconds of the packets of the first stream of `type` ("video" or
// "audio") of a recorded file, in file order; empty when ffprobe fails.
QList<double> packetTimes(const QString& file, const QString& type, int timeoutMs = 60000);

// Loudness of the first audio stream, decoded to 48 kHz mono 16-bit.
struct AudioLevel {
    bool ok = false;
    int64_t samples = 0;
    double rmsDb = -120;  // dBFS of the whole signal; -120 for pure silence
    double peakDb = -120; // dBFS of the loudest sample
};
AudioLevel measureAudio(const QString& urlOrFile, double startSecs = 0, double durationSecs = 0,
                        int timeoutMs = 60000);

} // namespace relaycast::test
