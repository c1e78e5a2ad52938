#include "engine/recording_file.h"

#include "module/host_frontend.h"
#include "module/ui_text.h"

#include <util/bmem.h>
#include <util/platform.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace relaycast {
namespace {

constexpr const char* kDefaultNameFormat = "%CCYY-%MM-%DD %hh-%mm-%ss";

QString profileString(config_t* config, const char* section, const char* name) {
    const char* value = config ? config_get_string(config, section, name) : nullptr;
    return value ? QString::fromUtf8(value).trimmed() : QString();
}

// The folder a recording in the profile's output mode goes to, as OBS's own settings name it.
QString profileFolder(config_t* config) {
    if (profileString(config, "Output", "Mode")
            .compare(QLatin1String("Advanced"), Qt::CaseInsensitive) != 0)
        return profileString(config, "SimpleOutput", "FilePath");
    if (profileString(config, "AdvOut", "RecType")
            .compare(QLatin1String("FFmpeg"), Qt::CaseInsensitive) == 0)
        return profileString(config, "AdvOut", "FFFilePath");
    return profileString(config, "AdvOut", "RecFilePath");
}

bool profileWithoutSpaces(config_t* config) {
    const bool advanced = profileString(config, "Output", "Mode") == QLatin1String("Advanced");
    return config && config_get_bool(config, advanced ? "AdvOut" : "SimpleOutput",
                                     advanced ? "RecFileNameWithoutSpace" : "FileNameWithoutSpace");
}

// The host's own expansion of its name format, without the extension it appends.
QString formattedName(const QString& format, bool spaces) {
    char* name = os_generate_formatted_filename("", spaces, format.toUtf8().constData());
    QString text = name ? QString::fromUtf8(name) : QString();
    bfree(name);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

// Characters no file name on any system OBS runs on may hold.
QString safeFilePart(const QString& text) {
    static const QRegularExpression unsafe(QStringLiteral(R"([/\\:*?"<>|\x00-\x1f])"));
    QString safe = text;
    safe.replace(unsafe, QStringLiteral("_"));
    return safe.trimmed();
}

bool folderTakesFiles(const QString& folder) {
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".relaycast-XXXXXX")));
    return probe.open();
}

} // namespace

HostRecordingPlace hostRecordingPlace() {
    config_t* config = hostFrontend().profileConfig();
    HostRecordingPlace place;
    place.folder = profileFolder(config);
    if (place.folder.isEmpty())
        place.folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (place.folder.isEmpty())
        place.folder = QDir::homePath();
    place.nameFormat = profileString(config, "Output", "FilenameFormatting");
    if (place.nameFormat.isEmpty())
        place.nameFormat = QString::fromLatin1(kDefaultNameFormat);
    place.spaces = !profileWithoutSpaces(config);
    return place;
}

QString newRecordingPath(const RecordingConfig& recording, const HostRecordingPlace& host,
                         const QString& entryName, QString* error,
                         const std::function<bool(const QString&)>& exists) {
    const QString folder = recording.carpeta.isEmpty() ? host.folder : recording.carpeta;
    const QFileInfo folderInfo(folder);
    if (folder.isEmpty() || !folderInfo.isDir()) {
        if (error)
            *error = uiText("La carpeta de grabación «%1» no existe.").arg(folder);
        return {};
    }
    if (!folderTakesFiles(folder)) {
        if (error)
            *error = uiText("No se puede escribir en la carpeta de grabación «%1».").arg(folder);
        return {};
    }
    QString base = safeFilePart(formattedName(host.nameFormat, host.spaces));
    const QString name = safeFilePart(entryName);
    if (!name.isEmpty())
        base += (host.spaces ? QStringLiteral(" ") : QStringLiteral("_")) + name;
    if (!host.spaces)
        base.replace(QLatin1Char(' '), QLatin1Char('_'));
    if (base.isEmpty())
        base = QStringLiteral("relaycast");
    const QString extension = QLatin1Char('.') + recording.formato;
    const QDir dir(folder);
    const auto taken = [&](const QString& path) {
        return exists ? exists(path) : QFileInfo::exists(path);
    };
    QString path = dir.filePath(base + extension);
    for (int number = 2; taken(path); ++number)
        path = dir.filePath(QStringLiteral("%1 (%2)%3").arg(base).arg(number).arg(extension));
    return path;
}

} // namespace relaycast
