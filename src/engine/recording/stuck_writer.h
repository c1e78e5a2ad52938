#pragma once

#include <QString>

#include <chrono>

namespace relaycast {

// The host's file output hands its packets, on the encoders' thread, through a pipe to a writer
// process of its own (obs-ffmpeg-mux). When that writer waits for a folder that stopped
// answering, the pipe fills and the encoders' thread waits too: every stream sharing those
// encoders stops sending. Ending the writer of `path` (a child of this process, or of the shell
// the host starts it with, whose file is exactly `path`: this recording's alone) breaks the
// pipe, so the host fails the recording and the encoders go on.
// Returns at once; the search and the end run on a thread of their own, `after` from now: a
// forced stop of the output goes first (see DestinationOutput::stopEndingWriter), since OBS 29
// waits for ever in the release of an output whose writer had ended it by itself before a forced
// stop came. Linux; elsewhere the streams wait for the folder.
void endStuckWriter(const QString& path,
                    std::chrono::milliseconds after = std::chrono::milliseconds(0));

// Any thread. The recordings whose host output is not released yet: from their output's making
// to the end of its release.
void recordingOutputHeld(const QString& path);
void recordingOutputReleased(const QString& path);

// Exit, once its grace is up: ends the writer of every recording whose output is still not
// released (the release waits for a writer that waits for its folder, and so would the host's own
// shutdown right after), so that the exit stays within its bound. Returns how many it ended.
int endWritersStillHeld();

} // namespace relaycast
