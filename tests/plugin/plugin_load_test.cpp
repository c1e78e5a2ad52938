// Loads the built plug-in file into a real host, as OBS does, in a child process per case: the
// host's module start-up, post-load and shut-down run for real and the parent checks what the
// child saw.
#include "support/headless_host.h"
#include "support/log_capture.h"

#include <obs-module.h>
#include <obs.h>
#include <util/base.h>

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>

using relaycast::test::HeadlessHost;
using relaycast::test::LogCapture;

namespace {

struct ChildReport {
    int exitCode = -1;
    QStringList log;      // every host log line the child saw, in order
    QStringList warnings; // the warning-level ones
};

// What the child does between loading the plug-in and shutting the host down.
using Scenario = std::function<void(const std::string& moduleConfigDir)>;

// Runs the plug-in's whole life in a forked child; the parent never starts the host.
ChildReport runPluginLife(const QString& dataHome, const Scenario& beforeLoad,
                          const Scenario& afterPostLoad = {}) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        qputenv("XDG_DATA_HOME", dataHome.toUtf8());
        qputenv("QT_QPA_PLATFORM", "xcb");
        int argc = 1;
        char name[] = "plugin_load_test";
        char* argv[] = {name, nullptr};
        QApplication app(argc, argv);
        QByteArray out;
        int code = 0;
        {
            LogCapture capture;
            HeadlessHost host;
            std::string error;
            if (!host.start(&error)) {
                std::fprintf(stderr, "child: %s\n", error.c_str());
                _Exit(10);
            }
            if (beforeLoad)
                beforeLoad(host.moduleConfigDir());
            obs_module_t* module = nullptr;
            const std::string data = std::string(RELAYCAST_SOURCE_DIR) + "/data";
            if (obs_open_module(&module, RELAYCAST_MODULE_PATH, data.c_str()) != MODULE_SUCCESS)
                code = 11;
            else if (!obs_init_module(module))
                code = 12;
            else {
                // The host runs every module's post-load once at the end of loading.
                auto postLoad = reinterpret_cast<void (*)()>(
                    dlsym(obs_get_module_lib(module), "obs_module_post_load"));
                if (postLoad)
                    postLoad();
                else
                    code = 13;
                if (afterPostLoad)
                    afterPostLoad(host.moduleConfigDir());
            }
            const long leaks = host.shutdown();
            if (code == 0 && leaks != 0)
                code = 14;
            for (const QString& line : capture.lines())
                out += line.toUtf8() + '\n';
            out += "--warnings--\n";
            for (const QString& line : capture.linesAt(LOG_WARNING))
                out += line.toUtf8() + '\n';
        }
        const char* data = out.constData();
        qsizetype left = out.size();
        while (left > 0) {
            const ssize_t written = write(pipeFds[1], data, static_cast<size_t>(left));
            if (written <= 0)
                break;
            data += written;
            left -= written;
        }
        close(pipeFds[1]);
        _Exit(code);
    }
    close(pipeFds[1]);
    QByteArray all;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(pipeFds[0], buffer, sizeof(buffer))) > 0)
        all.append(buffer, static_cast<int>(got));
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);

    ChildReport report;
    report.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    const QStringList parts = QString::fromUtf8(all).split("--warnings--\n");
    report.log = parts.value(0).split('\n', Qt::SkipEmptyParts);
    report.warnings = parts.value(1).split('\n', Qt::SkipEmptyParts);
    return report;
}

int indexOfLine(const QStringList& lines, const QString& text) {
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i] == text)
            return i;
    }
    return -1;
}

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

class PluginLife : public ::testing::Test {
protected:
    QTemporaryDir dataHome;
};

TEST_F(PluginLife, LoadsLogsItsVersionAndUnloadsCleanly) {
    const ChildReport report = runPluginLife(dataHome.path(), {});
    ASSERT_EQ(report.exitCode, 0) << report.log.join('\n').toStdString();

    const int loaded =
        indexOfLine(report.log, "[relaycast] Relaycast loaded (version " RELAYCAST_VERSION ")");
    const int unloaded = indexOfLine(report.log, "[relaycast] Relaycast unloaded");
    EXPECT_GE(loaded, 0);
    EXPECT_GT(unloaded, loaded);
    // Nothing started SRT, so the library was left alone.
    EXPECT_EQ(indexOfLine(report.log, "[relaycast] SRT protection active (1000 references)"), -1);
    for (const QString& line : report.log) {
        if (line.startsWith("[relaycast]"))
            continue;
        EXPECT_FALSE(line.contains("relaycast", Qt::CaseInsensitive) &&
                     line.contains("error", Qt::CaseInsensitive))
            << line.toStdString();
    }
}

