#include "own_mounts.h"

#include "child_process.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>

namespace relaycast::test {
namespace {

bool g_own = false;
QString g_why = QStringLiteral("the test process did not ask for a mount namespace of its own");

bool refuse(QString* why, const QString& reason) {
    if (why)
        *why = reason;
    return false;
}

QString lastSystemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

bool enterOwnMountNamespace(QString* why) {
    if (::unshare(CLONE_NEWNS) != 0) {
        g_why = QStringLiteral("no mount namespace of its own (unshare: %1; it needs root)")
                    .arg(lastSystemError());
        return refuse(why, g_why);
    }
    // Without this, mounts made here would reach the machine through shared mount points.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        g_why =
            QStringLiteral("cannot make / private in the own namespace: %1").arg(lastSystemError());
        return refuse(why, g_why);
    }
    g_own = true;
    g_why.clear();
    return true;
}

bool hasOwnMountNamespace(QString* why) {
    if (!g_own && why)
        *why = g_why;
    return g_own;
}

ProcessMount::~ProcessMount() {
    unbind();
}

bool ProcessMount::bind(const QString& source, const QString& target, QString* why) {
    unbind();
    if (!hasOwnMountNamespace(why))
        return false;
    if (::mount(QFile::encodeName(source).constData(), QFile::encodeName(target).constData(),
                nullptr, MS_BIND, nullptr) != 0)
        return refuse(
            why,
            QStringLiteral("cannot bind %1 over %2: %3").arg(source, target, lastSystemError()));
    target_ = target;
    return true;
}

void ProcessMount::unbind() {
    if (!target_.isEmpty())
        ::umount2(QFile::encodeName(target_).constData(), MNT_DETACH);
    target_.clear();
}

bool ExtraTrust::add(const QString& caPemPath, QString* why) {
    const QString certs = QStringLiteral("/etc/ssl/certs");
    if (!copy_.isValid())
        return refuse(why, QStringLiteral("no temporary folder"));
    // Symbolic links stay links: they name files of the machine's trust, read through them.
    const CommandResult copied = runCommand(
        {QStringLiteral("cp"), QStringLiteral("-a"), certs + QStringLiteral("/."), copy_.path()},
        20000);
    if (copied.exitCode != 0)
        return refuse(
            why,
            QStringLiteral("cannot copy %1: %2").arg(certs, QString::fromLocal8Bit(copied.err)));
    const QString added = copy_.filePath(QStringLiteral("relaycast-test-authority.pem"));
    if (!QFile::copy(caPemPath, added))
        return refuse(why, QStringLiteral("cannot copy the test authority"));
    return mount_.bind(copy_.path(), certs, why);
}

bool LocalhostAs::set(const QString& address, QString* why) {
    const QString path = dir_.filePath(QStringLiteral("hosts"));
    QFile hosts(path);
    if (!dir_.isValid() || !hosts.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return refuse(why, QStringLiteral("cannot write a hosts file"));
    hosts.write((address + QStringLiteral(" localhost\n")).toUtf8());
    hosts.close();
    return mount_.bind(path, QStringLiteral("/etc/hosts"), why);
}

} // namespace relaycast::test
