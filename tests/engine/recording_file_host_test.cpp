// Where a recording goes and what its file is called: OBS's own folder and name format from the
// profile in either output mode, the entry's own folder, no file ever overwritten, and folders
// that cannot take the file refused with a message the card shows.

#include "engine/recording_file.h"
#include "support/fake_frontend.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace relaycast;
using namespace relaycast::test;

namespace {

struct ProfileCase {
    const char* name;
    const char* settings; // the profile's ini text
    const char* folder;   // expected; "" for the user's video folder or home
    const char* format;
    bool spaces;
};

TEST(RecordingFile, OBSsFolderAndNameFormatComeFromTheProfileInEitherOutputMode) {
    const ProfileCase cases[] = {
        {"simple",
         "[Output]\nMode=Simple\nFilenameFormatting=%CCYY %hh\n[SimpleOutput]\n"
         "FilePath=/media/simple\n[AdvOut]\nRecFilePath=/media/advanced\n",
         "/media/simple", "%CCYY %hh", true},
        {"advanced",
         "[Output]\nMode=Advanced\n[SimpleOutput]\nFilePath=/media/simple\n"
         "[AdvOut]\nRecFilePath=/media/advanced\nRecFileNameWithoutSpace=true\n",
         "/media/advanced", "%CCYY-%MM-%DD %hh-%mm-%ss", false},
        {"advanced ffmpeg",
         "[Output]\nMode=Advanced\n[AdvOut]\nRecType=FFmpeg\n"
         "RecFilePath=/media/advanced\nFFFilePath=/media/ffmpeg\n",
         "/media/ffmpeg", "%CCYY-%MM-%DD %hh-%mm-%ss", true},
        {"unset", "", "", "%CCYY-%MM-%DD %hh-%mm-%ss", true},
    };
    for (const ProfileCase& c : cases) {
        FakeFrontend frontend;
        config_t* profile = frontend.profileConfig();
        config_t* read = nullptr;
        ASSERT_EQ(config_open_string(&read, c.settings), CONFIG_SUCCESS) << c.name;
        for (const char* section : {"Output", "SimpleOutput", "AdvOut"}) {
            for (const char* key : {"Mode", "FilenameFormatting", "FilePath", "RecFilePath",
                                    "RecType", "FFFilePath", "RecFileNameWithoutSpace"}) {
                if (const char* value = config_get_string(read, section, key))
                    config_set_string(profile, section, key, value);
            }
        }
        config_close(read);

        const HostRecordingPlace place = hostRecordingPlace();
        if (*c.folder)
            EXPECT_EQ(place.folder, QString::fromUtf8(c.folder)) << c.name;
        else
            EXPECT_TRUE(QFileInfo(place.folder).isAbsolute()) << c.name;
        EXPECT_EQ(place.nameFormat, QString::fromUtf8(c.format)) << c.name;
        EXPECT_EQ(place.spaces, c.spaces) << c.name;
    }
}

TEST(RecordingFile, ANewFileNeverTakesTheNameOfOneThatExists) {
    QTemporaryDir obsFolder;
    QTemporaryDir ownFolder;
    const HostRecordingPlace host{obsFolder.path(), QStringLiteral("take"), true};
    RecordingConfig recording;
    QString error;

    // The entry's name follows OBS's name, made safe for any file system.
    QString path = newRecordingPath(recording, host, QStringLiteral("Vertical: 9/16"), &error);
    EXPECT_EQ(path, QDir(obsFolder.path()).filePath(QStringLiteral("take Vertical_ 9_16.mkv")));
    EXPECT_TRUE(error.isEmpty());

    recording.formato = QStringLiteral("mp4");
    recording.carpeta = ownFolder.path();
    QSet<QString> taken;
    for (const char* expected : {"take Main.mp4", "take Main (2).mp4", "take Main (3).mp4"}) {
        path = newRecordingPath(recording, host, QStringLiteral("Main"), &error,
                                [&](const QString& p) { return taken.contains(p); });
        EXPECT_EQ(path, QDir(ownFolder.path()).filePath(QString::fromUtf8(expected)));
        taken.insert(path);
    }
    // A real file counts too, whatever wrote it.
    QFile existing(QDir(ownFolder.path()).filePath(QStringLiteral("take Main.mp4")));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    EXPECT_EQ(newRecordingPath(recording, host, QStringLiteral("Main"), &error),
              QDir(ownFolder.path()).filePath(QStringLiteral("take Main (2).mp4")));

    // Underscores instead of spaces when OBS's profile asks for them.
    const HostRecordingPlace noSpaces{obsFolder.path(), QStringLiteral("%CCYY take"), false};
    path = newRecordingPath(RecordingConfig{}, noSpaces, QStringLiteral("My input"), &error);
    EXPECT_FALSE(QFileInfo(path).fileName().contains(QLatin1Char(' '))) << path.toStdString();
    EXPECT_TRUE(path.endsWith(QLatin1String("_take_My_input.mkv"))) << path.toStdString();
}

TEST(RecordingFile, AFolderThatCannotTakeTheFileIsRefusedWithItsName) {
    QTemporaryDir dir;
    QFile notAFolder(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(notAFolder.open(QIODevice::WriteOnly));
    notAFolder.close();
    const struct {
        QString folder;
        QString message;
    } cases[] = {
        {dir.filePath(QStringLiteral("missing")),
         QString::fromUtf8("La carpeta de grabación «%1» no existe.")
             .arg(dir.filePath(QStringLiteral("missing")))},
        {notAFolder.fileName(),
         QString::fromUtf8("La carpeta de grabación «%1» no existe.").arg(notAFolder.fileName())},
        // Not even root may create files there.
        {QStringLiteral("/proc"),
         QString::fromUtf8("No se puede escribir en la carpeta de grabación «/proc».")},
    };
    for (const auto& c : cases) {
        RecordingConfig recording;
        recording.carpeta = c.folder;
        QString error;
        EXPECT_TRUE(newRecordingPath(recording, {dir.path(), QStringLiteral("x"), true},
                                     QStringLiteral("e"), &error)
                        .isEmpty());
        EXPECT_EQ(error, c.message);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1)
        << "the writability probe leaves nothing behind";
}

} // namespace
