#include "config/config_store.h"

#include "config/config_document.h"
#include "config/owner_only_file.h"
#include "module/ui_text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>

#include <utility>

namespace relaycast {
namespace {

// The keys are protected per user and per computer; the wording names Windows only where that
// is the protection in use.
#ifdef _WIN32
constexpr const char* kUnopenedKeysMessage =
    "Algunas claves de emisión no se pudieron abrir porque se guardaron en otro usuario o PC de "
    "Windows. Vuelve a escribirlas en cada destino.";
#else
constexpr const char* kUnopenedKeysMessage =
    "Algunas claves de emisión no se pudieron abrir porque se guardaron en otro usuario o PC. "
    "Vuelve a escribirlas en cada destino.";
#endif

void setMessage(QString* message, const QString& text) {
    if (message)
        *message = text;
}

QString copyAsidePath(const QString& path) {
    return path + QStringLiteral(".danado");
}

// A save killed between naming its temporary copy and the final replace (OBS killed, power
// lost) leaves that copy beside the file: the file's name, a dot and six random characters,
// readable by the owner only. Anything else with such a name is the user's and stays.
void removeInterruptedSaves(const QString& path) {
    const QFileInfo file(path);
    const QDir folder = file.absoluteDir();
    const QString aside = QFileInfo(copyAsidePath(path)).fileName();
    const QStringList pattern{file.fileName() + QStringLiteral(".??????")};
    for (const QFileInfo& copy : folder.entryInfoList(pattern, QDir::Files | QDir::Hidden)) {
        if (copy.fileName() != aside && !copy.isSymLink() &&
            (copy.permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser |
                                    QFileDevice::ReadOwner | QFileDevice::WriteOwner)) == 0)
            QFile::remove(copy.filePath());
    }
}

} // namespace

ConfigStore::ConfigStore(QString path) : path_(std::move(path)) {}

CollectionConfig& ConfigStore::entriesOf(const QString& collection) {
    return collections_[collection];
}

bool ConfigStore::load(QString* message) {
    collections_.clear();
    profiles_.clear();
    saveBlocked_ = false;
    removeInterruptedSaves(path_);

    if (!QFileInfo::exists(path_))
        return true;

    QFile file(path_);
    const auto unreadable = [&] {
        // Nothing of it is trusted or copied, and nothing may overwrite it.
        saveBlocked_ = true;
        setMessage(message, uiText("No se pudo leer el archivo de configuración (%1). Se empieza "
                                   "sin entradas guardadas.")
                                .arg(file.errorString()));
        return false;
    };
    if (!file.open(QIODevice::ReadOnly))
        return unreadable();
    const QByteArray bytes = file.readAll();
    // A read that failed half-way is not a damaged file: the file may be perfectly fine.
    if (file.error() != QFileDevice::NoError)
        return unreadable();
    file.close();

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        const QString aside = copyAsidePath(path_);
        const bool copied = writeOwnerOnlyCopy(aside, bytes);
        saveBlocked_ = !copied;
        setMessage(message,
                   copied ? uiText("El archivo de configuración estaba dañado. Se guardó una copia "
                                   "en «%1» y se empieza de cero.")
                                .arg(aside)
                          : uiText("El archivo de configuración estaba dañado y no se pudo copiar. "
                                   "Se empieza de cero."));
        return false;
    }

    ReadConfig read = readConfigDocument(document.object());
    collections_ = std::move(read.collections);
    profiles_ = std::move(read.profiles);

    if (read.unprotectFailed) {
        // The stored values stay as they are until the user saves.
        setMessage(message, uiText(kUnopenedKeysMessage));
    } else if (read.needsReprotection) {
        save();
    }
    return true;
}

bool ConfigStore::save(QString* message) {
    if (saveBlocked_) {
        setMessage(message, uiText("No se guarda nada para no perder tu configuración anterior, "
                                   "que no se pudo leer. Cierra OBS, revisa el archivo de "
                                   "configuración y vuelve a abrirlo."));
        return false;
    }

    WriteOutcome outcome;
    const QByteArray bytes = QJsonDocument(writeConfigDocument(collections_, profiles_, &outcome))
                                 .toJson(QJsonDocument::Indented);
    if (outcome.storedInClear && !protectionWarned_) {
        protectionWarned_ = true;
        protectionWarning_ =
            uiText("No se pudieron cifrar las claves de emisión nuevas porque la clave de cifrado "
                   "de tu usuario no se puede usar; se han guardado sin cifrar.");
    }

    const QString folder = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(folder)) {
        setMessage(message,
                   uiText("No se pudo crear la carpeta de configuración «%1».").arg(folder));
        return false;
    }

    QSaveFile file(path_);
    QString error;
    if (!openOwnerOnly(file, &error)) {
        setMessage(message, uiText("No se pudo guardar la configuración (%1).").arg(error));
        return false;
    }
    file.write(bytes);
    if (!file.commit()) {
        setMessage(message,
                   uiText("No se pudo guardar la configuración (%1).").arg(file.errorString()));
        return false;
    }
    return true;
}

} // namespace relaycast
