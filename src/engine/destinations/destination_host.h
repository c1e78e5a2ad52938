#pragma once

#include <QString>

#include <cstdint>

namespace relaycast {

class DestinationOutput;
struct EntryPipeline;

// Creates the destination's host service and output on the pipeline and gives it its audio
// encoder (kind check, service, output, audio encoder id, the pipeline's shared encoder for the
// settings its service leaves, reconnect settings, the four signals connected to `d`),
// installing them as d.port. On failure calls d.fail(message), copies it to out and returns
// false.
bool openDestinationOutput(DestinationOutput& d, EntryPipeline& pipeline, int32_t audioKbps,
                           const QString& audioCodec, QString* out);

// The same for a recording: the host's file output writing d.url with the pipeline's video
// encoder and a share of its audio encoders (no second encode).
bool openRecordingOutput(DestinationOutput& d, EntryPipeline& pipeline, int32_t audioKbps,
                         const QString& audioCodec, QString* out);

} // namespace relaycast
