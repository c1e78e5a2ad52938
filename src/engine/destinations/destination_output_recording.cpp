#include "engine/destinations/destination_output.h"

#include "module/module_log.h"
#include "module/ui_text.h"

#include <obs-defs.h>

namespace relaycast {
namespace {

// Below this the disk counts as full: a muxer cannot even finish its file.
constexpr qint64 kFullDiskBytes = 1024 * 1024;

} // namespace

void watchRecordingFile(DestinationOutput& d, bool encodersShared) {
    // While its output runs at all: a writer that waits for its folder holds up the encoders
    // also while it stops.
    if (!d.recording || !d.port || !d.port->active()) {
        d.fileGrowth.reset();
        d.fileWatch.reset();
        return;
    }
    const uint64_t handed = d.port->totalBytes();
    const auto look = d.fileWatch.poll(d.file, handed);
    // Ending the writer costs an MP4 or MOV its index, written at its end: only when streams
    // wait on the same encoders. Alone, the recording waits for its folder to answer again.
    if (d.fileWatch.writerStuck() && encodersShared && d.phase != DestinationPhase::Failed) {
        const bool indexAtEnd = d.file.endsWith(QLatin1String(".mp4"), Qt::CaseInsensitive) ||
                                d.file.endsWith(QLatin1String(".mov"), Qt::CaseInsensitive);
        moduleLog(LOG_WARNING,
                  "a recording's folder does not answer and its writer holds up the encoders "
                  "its input streams with: ending the writer%s",
                  indexAtEnd ? " (its file gets no index and likely does not play)" : "");
        d.fail(indexAtEnd
                   ? uiText("La carpeta de grabación no responde: la grabación se detuvo para que "
                            "las emisiones sigan. El archivo MP4 o MOV no se terminó de escribir y "
                            "probablemente no se pueda reproducir.")
                   : uiText("La carpeta de grabación no responde: la grabación se detuvo para que "
                            "las emisiones sigan. Lo grabado hasta ahora queda en el archivo."));
        d.stopEndingWriter();
        return;
    }
    if (d.state() != DestinationState::Live || d.stopRequested) {
        d.fileGrowth.reset();
        return;
    }
    if (!look || !d.fileGrowth.sample(d.clock.nowMs(), handed, look->fileBytes))
        return;
    const bool full = look->freeBytes >= 0 && look->freeBytes < kFullDiskBytes;
    moduleLog(LOG_WARNING, "recording stopped: its file has not grown for %d s%s",
              static_cast<int>(RecordingStallMeter::kWindowMs / 1000),
              full ? " and its disk is full" : "");
    d.fail(full ? uiText("La grabación se detuvo: el disco está lleno. Lo grabado hasta ahora "
                         "queda en el archivo.")
                : recordingStopText(OBS_OUTPUT_ERROR, {}));
    d.requestHostStop(true);
}

} // namespace relaycast
