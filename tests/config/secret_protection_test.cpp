#include "config/secret_key_store.h"
#include "config/secret_protection.h"

#include "config/config_test_env.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace relaycast {
namespace {

using testing::modeOf;
using testing::PrivateUserFolders;

QByteArray blobOf(const QString& stored) {
    return QByteArray::fromBase64(stored.mid(6).toLatin1());
}

QString storedForm(const QByteArray& blob) {
    return QStringLiteral("dpapi:") + QString::fromLatin1(blob.toBase64());
}

TEST(SecretProtection, RoundTripsTextInTheStoredForm) {
    PrivateUserFolders folders;
    const QStringList secrets = {
        QStringLiteral("live_123456_abcdef"), QStringLiteral("contraseña-ñandú-€-日本語-🎥"),
        QStringLiteral("srt://example.org:9000?streamid=#!::r=live/x,m=publish"),
        QStringLiteral("x"),
        // A settings file may hold "\u0000" in a value; nothing after it may be lost.
        QString::fromUtf8("clave\0tras-el-nulo", 18)};
    const QRegularExpression standardBase64(QStringLiteral("^dpapi:[A-Za-z0-9+/]+={0,2}$"));
    for (const QString& secret : secrets) {
        const QString stored = protectSecret(secret);
        ASSERT_TRUE(standardBase64.match(stored).hasMatch()) << stored.toStdString();
        EXPECT_EQ((stored.size() - 6) % 4, 0);
        if (secret.size() > 8) { // short texts may occur in Base64 by chance
            EXPECT_FALSE(stored.contains(secret));
        }

        const QByteArray blob = blobOf(stored);
        EXPECT_EQ(static_cast<unsigned char>(blob.at(0)), secret_store::kBlobVersion);
        EXPECT_EQ(blob.size(), 1 + 24 + secret.toUtf8().size() + 16);

        bool ok = false;
        EXPECT_EQ(unprotectSecret(stored, ok), secret);
        EXPECT_TRUE(ok);
    }
    // A fresh nonce each time: equal secrets do not give equal stored texts.
    EXPECT_NE(protectSecret(QStringLiteral("same")), protectSecret(QStringLiteral("same")));
}

TEST(SecretProtection, EmptyAndPlainValuesPassThrough) {
    PrivateUserFolders folders;
    EXPECT_EQ(protectSecret(QString()), QString());
    EXPECT_FALSE(QFileInfo::exists(folders.keyFile())) << "no key is needed for nothing";

    for (const QString& plain :
         {QString(), QStringLiteral("live_plain_key"), QStringLiteral("DPAPI:AQIDBA=="),
          QStringLiteral("Dpapi:xyz"), QStringLiteral("dpapi")}) {
        bool ok = false;
        EXPECT_EQ(unprotectSecret(plain, ok), plain);
        EXPECT_TRUE(ok) << plain.toStdString();
    }
}

TEST(SecretProtection, DamagedValuesFailWithoutText) {
    PrivateUserFolders folders;
    const QByteArray good = blobOf(protectSecret(QStringLiteral("clave-secreta")));

    QByteArray otherVersion = good;
    otherVersion[0] = 2;
    QByteArray flippedCipher = good;
    flippedCipher[flippedCipher.size() - 20] =
        static_cast<char>(flippedCipher.at(flippedCipher.size() - 20) ^ 1);
    QByteArray flippedTag = good;
    flippedTag[flippedTag.size() - 1] =
        static_cast<char>(flippedTag.at(flippedTag.size() - 1) ^ 0x80);

    const QStringList damaged = {
        QStringLiteral("dpapi:"),
        QStringLiteral("dpapi:this is not base64 at all!"),
        QStringLiteral("dpapi:!!!@@@###"),
        QStringLiteral("dpapi:AQ=="),           // version byte only
        storedForm(good.left(1 + 24 + 15)),     // shorter than a tag
        storedForm(good.left(good.size() - 1)), // truncated
        storedForm(otherVersion),
        storedForm(flippedCipher),
        storedForm(flippedTag),
    };
    for (const QString& stored : damaged) {
        bool ok = true;
        EXPECT_EQ(unprotectSecret(stored, ok), QString()) << stored.toStdString();
        EXPECT_FALSE(ok) << stored.toStdString();
    }

    // Lenient Base64: line breaks and stray characters inside are skipped.
    QString spaced = storedForm(good);
    spaced.insert(12, QStringLiteral("\n \t*"));
    bool ok = false;
    EXPECT_EQ(unprotectSecret(spaced, ok), QStringLiteral("clave-secreta"));
    EXPECT_TRUE(ok);
}

TEST(SecretProtection, KeyFileAndItsFolderAreOwnerOnly) {
    PrivateUserFolders folders;
    ASSERT_TRUE(protectSecret(QStringLiteral("k")).startsWith(QLatin1String("dpapi:")));
    EXPECT_EQ(modeOf(folders.keyFile()), 0600);
    EXPECT_EQ(modeOf(QFileInfo(folders.keyFile()).absolutePath()), 0700);
    EXPECT_EQ(QFileInfo(folders.keyFile()).size(), 32);

    // The same key serves every later value.
    const QByteArray keyBefore = testing::readBytes(folders.keyFile());
    protectSecret(QStringLiteral("k2"));
    EXPECT_EQ(testing::readBytes(folders.keyFile()), keyBefore);
}

TEST(SecretProtection, KeyFolderFallsBackToHomeAndIsNarrowedWhenWide) {
    PrivateUserFolders folders;
    qputenv("XDG_DATA_HOME", "relative/data"); // not absolute: ignored
    const QString home = folders.root() + QStringLiteral("/home");
    const QString keyFolder = home + QStringLiteral("/.local/share/relaycast");
    ASSERT_TRUE(QDir().mkpath(keyFolder));
    ASSERT_TRUE(QFile::setPermissions(
        keyFolder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                       QFileDevice::ReadOther | QFileDevice::ExeOther));
    EXPECT_EQ(secret_store::defaultKeyFilePath(), keyFolder + QStringLiteral("/secret.key"));

    const QString stored = protectSecret(QStringLiteral("clave"));
    EXPECT_EQ(modeOf(keyFolder + QStringLiteral("/secret.key")), 0600);
    EXPECT_EQ(modeOf(keyFolder), 0700);
    bool ok = false;
    EXPECT_EQ(unprotectSecret(stored, ok), QStringLiteral("clave"));
    EXPECT_TRUE(ok);
}

TEST(SecretProtection, OnlyTheSameKeyComputerAndUserOpenAValue) {
    PrivateUserFolders folders;
    const QString keyA = folders.root() + QStringLiteral("/a/secret.key");
    const QString keyB = folders.root() + QStringLiteral("/b/secret.key");
    const QByteArray here = secret_store::bindingFor("0123456789abcdef", 1000);
    const QByteArray plain = QStringLiteral("clave-ñ-🎥").toUtf8();

    const auto blob = secret_store::sealSecret(plain, {keyA, here});
    ASSERT_TRUE(blob.has_value());
    const auto opened = secret_store::openSecret(*blob, {keyA, here});
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(*opened, plain);

    // Opening never creates a key: a missing key file just fails.
    EXPECT_FALSE(secret_store::openSecret(*blob, {keyB, here}).has_value());
    EXPECT_FALSE(QFileInfo::exists(keyB));

    // Another user's (or computer's) key file.
    ASSERT_TRUE(secret_store::sealSecret("other", {keyB, here}).has_value());
    EXPECT_FALSE(secret_store::openSecret(*blob, {keyB, here}).has_value());

    // The right key file copied to another computer or opened under another user id.
    EXPECT_FALSE(
        secret_store::openSecret(*blob, {keyA, secret_store::bindingFor("fedcba9876543210", 1000)})
            .has_value());
    EXPECT_FALSE(
        secret_store::openSecret(*blob, {keyA, secret_store::bindingFor("0123456789abcdef", 1001)})
            .has_value());
    EXPECT_FALSE(
        secret_store::openSecret(*blob, {keyA, secret_store::bindingFor("", 1000)}).has_value());

    // A key file of the wrong size is refused, and never replaced by a new one.
    testing::writeBytes(keyB, QByteArray(31, 'x'));
    EXPECT_FALSE(secret_store::sealSecret("v", {keyB, here}).has_value());
    EXPECT_EQ(testing::readBytes(keyB), QByteArray(31, 'x'));
}

TEST(SecretProtection, PublicFunctionsFailWhenTheKeyFileIsGone) {
    PrivateUserFolders folders;
    const QString stored = protectSecret(QStringLiteral("clave"));
    ASSERT_TRUE(QFile::remove(folders.keyFile()));

    bool ok = true;
    EXPECT_EQ(unprotectSecret(stored, ok), QString());
    EXPECT_FALSE(ok);
    EXPECT_FALSE(QFileInfo::exists(folders.keyFile()));

    // A new key protects new values, but the old one stays unreadable.
    const QString fresh = protectSecret(QStringLiteral("nueva"));
    EXPECT_EQ(unprotectSecret(fresh, ok), QStringLiteral("nueva"));
    EXPECT_TRUE(ok);
    EXPECT_EQ(unprotectSecret(stored, ok), QString());
    EXPECT_FALSE(ok);
}

TEST(SecretProtection, KeyFileIsTrustedOnlyWhenItIsTheUsersOwnAndPrivate) {
    PrivateUserFolders folders;
    const QString stored = protectSecret(QStringLiteral("clave"));
    const QByteArray key = testing::readBytes(folders.keyFile());
    const auto opens = [&] {
        bool ok = false;
        return unprotectSecret(stored, ok) == QStringLiteral("clave") && ok &&
               protectSecretChecked(QStringLiteral("otra")).has_value();
    };
    ASSERT_TRUE(opens());
    const QByteArray path = QFile::encodeName(folders.keyFile());

    ASSERT_EQ(::chmod(path.constData(), 0640), 0);
    EXPECT_FALSE(opens()) << "readable by the group";
    ASSERT_EQ(::chmod(path.constData(), 0400), 0);
    EXPECT_FALSE(opens()) << "mode 0400";
    ASSERT_EQ(::chmod(path.constData(), 0600), 0);
    EXPECT_TRUE(opens());
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.constData(), 4321, 4321), 0);
        EXPECT_FALSE(opens()) << "another user's file";
        ASSERT_EQ(::chown(path.constData(), 0, 0), 0);
        EXPECT_TRUE(opens());
    }

    // A link to a good key is not the key file either; nothing replaces it.
    const QString real = folders.root() + QStringLiteral("/elsewhere.key");
    ASSERT_TRUE(QFile::rename(folders.keyFile(), real));
    ASSERT_TRUE(QFile::link(real, folders.keyFile()));
    EXPECT_FALSE(opens());
    EXPECT_TRUE(QFileInfo(folders.keyFile()).isSymLink());
    EXPECT_EQ(testing::readBytes(real), key);
}

