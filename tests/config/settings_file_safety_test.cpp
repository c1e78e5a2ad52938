#include "config/config_store.h"
#include "config/owner_only_file.h"
#include "module/ui_text.h"

#include "config/config_test_env.h"
#include "support/log_capture.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <random>
#include <thread>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace relaycast {
namespace {

using testing::modeOf;
using testing::PrivateUserFolders;
using testing::readBytes;
using testing::writeBytes;

const QString kBlockedMessage = QStringLiteral(
    "No se guarda nada para no perder tu configuración anterior, que no se pudo leer. Cierra "
    "OBS, revisa el archivo de configuración y vuelve a abrirlo.");

// Writes `text` to a /proc file of this process; false when it cannot.
bool writeProcFile(const char* path, const QByteArray& text) {
    const int fd = ::open(path, O_WRONLY);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.constData(), text.size()) == text.size();
    ::close(fd);
    return written;
}

// Turns the calling (forked, single-threaded) process into one where `path` is a mount point
// of itself. The kernel then refuses to rename anything over it (EBUSY), while the file itself
// stays an ordinary writable file: the one real way to make only the final replace of a save
// fail. Without privileges this needs a user namespace of its own.
bool pinFileAsMountPoint(const QString& path) {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (uid != 0) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 ||
            !writeProcFile("/proc/self/setgroups", "deny") ||
            !writeProcFile("/proc/self/uid_map", QByteArray::number(uid).prepend("0 ") + " 1") ||
            !writeProcFile("/proc/self/gid_map", QByteArray::number(gid).prepend("0 ") + " 1"))
            return false;
    } else if (::unshare(CLONE_NEWNS) != 0) {
        return false;
    }
    // Private first, so the mount below never shows outside this process.
    const QByteArray file = QFile::encodeName(path);
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount(file.constData(), file.constData(), nullptr, MS_BIND, nullptr) == 0;
}

EntryConfig sampleEntry(const QString& fuente, int destinations = 1) {
    EntryConfig entry;
    entry.id = newConfigId();
    entry.fuente = fuente;
    for (int i = 0; i < destinations; ++i)
        entry.destinos.append(DestConfig{newConfigId(), QStringLiteral("rtmp://127.0.0.1/live"),
                                         QStringLiteral("clave-%1").arg(i), QString()});
    return entry;
}

// The first destination of entry `entry` of collection "c" as a settings file stores it.
QJsonObject storedDestination(const QJsonObject& root, int entry = 0) {
    return root.value(QLatin1String("colecciones"))
        .toObject()
        .value(QLatin1String("c"))
        .toObject()
        .value(QLatin1String("entradas"))
        .toArray()
        .at(entry)
        .toObject()
        .value(QLatin1String("destinos"))
        .toArray()
        .at(0)
        .toObject();
}

class SettingsFileSafety : public ::testing::Test {
protected:
    QString path() const { return folders.settingsPath(); }
    QString asidePath() const { return folders.settingsPath() + QStringLiteral(".danado"); }

    PrivateUserFolders folders;
    ConfigStore store{folders.settingsPath()};
};

TEST_F(SettingsFileSafety, SettingsFileIsOwnerOnlyEvenWhenReplacingAWiderOne) {
    store.entriesOf(QStringLiteral("c")).append(sampleEntry(QStringLiteral("a")));
    ASSERT_TRUE(store.save());
    EXPECT_EQ(modeOf(path()), 0600);

    // A file written by an older version, readable by everybody.
    ASSERT_TRUE(QFile::setPermissions(path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::ReadOther));
    ASSERT_EQ(modeOf(path()), 0644);
    ASSERT_TRUE(store.save());
    EXPECT_EQ(modeOf(path()), 0600);
}

// Sets a file's modification time, as `cp -p` or an older save left it.
void setModified(const QString& path, const QDateTime& when) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(when, QFileDevice::FileModificationTime));
}

