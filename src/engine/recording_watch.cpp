#include "engine/destination_output.h"

#include "module/module_log.h"
#include "module/ui_text.h"

#include <obs-defs.h>

#include <QFileInfo>
#include <QStorageInfo>

namespace relaycast {
namespace {

// Below this the disk counts as full: a muxer cannot even finish its file.
constexpr qint64 kFullDiskBytes = 1024 * 1024;

} // namespace

void watchRecordingFile(DestinationOutput& d) {
    if (!d.recording || !d.port || d.state != DestinationState::Live || d.stopRequested) {
        d.fileGrowth.reset();
        return;
    }
    const QFileInfo file(d.url);
    const int64_t fileBytes = file.exists() ? file.size() : -1;
    if (!d.fileGrowth.sample(d.clock.nowMs(), d.port->totalBytes(), fileBytes))
        return;
    const QStorageInfo disk(file.absolutePath());
    const bool full = disk.isValid() && disk.bytesAvailable() < kFullDiskBytes;
    moduleLog(LOG_WARNING, "recording stopped: its file has not grown for %d s%s",
              static_cast<int>(RecordingStallMeter::kWindowMs / 1000),
              full ? " and its disk is full" : "");
    d.fail(full ? uiText("La grabación se detuvo: el disco está lleno. Lo grabado hasta ahora "
                         "queda en el archivo.")
                : recordingStopText(OBS_OUTPUT_ERROR, {}));
    d.requestHostStop(true);
}

} // namespace relaycast