TEST(SecretProtection, ProcessesCreatingTheKeyAtOnceAgreeOnOne) {
    constexpr int kRounds = 10;
    constexpr int kProcesses = 4;
    PrivateUserFolders folders;
    for (int round = 0; round < kRounds; ++round) {
        const QString keyFile =
            folders.root() + QStringLiteral("/race%1/relaycast/secret.key").arg(round);
        const QByteArray binding = secret_store::currentBinding();
        std::vector<pid_t> children;
        std::vector<int> readEnds;
        for (int i = 0; i < kProcesses; ++i) {
            int pipeEnds[2];
            ASSERT_EQ(::pipe(pipeEnds), 0);
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                ::close(pipeEnds[0]);
                const auto blob = secret_store::sealSecret("valor", {keyFile, binding});
                const QByteArray out = blob ? *blob : QByteArray();
                const bool sent = ::write(pipeEnds[1], out.constData(),
                                          static_cast<size_t>(out.size())) == out.size();
                ::_exit(sent && blob ? 0 : 1);
            }
            ::close(pipeEnds[1]);
            children.push_back(pid);
            readEnds.push_back(pipeEnds[0]);
        }
        for (int i = 0; i < kProcesses; ++i) {
            QByteArray blob;
            char buffer[256];
            for (ssize_t got; (got = ::read(readEnds[i], buffer, sizeof buffer)) > 0;)
                blob.append(buffer, got);
            ::close(readEnds[i]);
            int status = 0;
            ASSERT_EQ(::waitpid(children[i], &status, 0), children[i]);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            const auto opened = secret_store::openSecret(blob, {keyFile, binding});
            ASSERT_TRUE(opened.has_value()) << "round " << round << " process " << i;
            EXPECT_EQ(*opened, QByteArray("valor"));
        }
        // Nothing but the key is left in its folder.
        EXPECT_EQ(QDir(QFileInfo(keyFile).absolutePath()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{QStringLiteral("secret.key")});
    }
}

} // namespace
} // namespace relaycast