TEST_F(PluginLife, PostLoadAdoptsALegacyFileAndRewritesItsKeysProtected) {
    const QByteArray legacy = R"({"version": 1, "colecciones": {"": {"entradas": [
        {"id": "e1", "fuente": "Escena", "destinos": [
            {"id": "d1", "url": "rtmp://127.0.0.1/live", "clave": "clave-secreta"}]}]}}})";
    const ChildReport report = runPluginLife(
        dataHome.path(),
        [&](const std::string& dir) {
            writeFile(QString::fromStdString(dir) + "flujomix/salidas.json", legacy);
        },
        [&](const std::string& dir) {
            // Checked in the child, where the host's folders live; reported through the log.
            const QString path = QString::fromStdString(dir) + "relaycast/salidas.json";
            QFile file(path);
            const QByteArray written = file.open(QIODevice::ReadOnly) ? file.readAll() : "";
            const auto key = QJsonDocument::fromJson(written)
                                 .object()["colecciones"]
                                 .toObject()[""]
                                 .toObject()["entradas"]
                                 .toArray()[0]
                                 .toObject()["destinos"]
                                 .toArray()[0]
                                 .toObject()["clave"]
                                 .toString();
            struct stat info = {};
            stat(path.toUtf8().constData(), &info);
            blog(LOG_INFO, "check: key protected %d, plain key left %d, mode %o",
                 key.startsWith("dpapi:") ? 1 : 0, written.contains("clave-secreta") ? 1 : 0,
                 static_cast<unsigned>(info.st_mode & 0777));
        });
    ASSERT_EQ(report.exitCode, 0) << report.log.join('\n').toStdString();
    EXPECT_GE(
        indexOfLine(report.log, "[relaycast] previous configuration copied to the new location"),
        0);
    EXPECT_GE(indexOfLine(report.log, "check: key protected 1, plain key left 0, mode 600"), 0)
        << report.log.join('\n').toStdString();
}

TEST_F(PluginLife, DamagedSettingsFileIsCopiedAsideAndReported) {
    QString moduleDir;
    const ChildReport report = runPluginLife(
        dataHome.path(),
        [&](const std::string& dir) {
            moduleDir = QString::fromStdString(dir);
            writeFile(moduleDir + "relaycast/salidas.json", "{ not json");
        },
        [&](const std::string&) {
            blog(LOG_INFO, "check: copy aside %d",
                 QFileInfo::exists(moduleDir + "relaycast/salidas.json.danado") ? 1 : 0);
        });
    ASSERT_EQ(report.exitCode, 0) << report.log.join('\n').toStdString();
    EXPECT_GE(indexOfLine(report.log, "check: copy aside 1"), 0);
    bool reported = false;
    for (const QString& line : report.warnings)
        reported |= line.startsWith("[relaycast] El archivo de configuración estaba dañado.");
    EXPECT_TRUE(reported) << report.warnings.join('\n').toStdString();
}

TEST(PluginFile, AnswersTheHostVersionAndExportsOnlyTheEntryPoints) {
    void* library = dlopen(RELAYCAST_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto version = reinterpret_cast<uint32_t (*)()>(dlsym(library, "obs_module_ver"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version(), 0x1F010001u);
    EXPECT_EQ(dlsym(library, "obs_current_module"), nullptr);
    EXPECT_EQ(dlsym(library, "obs_module_name"), nullptr);

    const std::string command = std::string("nm -D --defined-only '") + RELAYCAST_MODULE_PATH + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> exported;
    char line[512];
    while (fgets(line, sizeof(line), pipe)) {
        std::string text(line);
        text = text.substr(text.find_last_of(' ') + 1);
        text.erase(text.find_last_not_of("\n") + 1);
        exported.insert(text);
    }
    pclose(pipe);
    const std::set<std::string> expected = {"obs_module_set_pointer", "obs_module_ver",
                                            "obs_module_set_locale",  "obs_module_free_locale",
                                            "obs_module_get_string",  "obs_module_load",
                                            "obs_module_post_load",   "obs_module_unload"};
    EXPECT_EQ(exported, expected);
}

} // namespace
