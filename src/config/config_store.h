#pragma once

#include "config/config_model.h"

#include <QHash>
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

    // --- Following the host's scene collections (decided by CollectionFollower)
    // The collection whose entries the plug-in runs and shows; null until something follows the
    // host, in which case the host's current collection is meant.
    const QString& followedCollection() const { return followed_; }
    void setFollowedCollection(const QString& name) { followed_ = name; }
    // A renamed collection: its entries (ids kept) go to the new name. Entries stored under the
    // new name already are set aside first.
    void moveCollection(const QString& from, const QString& to);
    // A duplicated collection: the copy gets its own ids (entries and destinations). Returns
    // the new id of every copied entry by its old id.
    QHash<QString, QString> copyCollection(const QString& from, const QString& to);
    // The collection's entries go to the set-aside list; false when it had none.
    bool setAsideCollection(const QString& name);
    const QList<SetAsideEntries>& setAside() const { return setAside_; }
    // Moves set-aside group `index` to the end of `collection`, with new entry ids.
    bool bringBack(int index, const QString& collection);

private:
    QString path_;
    bool saveBlocked_ = false;
    bool protectionWarned_ = false;
    QString protectionWarning_;
    QMap<QString, CollectionConfig> collections_;
    QList<EncoderProfile> profiles_;
    QList<SetAsideEntries> setAside_;
    QString followed_;
};

} // namespace relaycast
