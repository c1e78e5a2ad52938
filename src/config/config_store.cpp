#include "config/config_store.h"

#include "config/config_document.h"
#include "config/owner_only_file.h"
#include "module/module_log.h"
#include "module/ui_text.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>

#ifndef _WIN32
#include <unistd.h>
#endif

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

constexpr QFileDevice::Permissions kOwnerPermissions =
    QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ReadOwner |
    QFileDevice::WriteOwner;

uint currentUserId() {
#ifdef _WIN32
    return static_cast<uint>(-2); // what QFileInfo::ownerId() reports there
#else
    return ::getuid();
#endif
}

// The random part of a temporary copy's name: six letters or digits.
bool isRandomPart(const QString& text) {
    static const QRegularExpression sixLettersOrDigits(QStringLiteral("^[A-Za-z0-9]{6}$"));
    return sixLettersOrDigits.match(text).hasMatch();
}

// Removes the temporary copies that killed saves left beside the settings file, and only files
// the plug-in provably made: regular files of this user, readable by the owner only, named with
// a save's marker. A file merely named like a copy of an older version's saves (the file's
// name, a dot, six letters or digits) may be the user's own: a `cp -p` backup edited by hand
// looks exactly like one. It stays, named in the log; a stray file costs nothing.
void removeInterruptedSaves(const QString& path) {
    const QFileInfo file(path);
    const QDir folder = file.absoluteDir();
    const QString ownInfix = file.fileName() + QLatin1String(kSaveCopyInfix);
    const QString aside = QFileInfo(copyAsidePath(path)).fileName();
    const QStringList patterns{ownInfix + QStringLiteral("*"),
                               file.fileName() + QStringLiteral(".??????")};
    const auto entries = folder.entryInfoList(patterns, QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& copy : entries) {
        const QString name = copy.fileName();
        if (name == aside)
            continue;
        const bool ownName = name.startsWith(ownInfix) && isRandomPart(name.mid(ownInfix.size()));
        if (!ownName) {
            if (isRandomPart(name.mid(file.fileName().size() + 1)))
                moduleLog(LOG_INFO, "left %s in place: it may be yours", name.toUtf8().constData());
            continue;
        }
        const bool ours = !copy.isSymLink() && copy.isFile() && copy.ownerId() == currentUserId() &&
                          (copy.permissions() & ~kOwnerPermissions) == 0;
        if (!ours)
            moduleLog(LOG_WARNING, "left %s in place: not a copy this plug-in made",
                      name.toUtf8().constData());
        else if (QFile::remove(copy.filePath()))
            moduleLog(LOG_INFO, "removed %s, left by an interrupted save",
                      name.toUtf8().constData());
        else
            moduleLog(LOG_WARNING, "could not remove %s, left by an interrupted save",
                      name.toUtf8().constData());
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
    setAside_.clear();
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
    setAside_ = std::move(read.setAside);

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
    const QByteArray bytes =
        QJsonDocument(writeConfigDocument(collections_, profiles_, setAside_, &outcome))
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

    QString error;
    if (!replaceOwnerOnly(path_, bytes, &error)) {
        setMessage(message, uiText("No se pudo guardar la configuración (%1).").arg(error));
        return false;
    }
    return true;
}

void ConfigStore::moveCollection(const QString& from, const QString& to) {
    if (from == to)
        return;
    setAsideCollection(to);
    collections_.insert(to, collections_.take(from));
}

QHash<QString, QString> ConfigStore::copyCollection(const QString& from, const QString& to) {
    QHash<QString, QString> newIds;
    if (from == to)
        return newIds;
    setAsideCollection(to);
    CollectionConfig copy = collections_.value(from);
    for (EntryConfig& entry : copy) {
        const QString id = newConfigId();
        newIds.insert(entry.id, id);
        entry.id = id;
        for (DestConfig& destination : entry.destinos)
            destination.id = newConfigId();
    }
    collections_.insert(to, copy);
    return newIds;
}

bool ConfigStore::setAsideCollection(const QString& name) {
    const CollectionConfig entries = collections_.take(name);
    if (entries.isEmpty())
        return false;
    setAside_.append({name, QDateTime::currentDateTimeUtc().toString(Qt::ISODate), entries});
    return true;
}

bool ConfigStore::bringBack(int index, const QString& collection) {
    if (index < 0 || index >= setAside_.size())
        return false;
    CollectionConfig& into = collections_[collection];
    for (EntryConfig entry : setAside_.takeAt(index).entradas) {
        // New ids: nothing else may ever have run or bound a key under the old ones here.
        entry.id = newConfigId();
        into.append(entry);
    }
    return true;
}

} // namespace relaycast