// A save killed for real while its temporary copy exists: a child saves a large store in a
// loop and is killed as soon as a copy shows up beside the file. Returns the copy's path.
QString leftoverOfAKilledSave(ConfigStore& store, const QString& path) {
    const QDir folder = QFileInfo(path).absoluteDir();
    const QStringList pattern{QFileInfo(path).fileName() + QLatin1String(kSaveCopyInfix) + "*"};
    for (int attempt = 0; attempt < 50; ++attempt) {
        const pid_t child = ::fork();
        if (child == 0) {
            for (;;)
                store.save();
        }
        QStringList copies;
        QElapsedTimer waited;
        waited.start();
        while (copies.isEmpty() && waited.elapsed() < 2000)
            copies = folder.entryList(pattern, QDir::Files | QDir::Hidden);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        copies = folder.entryList(pattern, QDir::Files | QDir::Hidden);
        if (!copies.isEmpty())
            return folder.filePath(copies.front());
    }
    return {};
}

// Load removes only the temporary copies its own saves name with their marker, of this user and
// readable by the owner only. Everything else stays, and a look-alike is named in the log: a
// copy the user made with `cp -p` and then edited by hand is newer than the file, has other
// content and is a settings document, exactly what a killed save of an older version left.
TEST_F(SettingsFileSafety, LoadRemovesOnlyTheCopiesKilledSavesLeft) {
    for (int i = 0; i < 300; ++i)
        store.entriesOf(QStringLiteral("c")).append(sampleEntry(QStringLiteral("e%1").arg(i), 2));
    ASSERT_TRUE(store.save());
    const QString leftover = leftoverOfAKilledSave(store, path());
    ASSERT_FALSE(leftover.isEmpty()) << "no save was ever caught with its copy";
    EXPECT_EQ(modeOf(leftover), 0600);
    // The file as the killed writer's last complete save left it.
    const QByteArray saved = readBytes(path());
    const QDateTime savedAt = QFileInfo(path()).lastModified();

    const QByteArray edited = "{\"version\": 1, \"colecciones\": {}}";
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    struct Row {
        const char* name;
        QByteArray content;
        int minutesAfterTheFile;
        QFileDevice::Permissions permissions;
        bool goes;
    };
    const QList<Row> rows = {
        {".edited", edited, 1, ownerOnly, false}, // cp -p salidas.json salidas.json.edited, edited
        {".backup", edited, 1, ownerOnly, false},
        {".before", edited, 1, ownerOnly, false},
        {".Wq3Zr8", edited, 1, ownerOnly, false}, // as an older version's killed save named it
        {".relaycast-save-Ab12Cd", "{", 1, ownerOnly, true},
        {".relaycast-save-Ab12Ce", "{", 1, ownerOnly | QFileDevice::ReadOther, false},
    };
    for (const Row& row : rows) {
        const QString file = path() + QLatin1String(row.name);
        writeBytes(file, row.content);
        ASSERT_TRUE(QFile::setPermissions(file, row.permissions));
        setModified(file, savedAt.addSecs(60 * row.minutesAfterTheFile));
    }
    // Links named as copies are, to an owner-only file of this user.
    const QString target = QFileInfo(path()).absolutePath() + QStringLiteral("/elsewhere.json");
    writeBytes(target, edited);
    ASSERT_TRUE(QFile::setPermissions(target, ownerOnly));
    setModified(target, savedAt.addSecs(60));
    const QStringList links = {path() + ".relaycast-save-Ln12Kk", path() + ".Ln12Kk"};
    for (const QString& link : links)
        ASSERT_TRUE(QFile::link(target, link));

    test::LogCapture log;
    ASSERT_TRUE(store.load());
    EXPECT_FALSE(QFileInfo::exists(leftover)) << "the killed save's copy stayed";
    for (const Row& row : rows) {
        EXPECT_EQ(QFileInfo::exists(path() + QLatin1String(row.name)), !row.goes) << row.name;
        EXPECT_EQ(log.count(QStringLiteral("salidas.json") + QLatin1String(row.name)), 1)
            << row.name << " is not named in the log";
    }
    for (const QString& link : links)
        EXPECT_TRUE(QFileInfo(link).isSymLink()) << link.toStdString() << " was removed";
    EXPECT_EQ(readBytes(target), edited);
    EXPECT_EQ(readBytes(path()), saved);
}

