#include "engine/destination_output.h"
#include "engine/stuck_writer.h"

#include "module/module_log.h"
#include "module/ui_text.h"

#include <obs-defs.h>

namespace relaycast {
namespace {

// Below this the disk counts as full: a muxer cannot even finish its file.
constexpr qint64 kFullDiskBytes = 1024 * 1024;

} // namespace

void watchRecordingFile(DestinationOutput& d) {
    // While its output runs at all: a writer that waits for its folder holds up the encoders
    // also while it stops.
    if (!d.recording || !d.port || !d.port->active()) {
        d.fileGrowth.reset();
        d.fileWatch.reset();
        return;
    }
    const uint64_t handed = d.port->totalBytes();
    const auto look = d.fileWatch.poll(d.url, handed);
    if (d.fileWatch.writerStuck() && d.state != DestinationState::Failed) {
        moduleLog(LOG_WARNING, "a recording's folder does not answer and its writer holds up the "
                               "encoders its input streams with: ending the writer");
        endStuckWriter(d.url);
        d.fail(uiText("La carpeta de grabación no responde: la grabación se detuvo para que las "
                      "emisiones sigan. Lo grabado hasta ahora queda en el archivo."));
        d.requestHostStop(true);
        return;
    }
    if (d.state != DestinationState::Live || d.stopRequested) {
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
