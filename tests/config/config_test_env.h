#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ostream>

// Readable failure output for Qt texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace relaycast::testing {

// Gives the test its own HOME and per-user data folder (where the sealing key is kept), so no
// test reads or creates anything of the real user.
class PrivateUserFolders {
public:
    PrivateUserFolders()
        : oldHome_(qgetenv("HOME")), oldDataHome_(qgetenv("XDG_DATA_HOME")),
          hadDataHome_(qEnvironmentVariableIsSet("XDG_DATA_HOME")) {
        qputenv("HOME", root_.filePath(QStringLiteral("home")).toUtf8());
        qputenv("XDG_DATA_HOME", root_.filePath(QStringLiteral("data")).toUtf8());
    }
    ~PrivateUserFolders() {
        qputenv("HOME", oldHome_);
        if (hadDataHome_)
            qputenv("XDG_DATA_HOME", oldDataHome_);
        else
            qunsetenv("XDG_DATA_HOME");
    }
    PrivateUserFolders(const PrivateUserFolders&) = delete;
    PrivateUserFolders& operator=(const PrivateUserFolders&) = delete;

    QString root() const { return root_.path(); }
    QString keyFile() const { return root_.filePath(QStringLiteral("data/relaycast/secret.key")); }
    // Where the settings file of a test goes: a folder of its own, like the host's.
    QString settingsPath() const {
        return root_.filePath(QStringLiteral("config/plugin_config/relaycast/salidas.json"));
    }

private:
    QTemporaryDir root_;
    QByteArray oldHome_;
    QByteArray oldDataHome_;
    bool hadDataHome_;
};

inline void writeBytes(const QString& path, const QByteArray& bytes) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

inline QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QJsonObject readJsonObject(const QString& path) {
    return QJsonDocument::fromJson(readBytes(path)).object();
}

// Permission bits of a file or folder, or -1 when it does not exist.
inline int modeOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return static_cast<int>(info.st_mode & 07777);
}

} // namespace relaycast::testing
