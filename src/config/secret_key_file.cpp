#ifndef _WIN32

#include "config/secret_key_file.h"

#include <QByteArray>
#include <QFile>

#include <sodium.h>

#include <cerrno>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace relaycast::secret_store {
namespace {

// Closes a descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

bool readFully(int fd, unsigned char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, buffer + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool writeFully(int fd, const unsigned char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = ::write(fd, buffer + done, size - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// Creates every missing folder of `path` readable by the owner only.
bool makePrivateFolders(const QByteArray& path) {
    struct stat info {};
    if (::stat(path.constData(), &info) == 0)
        return S_ISDIR(info.st_mode);
    const qsizetype slash = path.lastIndexOf('/');
    if (slash > 0 && !makePrivateFolders(path.left(slash)))
        return false;
    return ::mkdir(path.constData(), 0700) == 0 || errno == EEXIST;
}

// The key's own folder: created 0700, and narrowed to 0700 when it is ours and wider.
bool preparePrivateFolder(const QByteArray& folder) {
    if (!makePrivateFolders(folder))
        return false;
    struct stat info {};
    if (::lstat(folder.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    if (info.st_uid == ::getuid() && (info.st_mode & 0077) != 0)
        ::chmod(folder.constData(), 0700);
    return true;
}

// Writes a fresh key to a unique temporary name and links it into place; link() never replaces
// an existing file, so a key another process placed first is kept. True when a key file is in
// place afterwards, whoever wrote it.
bool createKeyFile(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash > 0 && !preparePrivateFolder(path.left(slash)))
        return false;

    SecretKey fresh;
    randombytes_buf(fresh.bytes.data(), fresh.bytes.size());

    const QByteArray temporary = path + ".tmp-" + QByteArray::number(::getpid()) + '-' +
                                 QByteArray::number(randombytes_random(), 16);
    {
        Descriptor fd(::open(temporary.constData(),
                             O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (fd.get() < 0)
            return false;
        const bool written = ::fchmod(fd.get(), 0600) == 0 &&
                             writeFully(fd.get(), fresh.bytes.data(), fresh.bytes.size()) &&
                             ::fsync(fd.get()) == 0;
        if (!written) {
            ::unlink(temporary.constData());
            return false;
        }
    }
    const bool linked = ::link(temporary.constData(), path.constData()) == 0;
    const int linkError = errno;
    ::unlink(temporary.constData());
    return linked || linkError == EEXIST;
}

// Both timestamps count: a rewrite changes the modification time, a rename the change time.
bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// The last key read, so that saving a large configuration does not open the key file for
// every secret. It is used only while the file at its path is still the same file: a key
// file that was removed or replaced is read again (or found missing) at once.
struct KeyCache {
    std::mutex mutex;
    QByteArray path;
    struct stat identity {};
    SecretKey key;
    bool filled = false;
};

KeyCache& keyCache() {
    static KeyCache cache;
    return cache;
}

bool isKeyFile(const struct stat& info) {
    return S_ISREG(info.st_mode) && info.st_size == static_cast<off_t>(kSecretKeySize);
}

bool readKeyFileUncached(const QByteArray& path, SecretKey& key, struct stat& identity) {
    Descriptor fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() < 0 || ::fstat(fd.get(), &identity) != 0 || !isKeyFile(identity))
        return false;
    return readFully(fd.get(), key.bytes.data(), key.bytes.size());
}

} // namespace

SecretKey::~SecretKey() {
    sodium_memzero(bytes.data(), bytes.size());
}

bool readKeyFile(const QString& path, SecretKey& key) {
    const QByteArray encoded = QFile::encodeName(path);
    struct stat current {};
    if (::lstat(encoded.constData(), &current) != 0 || !isKeyFile(current))
        return false;

    KeyCache& cache = keyCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    if (cache.filled && cache.path == encoded && sameFile(cache.identity, current)) {
        key.bytes = cache.key.bytes;
        return true;
    }
    struct stat identity {};
    if (!readKeyFileUncached(encoded, key, identity))
        return false;
    cache.path = encoded;
    cache.identity = identity;
    cache.key.bytes = key.bytes;
    cache.filled = true;
    return true;
}

bool readOrCreateKeyFile(const QString& path, SecretKey& key) {
    if (!path.startsWith(QLatin1Char('/')))
        return false; // never a key relative to whatever the working folder is
    if (readKeyFile(path, key))
        return true;
    const QByteArray encoded = QFile::encodeName(path);
    struct stat info {};
    // A key file that is there now was either just placed by another process creating it at
    // the same time (read it), or is unusable and left alone: replacing it would make every
    // secret sealed with it unreadable for good.
    if (::lstat(encoded.constData(), &info) == 0)
        return readKeyFile(path, key);
    return createKeyFile(encoded) && readKeyFile(path, key);
}

} // namespace relaycast::secret_store

#endif
