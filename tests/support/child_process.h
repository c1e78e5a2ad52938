#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace relaycast::test {

// A program started by a test and ended only through its own PID. The child gets SIGTERM if
// the test process dies first, so no server outlives a crashed test.
class ChildProcess {
public:
    ChildProcess() = default;
    // Ends the child (SIGTERM, then SIGKILL after a grace period) when still running.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (looked up in PATH) with stdin from /dev/null and stdout/stderr sent to
    // the given files (truncated), or to /dev/null when a path is empty. False when the
    // program cannot be found or the fork fails.
    bool start(const QStringList& argv, const QString& stdoutPath = {},
               const QString& stderrPath = {});

    pid_t pid() const { return pid_; }
    // Reaps the child when it has exited.
    bool running();
    // Waits up to timeoutMs for the child to exit by itself.
    bool waitExit(int timeoutMs);
    // Sends `signal` to the child, waits up to timeoutMs, then SIGKILLs it. Returns the raw
    // wait status (or -1 when there was no child).
    int stop(int signal, int timeoutMs);
    // The raw wait status of an exited child; -1 while running or never started.
    int waitStatus() const { return status_; }
    // Exit code of a child that exited normally; -1 otherwise.
    int exitCode() const;

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

struct CommandResult {
    bool started = false;
    bool timedOut = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program to completion (killed after timeoutMs) and collects its output.
CommandResult runCommand(const QStringList& argv, int timeoutMs);

} // namespace relaycast::test