TEST_F(SettingsFileSafety, DamagedFilesAreCopiedAsideAndReplacedByTheNextSave) {
    const QList<QByteArray> damaged = {
        "", "[1, 2, 3]", "{\"colecciones\": ", "\"text\"", "{\"a\": 1,}", "\xff\xfe{}", "null"};
    for (const QByteArray& bytes : damaged) {
        SCOPED_TRACE(bytes.toStdString());
        writeBytes(asidePath(), "an older copy aside");
        writeBytes(path(), bytes);
        ASSERT_TRUE(QFile::setPermissions(path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ReadOther));
        store.entriesOf(QStringLiteral("stale")).append(sampleEntry(QStringLiteral("x")));
        store.profiles().append(EncoderProfile{});

        QString message;
        EXPECT_FALSE(store.load(&message));
        EXPECT_EQ(message, QStringLiteral("El archivo de configuración estaba dañado. Se guardó "
                                          "una copia en «%1» y se empieza de cero.")
                               .arg(asidePath()));
        EXPECT_EQ(readBytes(asidePath()), bytes);
        EXPECT_EQ(modeOf(asidePath()), 0600);
        EXPECT_TRUE(store.collections().isEmpty());
        EXPECT_TRUE(store.profiles().isEmpty());
        EXPECT_FALSE(store.saveBlocked());
        EXPECT_EQ(readBytes(path()), bytes) << "the load itself does not touch the file";

        ASSERT_TRUE(store.save());
        ConfigStore reread(path());
        EXPECT_TRUE(reread.load());
    }
}

TEST_F(SettingsFileSafety, DamagedFileThatCannotBeCopiedBlocksSaving) {
    writeBytes(path(), "{ damaged");
    // Something that cannot be removed stands where the copy would go.
    writeBytes(asidePath() + QStringLiteral("/inside"), "x");

    QString message;
    EXPECT_FALSE(store.load(&message));
    EXPECT_EQ(message, QStringLiteral("El archivo de configuración estaba dañado y no se pudo "
                                      "copiar. Se empieza de cero."));
    EXPECT_NE(englishTextOf(message), message) << "the text has an English twin";
    EXPECT_TRUE(store.saveBlocked());

    store.entriesOf(QStringLiteral("c")).append(sampleEntry(QStringLiteral("a")));
    message.clear();
    EXPECT_FALSE(store.save(&message));
    EXPECT_EQ(message, kBlockedMessage);
    EXPECT_NE(englishTextOf(message), message) << "the text has an English twin";
    EXPECT_EQ(readBytes(path()), QByteArray("{ damaged"));
    EXPECT_EQ(readBytes(asidePath() + QStringLiteral("/inside")), QByteArray("x"));
}

TEST_F(SettingsFileSafety, FileThatCannotBeOpenedBlocksSavingUntilTheNextLoad) {
    // A folder where the file should be: it exists but cannot be opened as a file.
    ASSERT_TRUE(QDir().mkpath(path()));
    store.entriesOf(QStringLiteral("stale")).append(sampleEntry(QStringLiteral("x")));

    QString message;
    EXPECT_FALSE(store.load(&message));
    const QString before = QStringLiteral("No se pudo leer el archivo de configuración (");
    const QString after = QStringLiteral("). Se empieza sin entradas guardadas.");
    EXPECT_TRUE(message.startsWith(before) && message.endsWith(after)) << message.toStdString();
    EXPECT_GT(message.size(), before.size() + after.size()) << "the system's reason is included";
    EXPECT_TRUE(store.saveBlocked());
    EXPECT_TRUE(store.collections().isEmpty());

    store.entriesOf(QStringLiteral("c")).append(sampleEntry(QStringLiteral("a")));
    message.clear();
    EXPECT_FALSE(store.save(&message));
    EXPECT_EQ(message, kBlockedMessage);
    EXPECT_TRUE(QFileInfo(path()).isDir());
    EXPECT_TRUE(QDir(path()).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(asidePath()));

    // Once the file can be read again, the next load lifts the block.
    ASSERT_TRUE(QDir(path()).removeRecursively());
    writeBytes(path(), "{}");
    EXPECT_TRUE(store.load());
    EXPECT_FALSE(store.saveBlocked());
    EXPECT_TRUE(store.save());
}

