// The SRT guard holds the build of the SRT library that the host's own SRT output really calls:
// checked against the dynamic linker's record of what obs-ffmpeg's srt_startup binds to, in a
// copy of this process started with every binding made at load and logged.

#include "module/srt_guard.h"
#include "support/child_process.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr const char* kReportVariable = "RELAYCAST_SRT_GUARD_REPORT";

QString canonical(const QString& path) {
    return QFileInfo(path).canonicalFilePath();
}

// Run only inside the copy the test below starts: writes the file the guard holds.
TEST(SrtGuardHostChild, ReportsTheLibraryItHolds) {
    const QByteArray report = qgetenv(kReportVariable);
    if (report.isEmpty())
        GTEST_SKIP() << "runs inside SrtGuardHost only";
    relaycast::holdSrtReferences();
    QFile out(QString::fromLocal8Bit(report));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(QByteArray::fromStdString(relaycast::moduleSrtGuard().libraryPath()));
    relaycast::releaseSrtReferences();
}

TEST(SrtGuardHost, HoldsTheBuildTheHostsSrtOutputCalls) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString report = dir.filePath(QStringLiteral("guard.txt"));
    const QString linkerLog = dir.filePath(QStringLiteral("ld"));
    qputenv(kReportVariable, report.toLocal8Bit());
    qputenv("LD_BIND_NOW", "1");
    qputenv("LD_DEBUG", "bindings");
    qputenv("LD_DEBUG_OUTPUT", linkerLog.toLocal8Bit());
    const relaycast::test::CommandResult run = relaycast::test::runCommand(
        {QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath(),
         QStringLiteral("--gtest_filter=SrtGuardHostChild.*")},
        120000);
    for (const char* name : {kReportVariable, "LD_BIND_NOW", "LD_DEBUG", "LD_DEBUG_OUTPUT"})
        qunsetenv(name);
    ASSERT_TRUE(run.started && !run.timedOut);
    ASSERT_EQ(run.exitCode, 0) << run.err.right(2000).toStdString();

    QFile held(report);
    ASSERT_TRUE(held.open(QIODevice::ReadOnly));
    const QString guardLibrary = canonical(QString::fromLocal8Bit(held.readAll()));
    ASSERT_FALSE(guardLibrary.isEmpty()) << "the guard found no SRT library through the process";

    // "binding file .../obs-ffmpeg.so [0] to .../libsrt....so.1.5 [0]: normal symbol `srt_startup'"
    static const QRegularExpression binding(QStringLiteral(
        R"(binding file (\S*obs-ffmpeg\.so) \[\d+\] to (\S+) \[\d+\]: normal symbol `srt_startup')"));
    QString hostLibrary;
    for (const QFileInfo& file : QDir(dir.path()).entryInfoList({QStringLiteral("ld.*")})) {
        QFile log(file.filePath());
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        const QRegularExpressionMatch match = binding.match(QString::fromLocal8Bit(log.readAll()));
        if (match.hasMatch())
            hostLibrary = canonical(match.captured(2));
    }
    ASSERT_FALSE(hostLibrary.isEmpty()) << "obs-ffmpeg's srt_startup binding was not logged";
    EXPECT_EQ(guardLibrary.toStdString(), hostLibrary.toStdString());
}

} // namespace
