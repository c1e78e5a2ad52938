#pragma once

#include <QString>

namespace relaycast {

// The host's file output hands its packets, on the encoders' thread, through a pipe to a writer
// process of its own (obs-ffmpeg-mux). When that writer waits for a folder that stopped
// answering, the pipe fills and the encoders' thread waits too: every stream sharing those
// encoders stops sending. Ending the writer of `path` (a child of this process, or of the shell
// the host starts it with, whose file is exactly `path`: this recording's alone) breaks the
// pipe, so the host fails the recording and the encoders go on.
// Returns at once; the search and the end run on a thread of their own. Linux; elsewhere the
// streams wait for the folder.
void endStuckWriter(const QString& path);

} // namespace relaycast
