#pragma once

#include "config/config_model.h"

#include <QList>
#include <QMap>
#include <QString>

#include <utility>

namespace relaycast {

// Owns the whole configuration (entries of every scene collection and the encoder profiles)
// and reads and writes the settings file. Interface thread only.
class ConfigStore {
public:
    explicit ConfigStore(QString path);

    // Replaces the whole content from the file. False when the file existed but was unusable;
    // `message` receives a user-facing text in the documented cases and is otherwise untouched.
    bool load(QString* message = nullptr);

    // Writes the whole content atomically. False when the new content is not in place.
    bool save(QString* message = nullptr);

    // The list of a collection, inserted empty when the name is new.
    CollectionConfig& entriesOf(const QString& collection);
    QList<EncoderProfile>& profiles() { return profiles_; }

    const QString& path() const { return path_; }
    bool saveBlocked() const { return saveBlocked_; }

    // Once per session: the warning that some key had to be written in the clear because no
    // protection was available, empty otherwise (and after it was taken).
    QString takeProtectionWarning() { return std::exchange(protectionWarning_, QString()); }
    const QMap<QString, CollectionConfig>& collections() const { return collections_; }

private:
    QString path_;
    bool saveBlocked_ = false;
    bool protectionWarned_ = false;
    QString protectionWarning_;
    QMap<QString, CollectionConfig> collections_;
    QList<EncoderProfile> profiles_;
};

} // namespace relaycast
