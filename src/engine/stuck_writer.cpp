#include "engine/stuck_writer.h"

#include "module/module_log.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <thread>

#ifdef __linux__
#include <csignal>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace relaycast {
namespace {

#ifdef __linux__

constexpr const char* kWriterProgram = "obs-ffmpeg-mux";

QByteArray procFile(const QString& pid, const char* name) {
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid, QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The parent's id from /proc/PID/stat, whose second field (the name) may hold anything.
pid_t parentOf(const QString& pid) {
    const QByteArray stat = procFile(pid, "stat");
    const qsizetype nameEnd = stat.lastIndexOf(')');
    const QList<QByteArray> fields = stat.mid(nameEnd + 2).split(' ');
    return nameEnd > 0 && fields.size() > 1 ? static_cast<pid_t>(fields[1].toLongLong()) : -1;
}

bool writesExactly(const QString& pid, const QByteArray& path) {
    const QList<QByteArray> argv = procFile(pid, "cmdline").split('\0');
    return argv.size() > 1 && argv[0].endsWith(QByteArray("/") + kWriterProgram) && argv[1] == path;
}

bool endWriterOf(const QByteArray& path) {
    bool ended = false;
    const pid_t self = ::getpid();
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : pids) {
        bool number = false;
        const pid_t id = static_cast<pid_t>(pid.toLongLong(&number));
        if (!number || id == self)
            continue;
        const pid_t parent = parentOf(pid);
        const bool ours =
            parent == self || (parent > 0 && parentOf(QString::number(parent)) == self);
        if (ours && writesExactly(pid, path))
            ended = ::kill(id, SIGKILL) == 0 || ended;
    }
    return ended;
}

#endif

} // namespace

void endStuckWriter(const QString& path) {
#ifdef __linux__
    try {
        std::thread([path = QFile::encodeName(path)] {
            if (!endWriterOf(path))
                moduleLog(LOG_WARNING, "found no writer process of the recording to end");
        }).detach();
    } catch (...) {
    }
#else
    (void)path;
#endif
}

} // namespace relaycast
