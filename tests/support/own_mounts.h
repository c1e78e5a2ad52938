#pragma once

// A mount namespace of the test process's own, so a test can change what this process sees of
// /etc (its trusted certificate authorities, where "localhost" leads) without touching the
// machine: nothing mounted here is seen by any other process, and it all goes with the process.

#include <QString>
#include <QTemporaryDir>

namespace relaycast::test {

// Unshares the mount namespace and makes every mount in it private. It must run while the
// process has one thread (the start of main): the kernel refuses it to a process whose threads
// share their file-system state. False with the reason when it cannot be made (not root).
bool enterOwnMountNamespace(QString* why);
// Whether enterOwnMountNamespace succeeded; `why` tells what happened otherwise.
bool hasOwnMountNamespace(QString* why = nullptr);

// A file or folder bound over another for this process while the object lives.
class ProcessMount {
public:
    ProcessMount() = default;
    ~ProcessMount();
    ProcessMount(const ProcessMount&) = delete;
    ProcessMount& operator=(const ProcessMount&) = delete;

    // Only in the process's own mount namespace. False with the reason otherwise.
    bool bind(const QString& source, const QString& target, QString* why);
    void unbind();

private:
    QString target_;
};

// /etc/ssl/certs as the machine has it plus one more authority, for this process only: the
// host's RTMP output reads every file there at each connection.
class ExtraTrust {
public:
    bool add(const QString& caPemPath, QString* why);

private:
    QTemporaryDir copy_;
    ProcessMount mount_;
};

// /etc/hosts with "localhost" given to `address` only (127.0.0.1 or ::1), for this process.
class LocalhostAs {
public:
    bool set(const QString& address, QString* why);

private:
    QTemporaryDir dir_;
    ProcessMount mount_;
};

} // namespace relaycast::test
