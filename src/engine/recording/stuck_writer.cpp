#include "engine/recording/stuck_writer.h"

#include "engine/recording/folder_call.h"
#include "module/module_log.h"

#include <QFile>

#include <mutex>
#include <set>
#include <string>

#ifdef __linux__
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/syscall.h>
#include <sys/types.h>
#include <thread>
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

// Through a descriptor of the process, looked at again once it is held: an id freed and taken
// by another process between the look and the signal is never signalled.
bool endProcess(pid_t pid, const std::string& path) {
#if defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)
    const int process = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (process >= 0) {
        const bool same = writesExactly(pid, path);
        const bool sent =
            same && ::syscall(SYS_pidfd_send_signal, process, SIGKILL, nullptr, 0) == 0;
        ::close(process);
        return sent;
    }
    if (errno != ENOSYS)
        return false; // gone already
#endif
    return ::kill(pid, SIGKILL) == 0;
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
            ended = endProcess(pid, path) || ended;
    }
    return ended;
}

#endif

// The files of recordings whose output is not released. Never destroyed: a release may end on
// a thread that outlives the process's static destructors.
struct HeldWriters {
    std::mutex lock;
    std::multiset<std::string> paths;
};
HeldWriters& heldWriters() {
    static auto* held = new HeldWriters;
    return *held;
}

} // namespace

void recordingOutputHeld(const QString& path) {
    HeldWriters& held = heldWriters();
    std::lock_guard guard(held.lock);
    held.paths.insert(QFile::encodeName(path).toStdString());
}

void recordingOutputReleased(const QString& path) {
    HeldWriters& held = heldWriters();
    std::lock_guard guard(held.lock);
    const auto found = held.paths.find(QFile::encodeName(path).toStdString());
    if (found != held.paths.end())
        held.paths.erase(found);
}

int endWritersStillHeld() {
    std::set<std::string> paths;
    {
        HeldWriters& held = heldWriters();
        std::lock_guard guard(held.lock);
        paths.insert(held.paths.begin(), held.paths.end());
    }
    int ended = 0;
#ifdef __linux__
    // Here, not on a thread: the exit goes on only once they are gone (a look at /proc, no
    // call to a folder).
    for (const std::string& path : paths)
        ended += endWriterOf(path) ? 1 : 0;
#endif
    return ended;
}

void endStuckWriter(const QString& path, std::chrono::milliseconds after) {
#ifdef __linux__
    runDetached([path = QFile::encodeName(path).toStdString(), after] {
        std::this_thread::sleep_for(after);
        if (!endWriterOf(path))
            moduleLog(LOG_WARNING, "found no writer process of the recording to end");
    });
#else
    (void)path;
    (void)after;
#endif
}

} // namespace relaycast