TEST_F(SettingsFileSafety, UnreadableFileBlocksSaving) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop the superuser; the folder case covers this";
    writeBytes(path(), "{}");
    ASSERT_TRUE(QFile::setPermissions(path(), QFileDevice::Permissions()));
    QString message;
    EXPECT_FALSE(store.load(&message));
    EXPECT_TRUE(store.saveBlocked());
    EXPECT_FALSE(store.save());
    QFile::setPermissions(path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(readBytes(path()), QByteArray("{}"));
}

TEST_F(SettingsFileSafety, ReadThatFailsAfterOpeningIsNotTakenForADamagedFile) {
    // Opening works, reading fails with an I/O error: this process's own memory file at
    // address 0 behaves so. The settings file may be fine: nothing is copied aside or replaced.
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path()).absolutePath()));
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), path()));
    QString message;
    EXPECT_FALSE(store.load(&message));
    EXPECT_TRUE(message.startsWith(QStringLiteral("No se pudo leer el archivo de configuración (")))
        << message.toStdString();
    EXPECT_TRUE(store.saveBlocked());
    EXPECT_FALSE(QFileInfo::exists(asidePath()));
    store.entriesOf(QStringLiteral("c")).append(sampleEntry(QStringLiteral("a")));
    EXPECT_FALSE(store.save());
    EXPECT_TRUE(QFileInfo(path()).isSymLink()) << "the file that failed to read was replaced";
}

TEST_F(SettingsFileSafety, KeysThatCannotBeOpenedStayInTheFileUntilTheUserReplacesThem) {
    EntryConfig entry = sampleEntry(QStringLiteral("a"));
    entry.destinos[0].url = QStringLiteral("srt://127.0.0.1:9000?streamid=publicar");
    entry.destinos[0].contrasena = QStringLiteral("frase-secreta");
    store.entriesOf(QStringLiteral("c")).append(entry);
    ASSERT_TRUE(store.save());
    const QJsonObject sealed = testing::readJsonObject(path());
    // The key file is lost (a restored profile, another account): nothing opens any more.
    ASSERT_TRUE(QFile::remove(folders.keyFile()));

    QString message;
    ASSERT_TRUE(store.load(&message));
    EXPECT_FALSE(message.isEmpty());
    DestConfig& loaded = store.entriesOf(QStringLiteral("c"))[0].destinos[0];
    EXPECT_TRUE(loaded.needsSecretsAgain());
    EXPECT_EQ(loaded.url, QStringLiteral("?"));
    EXPECT_TRUE(loaded.clave.isEmpty());

    // Any other change is saved with the unopened values exactly as they were.
    store.entriesOf(QStringLiteral("c"))[0].nombre = QStringLiteral("renombrada");
    ASSERT_TRUE(store.save());
    EXPECT_EQ(storedDestination(testing::readJsonObject(path())), storedDestination(sealed));

    // Once the user types them again, the new values replace them. Only a secret the address
    // still sends holds the destination up: the unopened passphrase blocks SRT, not RTMP.
    DestConfig& typed = store.entriesOf(QStringLiteral("c"))[0].destinos[0];
    typed.url = QStringLiteral("srt://127.0.0.1:9000?streamid=nuevo");
    typed.clave = QStringLiteral("clave-nueva");
    EXPECT_TRUE(typed.needsSecretsAgain());
    typed.url = QStringLiteral("rtmp://127.0.0.1/live");
    EXPECT_FALSE(typed.needsSecretsAgain());
    typed.url = QStringLiteral("srt://127.0.0.1:9000?streamid=nuevo");
    typed.contrasena = QStringLiteral("frase-nueva");
    EXPECT_FALSE(typed.needsSecretsAgain());
    ASSERT_TRUE(store.save());
    ASSERT_TRUE(store.load());
    const DestConfig& reread = store.entriesOf(QStringLiteral("c"))[0].destinos[0];
    EXPECT_EQ(reread.url, QStringLiteral("srt://127.0.0.1:9000?streamid=nuevo"));
    EXPECT_EQ(reread.clave, QStringLiteral("clave-nueva"));
    EXPECT_EQ(reread.contrasena, QStringLiteral("frase-nueva"));
}

