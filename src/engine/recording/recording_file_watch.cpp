#include "engine/recording/recording_file_watch.h"

#include <filesystem>
#include <system_error>

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
    look_ = FolderCall<Look>::start(folder, [file = nativePath(path), disk = nativePath(folder)] {
        Look look;
        std::error_code error;
        const auto bytes = std::filesystem::file_size(file, error);
        if (!error)
            look.fileBytes = static_cast<int64_t>(bytes);
        const std::filesystem::space_info space = std::filesystem::space(disk, error);
        if (!error)
            look.freeBytes = static_cast<int64_t>(space.available);
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
