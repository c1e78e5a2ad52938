#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace relaycast {

class ConfigStore;

// Keeps the plug-in's entries with the scene collection they belong to while the host renames,
// duplicates, creates, switches and removes collections. Entries are stored by collection name,
// and the host does not say the same thing in the same order on every line, so this decides
// from what it can observe: the name the host calls current, the collection list, whether the
// scenes were cleared or a collection file was loaded since the last decision, and the
// plug-in's own mark in a loaded file (the name its entries were stored under when it was last
// saved).
//
// The store's followed collection is the one whose entries run and show. A new current name
// with the same scenes still loaded is a rename when the old name left the list (or the host
// said so) and a duplicate once the list is known to still hold the old name; inside a save the
// list may lag, so the decision waits. Entries stored under a name no collection has any more
// are set aside, never dropped. Plain logic over the store; interface thread.
class CollectionFollower {
public:
    // What the host reports at one moment.
    struct HostView {
        QString current;    // empty: the host named none (not decided on)
        QStringList listed; // empty: unknown (no collection is taken for removed)
    };
    enum class Moment {
        Event,   // a front-end event, or any later look
        Saving,  // inside the host's save of the current collection
        Renamed, // the host announced a rename
    };
    enum class Step { None, Waiting, Adopted, Switched, Renamed, Duplicated, Created };
    struct Outcome {
        Step step = Step::None;
        QString from;
        QString to;
        QHash<QString, QString> newIds; // a duplicate's entry ids: old -> new
        QStringList setAside;           // collections whose entries were set aside
        // True when anything stored changed (the settings file should be written).
        bool changedStore() const {
            return step == Step::Renamed || step == Step::Duplicated || !setAside.isEmpty();
        }
        // True when the followed collection is another one than before.
        bool changedCollection() const { return step != Step::None && step != Step::Waiting; }
    };

    explicit CollectionFollower(ConfigStore& store);

    // The host is about to change collection (a switch, duplicate, new or remove).
    void changing();
    // The host cleared its scenes.
    void scenesCleared();
    // The host read a collection file; `savedAs` is the plug-in's mark in it (may be empty).
    void collectionLoaded(const QString& savedAs);

    Outcome follow(const HostView& host, Moment moment);

private:
    void setAsideUnlisted(const HostView& host, Outcome& outcome);
    void recoverFromMark(const HostView& host, Outcome& outcome);

    ConfigStore& store_;
    bool cleared_ = false;
    bool loaded_ = false;
    QString mark_;
};

} // namespace relaycast
