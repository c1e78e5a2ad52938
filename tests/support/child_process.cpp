#include "child_process.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace relaycast::test {
namespace {

int openForChild(const QByteArray& path, int flags) {
    return ::open(path.isEmpty() ? "/dev/null" : path.constData(), flags | O_CLOEXEC, 0644);
}

} // namespace

ChildProcess::~ChildProcess() {
    if (pid_ > 0)
        stop(SIGTERM, 5000);
}

bool ChildProcess::start(const QStringList& argv, const QString& stdoutPath,
                         const QString& stderrPath) {
    if (pid_ > 0 || argv.isEmpty())
        return false;
    const QString program = QStandardPaths::findExecutable(argv.first());
    if (program.isEmpty())
        return false;

    // Everything the child needs is prepared before fork: after it only async-signal-safe
    // calls are allowed in a process that runs threads.
    const QByteArray programPath = program.toLocal8Bit();
    std::vector<QByteArray> args;
    for (const QString& a : argv)
        args.push_back(a.toLocal8Bit());
    std::vector<char*> cargs;
    for (QByteArray& a : args)
        cargs.push_back(a.data());
    cargs.push_back(nullptr);
    const QByteArray outPath = stdoutPath.toLocal8Bit();
    const QByteArray errPath = stderrPath.toLocal8Bit();
    const pid_t parent = ::getpid();
    const int openFiles = static_cast<int>(::sysconf(_SC_OPEN_MAX));

    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = openForChild(outPath, O_WRONLY | O_CREAT | O_TRUNC);
    const int err = openForChild(errPath, O_WRONLY | O_CREAT | O_TRUNC);
    if (in < 0 || out < 0 || err < 0) {
        for (int fd : {in, out, err})
            if (fd >= 0)
                ::close(fd);
        return false;
    }

    // _Fork, not fork: fork runs the atfork handlers of every library loaded in the host
    // process (graphics drivers, TLS, codecs), and one that waits on a lock another thread
    // held at that moment leaves the child stuck before it ever runs the program.
    const pid_t child = ::_Fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        // Nothing else of the test process: a descriptor the host left inheritable (the pipe
        // to a recording's writer) would keep its other end from ever seeing the end.
        if (::close_range(3, ~0U, 0) != 0)
            for (int fd = 3; fd < openFiles; ++fd)
                ::close(fd);
        ::execv(programPath.constData(), cargs.data());
        ::_exit(127);
    }
    ::close(in);
    ::close(out);
    ::close(err);
    if (child < 0)
        return false;
    pid_ = child;
    status_ = -1;
    return true;
}

bool ChildProcess::running() {
    if (pid_ <= 0)
        return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || r < 0) {
        status_ = r == pid_ ? status : -1;
        pid_ = -1;
        return false;
    }
    return true;
}

bool ChildProcess::waitExit(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

int ChildProcess::stop(int signal, int timeoutMs) {
    if (!running())
        return status_;
    ::kill(pid_, signal);
    if (!waitExit(timeoutMs)) {
        ::kill(pid_, SIGKILL);
        waitExit(5000);
    }
    return status_;
}

int ChildProcess::exitCode() const {
    if (status_ >= 0 && WIFEXITED(status_))
        return WEXITSTATUS(status_);
    return -1;
}

CommandResult runCommand(const QStringList& argv, int timeoutMs) {
    CommandResult result;
    QTemporaryDir dir;
    if (!dir.isValid())
        return result;
    const QString outPath = dir.filePath(QStringLiteral("out"));
    const QString errPath = dir.filePath(QStringLiteral("err"));
    ChildProcess child;
    if (!child.start(argv, outPath, errPath))
        return result;
    result.started = true;
    if (!child.waitExit(timeoutMs)) {
        result.timedOut = true;
        // Tells a slow program from a child that never got as far as running it.
        const QString ran =
            QFileInfo(QStringLiteral("/proc/%1/exe").arg(child.pid())).symLinkTarget();
        child.stop(SIGKILL, 5000);
        result.err += QStringLiteral("[still running after %1 ms: %2]\n")
                          .arg(timeoutMs)
                          .arg(ran.isEmpty() ? QStringLiteral("?") : ran)
                          .toUtf8();
    }
    result.exitCode = child.exitCode();
    QFile outFile(outPath);
    if (outFile.open(QIODevice::ReadOnly))
        result.out = outFile.readAll();
    QFile errFile(errPath);
    if (errFile.open(QIODevice::ReadOnly))
        result.err = errFile.readAll();
    return result;
}

} // namespace relaycast::test
