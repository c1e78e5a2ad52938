#include "engine/recording_file_claim.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <mutex>
#include <set>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace relaycast {
namespace {

// Beyond this many recordings of one name in one second something else is wrong.
constexpr int kMaxNumber = 9999;

// The names held by this process's recordings. Never destroyed: a claim may go on a thread that
// ends after the process began running its static destructors.
struct NamesInUse {
    std::mutex lock;
    std::set<QString> paths;
};
NamesInUse& namesInUse() {
    static auto* names = new NamesInUse;
    return *names;
}

bool hold(const QString& path) {
    NamesInUse& names = namesInUse();
    std::lock_guard guard(names.lock);
    return names.paths.insert(path).second;
}

void letGo(const QString& path) {
    NamesInUse& names = namesInUse();
    std::lock_guard guard(names.lock);
    names.paths.erase(path);
}

RecordingFileClaim::Placeholder identityOf(const QString& path) {
    RecordingFileClaim::Placeholder made{true, 0, 0};
#ifndef _WIN32
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
        made.device = static_cast<uint64_t>(info.st_dev);
        made.inode = static_cast<uint64_t>(info.st_ino);
    }
#endif
    return made;
}

enum class Creation { Made, Taken, Refused };

// Exclusively: an existing file of that name, whoever made it, is never opened.
Creation createEmpty(const QString& path) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return Creation::Made;
    const QFileInfo there(path);
    return there.exists() || there.isSymLink() ? Creation::Taken : Creation::Refused;
}

// The file is still the empty one the claim made: the recording never wrote to it.
bool stillEmptyPlaceholder(const QString& path, const RecordingFileClaim::Placeholder& made) {
    if (!made.made)
        return false;
    const QFileInfo file(path);
    if (!file.isFile() || file.isSymLink() || file.size() != 0)
        return false;
    const RecordingFileClaim::Placeholder now = identityOf(path);
    return now.device == made.device && now.inode == made.inode;
}

} // namespace

RecordingFileClaim::~RecordingFileClaim() {
    // The disk may not answer: never on the thread that lets the claim go.
    try {
        std::thread([path = path_, made = placeholder_] {
            if (stillEmptyPlaceholder(path, made))
                QFile::remove(path);
            letGo(path);
        }).detach();
    } catch (...) {
        letGo(path_);
    }
}

void RecordingFileClaim::holdAgain() {
    if (createEmpty(path_) == Creation::Made)
        placeholder_ = identityOf(path_);
}

RecordingFileChoice claimRecordingFile(const RecordingFileName& file) {
    RecordingFileChoice choice;
    if (file.folder.isEmpty() || !QFileInfo(file.folder).isDir()) {
        choice.folderMissing = true;
        return choice;
    }
    const QDir dir(file.folder);
    for (int number = 1; number <= kMaxNumber; ++number) {
        const QString path = dir.filePath(file.fileName(number));
        if (!hold(path))
            continue;
        const Creation created = createEmpty(path);
        if (created == Creation::Made) {
            choice.claim.reset(new RecordingFileClaim(path));
            choice.claim->placeholder_ = identityOf(path);
            return choice;
        }
        letGo(path);
        if (created == Creation::Refused)
            break;
    }
    return choice;
}

} // namespace relaycast
