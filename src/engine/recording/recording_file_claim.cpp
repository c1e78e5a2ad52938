#include "engine/recording/recording_file_claim.h"

#include "engine/recording/folder_call.h"

#include <QDir>

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace relaycast {
namespace {

namespace fs = std::filesystem;

// Beyond this many recordings of one name in one second something else is wrong.
constexpr int kMaxNumber = 100;

// The names held by this process's recordings. Never destroyed: a claim may go on a thread that
// ends after the process began running its static destructors.
struct NamesInUse {
    std::mutex lock;
    std::set<std::string> paths;
};
NamesInUse& namesInUse() {
    static auto* names = new NamesInUse;
    return *names;
}

bool hold(const std::string& path) {
    NamesInUse& names = namesInUse();
    std::lock_guard guard(names.lock);
    return names.paths.insert(path).second;
}

void letGo(const std::string& path) {
    NamesInUse& names = namesInUse();
    std::lock_guard guard(names.lock);
    names.paths.erase(path);
}

RecordingFileClaim::Placeholder identityOf(const fs::path& path) {
    RecordingFileClaim::Placeholder made{true, 0, 0};
#ifndef _WIN32
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        made.device = static_cast<uint64_t>(info.st_dev);
        made.inode = static_cast<uint64_t>(info.st_ino);
    }
#endif
    return made;
}

enum class Creation { Made, Taken, Refused };

// Exclusively: an existing file of that name (a link too), whoever made it, is never opened.
Creation createEmpty(const fs::path& path) {
#ifdef _WIN32
    const int file =
        _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
    const int error = errno;
    if (file < 0)
        return error == EEXIST ? Creation::Taken : Creation::Refused;
#ifdef _WIN32
    _close(file);
#else
    ::close(file);
#endif
    return Creation::Made;
}

// The file is still the empty one the claim made: the recording never wrote to it.
bool stillEmptyPlaceholder(const fs::path& path, const RecordingFileClaim::Placeholder& made) {
    std::error_code error;
    if (!made.made || !fs::is_regular_file(fs::symlink_status(path, error)) ||
        fs::file_size(path, error) != 0 || error)
        return false;
    const RecordingFileClaim::Placeholder now = identityOf(path);
    return now.device == made.device && now.inode == made.inode;
}

} // namespace

RecordingFileCandidates recordingFileCandidates(const RecordingFileName& file) {
    RecordingFileCandidates candidates{file.folder, nativePath(file.folder), {}};
    const QDir dir(file.folder);
    for (int number = 1; number <= kMaxNumber; ++number) {
        const QString path = dir.filePath(file.fileName(number));
        candidates.paths.emplace_back(path, nativePath(path));
    }
    return candidates;
}

RecordingFileClaim::RecordingFileClaim(QString path, std::filesystem::path native,
                                       std::filesystem::path marker, std::string key)
    : path_(std::move(path)), folder_(path_.left(path_.lastIndexOf(QLatin1Char('/')))),
      key_(std::move(key)), held_(std::make_shared<Held>()) {
    held_->native = std::move(native);
    held_->marker = std::move(marker);
}

RecordingFileClaim::~RecordingFileClaim() {
    // The disk may not answer: never on the thread that lets the claim go.
    if (!runDetached([key = key_, held = held_] {
            std::lock_guard guard(held->lock);
            held->gone = true;
            std::error_code error;
            if (stillEmptyPlaceholder(held->native, held->placeholder))
                fs::remove(held->native, error);
            fs::remove(held->marker, error);
            letGo(key);
        }))
        letGo(key_);
}

void RecordingFileClaim::holdAgain() {
    runOnFolderThread(folder_, [held = held_] {
        std::lock_guard guard(held->lock);
        if (!held->gone && createEmpty(held->native) == Creation::Made)
            held->placeholder = identityOf(held->native);
    });
}

RecordingFileChoice claimRecordingFile(const RecordingFileCandidates& candidates) {
    RecordingFileChoice choice;
    std::error_code error;
    if (candidates.folder.isEmpty() || !fs::is_directory(candidates.nativeFolder, error)) {
        choice.folderMissing = true;
        return choice;
    }
    // One spelling of the folder for every claim of this process (a link, "..", a second way
    // to the same share).
    const fs::path folder = fs::canonical(candidates.nativeFolder, error);
    for (const auto& [path, native] : candidates.paths) {
        const std::string key =
            ((error ? native.parent_path() : folder) / native.filename()).string();
        if (!hold(key))
            continue;
        const fs::path marker =
            native.parent_path() / ("." + native.filename().string() + kClaimMarkerSuffix);
        Creation created = createEmpty(marker);
        if (created == Creation::Made) {
            created = createEmpty(native);
            if (created == Creation::Made) {
                choice.claim.reset(new RecordingFileClaim(path, native, marker, key));
                choice.claim->held_->placeholder = identityOf(native);
                return choice;
            }
            std::error_code removal;
            fs::remove(marker, removal);
        }
        letGo(key);
        if (created == Creation::Refused)
            break;
    }
    return choice;
}

} // namespace relaycast
