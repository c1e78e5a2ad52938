#include "module/settings_path.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>
#include <util/base.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

using relaycast::adoptLegacySettings;
using relaycast::test::LogCapture;

namespace {

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class LegacySettings : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString current() const { return dir.path() + "/plugin_config/relaycast/salidas.json"; }
    QString legacy() const { return dir.path() + "/plugin_config/flujomix/salidas.json"; }
};

TEST_F(LegacySettings, CopiesTheLegacyFileOnceAndLeavesItInPlace) {
    writeFile(legacy(), "{\"version\": 1}");
    QFile::setPermissions(legacy(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    LogCapture log;

    EXPECT_EQ(adoptLegacySettings(current()), current());
    EXPECT_EQ(readFile(current()), "{\"version\": 1}");
    EXPECT_TRUE(QFileInfo::exists(legacy()));
    struct stat info = {};
    ASSERT_EQ(stat(current().toUtf8().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the copy holds keys: owner access only";
    EXPECT_EQ(log.linesAt(LOG_INFO),
              QStringList{"[relaycast] previous configuration copied to the new location"});

    // A later start finds the current file and neither copies nor logs again.
    writeFile(legacy(), "{\"version\": 2}");
    log.clear();
    adoptLegacySettings(current());
    EXPECT_EQ(readFile(current()), "{\"version\": 1}");
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST_F(LegacySettings, NoFileAnywhereMeansNoCopyAndNoLogLine) {
    LogCapture log;
    EXPECT_EQ(adoptLegacySettings(current()), current());
    EXPECT_FALSE(QFileInfo::exists(current()));
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST_F(LegacySettings, PathWithoutTheFolderSegmentTriesNoCopy) {
    const QString path = dir.path() + "/elsewhere/salidas.json";
    LogCapture log;
    EXPECT_EQ(adoptLegacySettings(path), path);
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST_F(LegacySettings, EveryOccurrenceOfTheFolderSegmentIsReplaced) {
    const QString path = dir.path() + "/relaycast/cfg/relaycast/salidas.json";
    writeFile(dir.path() + "/flujomix/cfg/flujomix/salidas.json", "twice");
    writeFile(dir.path() + "/flujomix/cfg/relaycast/salidas.json", "once");
    adoptLegacySettings(path);
    EXPECT_EQ(readFile(path), "twice");
}

TEST_F(LegacySettings, SegmentIsMatchedCaseSensitively) {
    const QString path = dir.path() + "/Relaycast/salidas.json";
    writeFile(dir.path() + "/flujomix/salidas.json", "legacy");
    adoptLegacySettings(path);
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST_F(LegacySettings, FailedCopyIsLoggedAsAWarning) {
    writeFile(legacy(), "legacy");
    // The current folder cannot be created: a plain file stands where it should be.
    writeFile(dir.path() + "/plugin_config/relaycast", "not a folder");
    LogCapture log;
    adoptLegacySettings(current());
    EXPECT_EQ(log.linesAt(LOG_WARNING),
              QStringList{"[relaycast] could not copy the previous configuration"});
}

} // namespace
