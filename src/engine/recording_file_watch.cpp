#include "engine/recording_file_watch.h"

#include <QFileInfo>
#include <QStorageInfo>

namespace relaycast {

std::optional<RecordingFileWatch::Look> RecordingFileWatch::poll(const QString& path,
                                                                 uint64_t handedBytes) {
    if (handed_ != handedBytes) {
        handed_ = handedBytes;
        handedChangedAt_ = std::chrono::steady_clock::now();
    }
    std::optional<Look> answer;
    if (look_.answered())
        answer = look_.take();
    if (look_.started())
        return answer;
    const QString folder = path.left(path.lastIndexOf(QLatin1Char('/')));
    look_ = FolderCall<Look>::start(folder, [path] {
        Look look;
        const QFileInfo file(path);
        look.fileBytes = file.exists() ? file.size() : -1;
        const QStorageInfo disk(file.absolutePath());
        if (disk.isValid())
            look.freeBytes = disk.bytesAvailable();
        return look;
    });
    refused_ = !look_.started();
    return answer;
}

bool RecordingFileWatch::writerStuck() const {
    return folderSilent() &&
           std::chrono::steady_clock::now() - handedChangedAt_ >= kFolderAnswerBound;
}

} // namespace relaycast