TEST_F(SettingsFileSafety, KeysThatCannotBeProtectedAreToldOnceAndOldOnesStayProtected) {
    store.entriesOf(QStringLiteral("c")).append(sampleEntry(QStringLiteral("a")));
    ASSERT_TRUE(store.save());
    ASSERT_TRUE(store.load());
    const QString protectedBefore =
        storedDestination(testing::readJsonObject(path())).value(QLatin1String("clave")).toString();
    ASSERT_TRUE(protectedBefore.startsWith(QStringLiteral("dpapi:")));
    EXPECT_TRUE(store.takeProtectionWarning().isEmpty());

    // The key file becomes unusable: readable by others now.
    ASSERT_TRUE(QFile::setPermissions(folders.keyFile(),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ReadGroup | QFileDevice::ReadOther));
    store.entriesOf(QStringLiteral("c")).append(sampleEntry(QStringLiteral("b")));
    ASSERT_TRUE(store.save());
    EXPECT_EQ(store.takeProtectionWarning(),
              QStringLiteral("No se pudieron cifrar las claves de emisión nuevas porque la clave "
                             "de cifrado de tu usuario no se puede usar; se han guardado sin "
                             "cifrar."));
    const QJsonObject written = testing::readJsonObject(path());
    EXPECT_EQ(storedDestination(written).value(QLatin1String("clave")).toString(), protectedBefore)
        << "a key that was protected is never written in the clear";
    EXPECT_EQ(storedDestination(written, 1).value(QLatin1String("clave")).toString(),
              QStringLiteral("clave-0"));
    ASSERT_TRUE(store.save());
    EXPECT_TRUE(store.takeProtectionWarning().isEmpty()) << "told once per session";
    EXPECT_EQ(modeOf(folders.keyFile()), 0644) << "an unusable key file is never replaced";
}

TEST_F(SettingsFileSafety, SaveReportsAFolderThatCannotBeCreated) {
    const QString blocker = folders.root() + QStringLiteral("/not-a-folder");
    writeBytes(blocker, "x");
    ConfigStore misplaced(blocker + QStringLiteral("/relaycast/salidas.json"));
    QString message;
    EXPECT_FALSE(misplaced.save(&message));
    EXPECT_EQ(message, QStringLiteral("No se pudo crear la carpeta de configuración «%1».")
                           .arg(blocker + QStringLiteral("/relaycast")));
}

TEST_F(SettingsFileSafety, SaveReportsAFileThatCannotBeWritten) {
    ASSERT_TRUE(QDir().mkpath(path()));
    QString message;
    EXPECT_FALSE(store.save(&message));
    EXPECT_TRUE(message.startsWith(QStringLiteral("No se pudo guardar la configuración (")) &&
                message.endsWith(QStringLiteral(").")))
        << message.toStdString();
    EXPECT_TRUE(QFileInfo(path()).isDir());
    EXPECT_EQ(QFileInfo(path()).absoluteDir().entryList(QDir::Files | QDir::Hidden), QStringList())
        << "no temporary file is left behind";
}

