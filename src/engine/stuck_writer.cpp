#include "engine/stuck_writer.h"

#include "engine/folder_call.h"
#include "module/module_log.h"

#include <QFile>

#ifdef __linux__
#include <cctype>
#include <cstdlib>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>
#endif

namespace relaycast {
namespace {

#ifdef __linux__

// On its own thread, which may outlive Qt: the system and the standard library only.

constexpr const char* kWriterProgram = "/obs-ffmpeg-mux";

std::string procFile(pid_t pid, const char* name) {
    const std::string path = "/proc/" + std::to_string(pid) + "/" + name;
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::string text;
    if (file < 0)
        return text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(file, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(got));
    ::close(file);
    return text;
}

// The parent's id from /proc/PID/stat, whose second field (the name) may hold anything.
pid_t parentOf(pid_t pid) {
    const std::string stat = procFile(pid, "stat");
    const size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos || nameEnd + 4 >= stat.size())
        return -1;
    return static_cast<pid_t>(std::atol(stat.c_str() + nameEnd + 4)); // ") S PPID"
}

bool writesExactly(pid_t pid, const std::string& path) {
    const std::string cmdline = procFile(pid, "cmdline");
    const size_t programEnd = cmdline.find('\0');
    if (programEnd == std::string::npos)
        return false;
    const std::string program = cmdline.substr(0, programEnd);
    const std::string first =
        cmdline.substr(programEnd + 1, cmdline.find('\0', programEnd + 1) - programEnd - 1);
    const std::string ending = kWriterProgram;
    return program.size() > ending.size() &&
           program.compare(program.size() - ending.size(), ending.size(), ending) == 0 &&
           first == path;
}

bool endWriterOf(const std::string& path) {
    const pid_t self = ::getpid();
    std::vector<pid_t> pids;
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* entry = ::readdir(proc)) {
            if (std::isdigit(static_cast<unsigned char>(entry->d_name[0])))
                pids.push_back(static_cast<pid_t>(std::atol(entry->d_name)));
        }
        ::closedir(proc);
    }
    bool ended = false;
    for (const pid_t pid : pids) {
        const pid_t parent = parentOf(pid);
        const bool ours = parent == self || (parent > 0 && parentOf(parent) == self);
        if (pid != self && ours && writesExactly(pid, path))
            ended = ::kill(pid, SIGKILL) == 0 || ended;
    }
    return ended;
}

#endif

} // namespace

void endStuckWriter(const QString& path) {
#ifdef __linux__
    runDetached([path = QFile::encodeName(path).toStdString()] {
        if (!endWriterOf(path))
            moduleLog(LOG_WARNING, "found no writer process of the recording to end");
    });
#else
    (void)path;
#endif
}

} // namespace relaycast
