#pragma once

#include "config/config_model.h"

#include <QString>

#include <cstdint>

namespace relaycast {

class DestinationOutput;
struct EntryPipeline;

// Creates the destination's host service and output on the pipeline and gives it its encoders
// (kind check, service, output, its video rendition of `entry` for `choice`, the shared audio
// encoder of its audio choice for the settings its service leaves, its delay, reconnect
// settings, the four signals connected to `d`), installing them as d.port. On failure calls
// d.fail(message), copies it to out and returns false.
bool openDestinationOutput(DestinationOutput& d, EntryPipeline& pipeline, const EntryConfig& entry,
                           const SendChoice& choice, QString* out);

// The same for a recording: the host's file output writing d.file with its rendition and a share
// of the audio encoders (no second encode of what a stream already sends); never delayed.
bool openRecordingOutput(DestinationOutput& d, EntryPipeline& pipeline, const EntryConfig& entry,
                         const SendChoice& choice, QString* out);

} // namespace relaycast
