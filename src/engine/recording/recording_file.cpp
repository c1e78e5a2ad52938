#include "engine/recording/recording_file.h"

#include "module/host_frontend.h"

#include <util/bmem.h>
#include <util/platform.h>

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTextBoundaryFinder>

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

// Characters no file name on any system OBS runs on may hold, and those a shell still reads
// inside double quotes ("$", "`", "\", '"'): OBS 29 starts its file writer through "sh -c" with
// the path in double quotes.
QString safeFilePart(const QString& text) {
    static const QRegularExpression unsafe(QStringLiteral(R"([/\\:*?"<>|$`\x00-\x1f])"));
    QString safe = text;
    safe.replace(unsafe, QStringLiteral("_"));
    return safe.trimmed();
}

} // namespace

bool folderSafeForShell(const QString& folder) {
    // Separators as Qt spells them ("/"), so a Windows folder's own "\" is no reason to refuse.
    static const QRegularExpression unsafe(QStringLiteral(R"([$`\\"])"));
    return !QDir::cleanPath(folder).contains(unsafe);
}

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

QString RecordingFileName::fileName(int number) const {
    const QString tail = (number > 1 ? QStringLiteral(" (%1)").arg(number) : QString()) + extension;
    const qsizetype room = kMaxRecordingFileNameBytes - tail.toUtf8().size();
    if (stem.toUtf8().size() <= room)
        return stem + tail;
    // Whole characters only, as the user sees them (a letter with its accents, an emoji).
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, stem);
    qsizetype kept = 0;
    qsizetype bytes = 0;
    for (qsizetype next = characters.toNextBoundary(); next > 0;
         next = characters.toNextBoundary()) {
        bytes += stem.mid(kept, next - kept).toUtf8().size();
        if (bytes > room)
            break;
        kept = next;
    }
    QString shortened = stem.left(kept);
    while (shortened.endsWith(QLatin1Char(' ')) || shortened.endsWith(QLatin1Char('_')))
        shortened.chop(1);
    return (shortened.isEmpty() ? QStringLiteral("relaycast") : shortened) + tail;
}

RecordingFileName recordingFileName(const RecordingConfig& recording,
                                    const HostRecordingPlace& host, const QString& entryName) {
    RecordingFileName file;
    file.folder = recording.carpeta.isEmpty() ? host.folder : recording.carpeta;
    file.stem = safeFilePart(formattedName(host.nameFormat, host.spaces));
    const QString name = safeFilePart(entryName);
    if (!name.isEmpty())
        file.stem += (host.spaces ? QStringLiteral(" ") : QStringLiteral("_")) + name;
    if (!host.spaces)
        file.stem.replace(QLatin1Char(' '), QLatin1Char('_'));
    if (file.stem.isEmpty())
        file.stem = QStringLiteral("relaycast");
    file.extension = QLatin1Char('.') + recording.formato;
    return file;
}

} // namespace relaycast