TEST_F(SettingsFileSafety, SaveWhoseFinalReplaceFailsReportsItAndKeepsThePreviousFile) {
    store.entriesOf(QStringLiteral("c")).append(sampleEntry(QStringLiteral("old")));
    ASSERT_TRUE(store.save());
    const QByteArray previous = readBytes(path());
    store.entriesOf(QStringLiteral("c")).append(sampleEntry(QStringLiteral("new"), 3));

    // The save runs in a child whose view of the file refuses the replace; it reports back
    // through a pipe: 'N' (no namespace), else its result and message.
    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(channel[0]);
        QByteArray report = "N";
        if (pinFileAsMountPoint(path())) {
            QString message;
            const bool saved = store.save(&message);
            report = (saved ? "T" : "F") + message.toUtf8();
        }
        const bool sent = ::write(channel[1], report.constData(), report.size()) == report.size();
        ::_exit(sent ? 0 : 1);
    }
    ::close(channel[1]);
    QByteArray report;
    char buffer[512];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, static_cast<int>(n));
    ::close(channel[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (report == "N")
        GTEST_SKIP() << "no mount namespace available to make the replace fail";

    const QString message = QString::fromUtf8(report.mid(1));
    EXPECT_EQ(report.left(1), "F") << "a save whose replace failed reported success";
    const QString before = QStringLiteral("No se pudo guardar la configuración (");
    EXPECT_TRUE(message.startsWith(before) && message.endsWith(QStringLiteral(").")))
        << message.toStdString();
    EXPECT_GT(message.size(), before.size() + 2) << "the system's reason is included";
    EXPECT_EQ(readBytes(path()), previous);
    EXPECT_EQ(QFileInfo(path()).absoluteDir().entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("salidas.json")})
        << "no temporary file is left behind";
}

// A writer killed at any moment leaves either the previous or the new complete file, and
// nothing else beside it. RELAYCAST_SAVE_KILLS sets the number of kills (scripts/soak runs
// 1,000).
TEST_F(SettingsFileSafety, WriterKilledAtRandomMomentsLeavesOldOrNewContent) {
    const int kKills = qEnvironmentVariableIntValue("RELAYCAST_SAVE_KILLS") > 0
                           ? qEnvironmentVariableIntValue("RELAYCAST_SAVE_KILLS")
                           : 50;
    constexpr int kEntries = 300;
    ConfigStore first(path());
    ConfigStore second(path());
    for (int i = 0; i < kEntries; ++i) {
        first.entriesOf(QStringLiteral("c")).append(sampleEntry(QStringLiteral("A%1").arg(i), 2));
        second.entriesOf(QStringLiteral("c")).append(sampleEntry(QStringLiteral("B%1").arg(i), 3));
    }
    second.entriesOf(QStringLiteral("only in B"));

    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(first.save());
    const qint64 saveMicroseconds = std::max<qint64>(timer.nsecsElapsed() / 1000, 1000);

    std::mt19937 random(20240607);
    std::uniform_int_distribution<qint64> delay(0, 3 * saveMicroseconds);
    ConfigStore* inFile = &first;
    int changes = 0;
    for (int round = 0; round < kKills; ++round) {
        // The writer starts with the content the file does not hold, so every save it
        // completes shows.
        ConfigStore* other = inFile == &first ? &second : &first;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                other->save();
                inFile->save();
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        ConfigStore check(path());
        QString message;
        ASSERT_TRUE(check.load(&message)) << "round " << round << ": " << message.toStdString();
        EXPECT_EQ(modeOf(path()), 0600);
        EXPECT_EQ(QFileInfo(path()).absoluteDir().entryList(QDir::Files | QDir::Hidden),
                  QStringList{QStringLiteral("salidas.json")})
            << "round " << round << ": a temporary file was left behind";
        if (check.collections() == other->collections()) {
            inFile = other;
            ++changes;
        } else {
            EXPECT_EQ(check.collections(), inFile->collections())
                << "round " << round << ": the file holds neither content";
        }
    }
    RecordProperty("completedSaves", changes);
    std::printf("%d kills, %d saves completed in between\n", kKills, changes);
    EXPECT_GT(changes, 0) << "the writer never completed a save: the kills proved nothing";
}

} // namespace
} // namespace relaycast
