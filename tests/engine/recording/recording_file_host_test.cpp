// Where a recording goes and what its file is called: OBS's own folder and name format from the
// profile in either output mode, the entry's own folder, a name no other file or recording has,
// within what the file system takes, and folders that cannot take the file refused.

#include "engine/recording/recording_file.h"
#include "engine/recording/recording_file_claim.h"
#include "support/fake_frontend.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;

namespace {

struct ProfileCase {
    const char* name;
    const char* settings; // the profile's ini text
    const char* folder;   // expected; "" for the user's videos folder
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
        EXPECT_EQ(place.folder,
                  *c.folder ? QString::fromUtf8(c.folder)
                            : QStandardPaths::writableLocation(QStandardPaths::MoviesLocation))
            << c.name;
        EXPECT_EQ(place.nameFormat, QString::fromUtf8(c.format)) << c.name;
        EXPECT_EQ(place.spaces, c.spaces) << c.name;
    }
}

// Claims let go of their name and their unused empty file on a thread of their own.
bool within(const std::function<bool()>& condition) {
    for (int pass = 0; pass < 200; ++pass, std::this_thread::sleep_for(10ms)) {
        if (condition())
            return true;
    }
    return false;
}

int filesIn(const QString& folder) {
    return static_cast<int>(QDir(folder).entryList(QDir::Files | QDir::Hidden).size());
}

TEST(RecordingFile, ANewFileNeverTakesTheNameOfOneThatExistsOrIsHeld) {
    const HostRecordingPlace host{QStringLiteral("/videos"), QStringLiteral("take"), true};
    RecordingConfig recording;
    // OBS's folder and name, the entry's name after it made safe for any file system, and
    // underscores instead of spaces when OBS's profile asks for them.
    const RecordingFileName obs = recordingFileName(recording, host, QStringLiteral("V: 9/16"));
    EXPECT_EQ(QDir(obs.folder).filePath(obs.fileName(1)),
              QStringLiteral("/videos/take V_ 9_16.mkv"));
    const QString noSpaces =
        recordingFileName(recording, {host.folder, QStringLiteral("%CCYY take"), false},
                          QStringLiteral("My input"))
            .fileName(1);
    EXPECT_TRUE(noSpaces.endsWith(QLatin1String("_take_My_input.mkv")) &&
                !noSpaces.contains(QLatin1Char(' ')))
        << noSpaces.toStdString();

    // Held names count, whether or not their file is there (the host's output removes it as it
    // starts), and so do files, whatever wrote them.
    QTemporaryDir own;
    recording.formato = QStringLiteral("mp4");
    recording.carpeta = own.path();
    const RecordingFileName main = recordingFileName(recording, host, QStringLiteral("Main"));
    QFile existing(QDir(own.path()).filePath(QStringLiteral("take Main.mp4")));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    std::vector<std::unique_ptr<RecordingFileClaim>> held;
    for (const char* expected : {"take Main (2).mp4", "take Main (3).mp4", "take Main (4).mp4"}) {
        held.push_back(claimRecordingFile(recordingFileCandidates(main)).claim);
        ASSERT_TRUE(held.back());
        EXPECT_EQ(held.back()->path(), QDir(own.path()).filePath(QString::fromUtf8(expected)));
        QFile::remove(held.back()->path());
    }
    // A file its recording wrote stays; the empty ones go with their claims.
    QFile written(held.back()->path());
    ASSERT_TRUE(written.open(QIODevice::WriteOnly) && written.write("mkv") == 3);
    written.close();
    held[1]->holdAgain();
    held.clear();
    EXPECT_TRUE(within([&] { return filesIn(own.path()) == 2; }));
    EXPECT_TRUE(written.exists());
    EXPECT_TRUE(within([&] {
        return claimRecordingFile(recordingFileCandidates(main)).claim->path() ==
               QDir(own.path()).filePath(QStringLiteral("take Main (2).mp4"));
    })) << "a name let go of is free again";
    EXPECT_TRUE(within([&] { return filesIn(own.path()) == 2; }));
}

TEST(RecordingFile, ANameLongerThanTheFileSystemTakesIsShortenedOnACharacterBoundary) {
    QTemporaryDir folder;
    const HostRecordingPlace host{folder.path(), QStringLiteral("take"), true};
    RecordingConfig recording;
    recording.carpeta = folder.path();
    // CJK letters (3 bytes each), a letter with a combining accent, a name as long as a remote
    // request may set.
    for (const QString& entryName :
         {QString::fromUtf8("縦型配信").repeated(100), QString::fromUtf8("e\u0301").repeated(200),
          QString(32767, QLatin1Char('x'))}) {
        const RecordingFileName file = recordingFileName(recording, host, entryName);
        for (int number : {1, 2, 100}) {
            const QString name = file.fileName(number);
            EXPECT_LE(name.toUtf8().size(), kMaxRecordingFileNameBytes);
            EXPECT_GT(name.toUtf8().size(), kMaxRecordingFileNameBytes - 4)
                << "no more cut than needed";
            EXPECT_TRUE(name.endsWith(number > 1 ? QStringLiteral(" (%1).mkv").arg(number)
                                                 : QStringLiteral(".mkv")));
            const QString kept = name.left(name.indexOf(QLatin1String(number > 1 ? " (" : ".m")));
            ASSERT_TRUE(file.stem.startsWith(kept));
            EXPECT_NE(file.stem.at(kept.size()).category(), QChar::Mark_NonSpacing)
                << "a letter keeps its accent";
        }
        EXPECT_TRUE(claimRecordingFile(recordingFileCandidates(file)).claim)
            << "the folder takes it";
        EXPECT_TRUE(within([&] { return filesIn(folder.path()) == 0; }));
    }
}

TEST(RecordingFile, AFolderThatCannotTakeTheFileIsRefused) {
    QTemporaryDir dir;
    QFile notAFolder(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(notAFolder.open(QIODevice::WriteOnly));
    notAFolder.close();
    const struct {
        QString folder;
        bool missing;
    } cases[] = {
        {dir.filePath(QStringLiteral("missing")), true},
        {notAFolder.fileName(), true},
        {QStringLiteral("/proc"), false}, // not even root may create files there
    };
    for (const auto& c : cases) {
        RecordingConfig recording;
        recording.carpeta = c.folder;
        const RecordingFileChoice choice = claimRecordingFile(recordingFileCandidates(
            recordingFileName(recording, {dir.path(), QStringLiteral("x"), true}, {})));
        EXPECT_FALSE(choice.claim) << c.folder.toStdString();
        EXPECT_EQ(choice.folderMissing, c.missing) << c.folder.toStdString();
    }
}

} // namespace
