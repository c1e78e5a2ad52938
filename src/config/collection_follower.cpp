#include "config/collection_follower.h"

#include "config/config_store.h"

namespace relaycast {

CollectionFollower::CollectionFollower(ConfigStore& store) : store_(store) {}

void CollectionFollower::changing() {
    // Nothing to decide yet: the host saves the old collection first.
}

void CollectionFollower::scenesCleared() {
    cleared_ = true;
    loaded_ = false;
}

void CollectionFollower::collectionLoaded(const QString& savedAs) {
    loaded_ = true;
    mark_ = savedAs;
}

CollectionFollower::Outcome CollectionFollower::follow(const HostView& host, Moment moment) {
    Outcome outcome;
    if (host.current.isEmpty())
        return outcome;
    const QString followed = store_.followedCollection();
    outcome.from = followed;
    outcome.to = host.current;
    if (followed.isNull()) {
        outcome.step = Step::Adopted;
    } else if (followed == host.current && !loaded_) {
        outcome.step = Step::None;
    } else if (loaded_) {
        outcome.step = followed == host.current ? Step::None : Step::Switched;
    } else if (cleared_) {
        // Empty scenes under a new name: a new collection. Whatever an earlier collection of
        // that name left in the store is not its.
        outcome.step = Step::Created;
        if (store_.setAsideCollection(host.current))
            outcome.setAside << host.current;
    } else {
        // The same scenes under a new name.
        const bool oldListed = host.listed.contains(followed);
        if (moment == Moment::Renamed || (!host.listed.isEmpty() && !oldListed)) {
            outcome.step = Step::Renamed;
            if (!store_.collections().value(host.current).isEmpty())
                outcome.setAside << host.current;
            store_.moveCollection(followed, host.current);
        } else if (moment == Moment::Saving || host.listed.isEmpty()) {
            outcome.step = Step::Waiting;
            return outcome;
        } else {
            outcome.step = Step::Duplicated;
            if (!store_.collections().value(host.current).isEmpty())
                outcome.setAside << host.current;
            outcome.newIds = store_.copyCollection(followed, host.current);
        }
    }
    if (loaded_)
        recoverFromMark(host, outcome);
    store_.setFollowedCollection(host.current);
    cleared_ = false;
    loaded_ = false;
    mark_.clear();
    if (moment != Moment::Saving)
        setAsideUnlisted(host, outcome);
    return outcome;
}

void CollectionFollower::recoverFromMark(const HostView& host, Outcome& outcome) {
    // A file whose entries were stored under another name, and that name still holds entries
    // while this one holds none: renamed or duplicated while the plug-in did not see it.
    if (mark_.isEmpty() || mark_ == host.current || host.listed.isEmpty() ||
        store_.collections().value(mark_).isEmpty() ||
        !store_.collections().value(host.current).isEmpty())
        return;
    if (host.listed.contains(mark_)) {
        outcome.newIds = store_.copyCollection(mark_, host.current);
        outcome.step = Step::Duplicated;
    } else {
        store_.moveCollection(mark_, host.current);
        outcome.step = Step::Renamed;
    }
    outcome.from = mark_;
}

void CollectionFollower::setAsideUnlisted(const HostView& host, Outcome& outcome) {
    if (host.listed.isEmpty())
        return;
    const QStringList stored = store_.collections().keys();
    for (const QString& name : stored) {
        if (name != host.current && !host.listed.contains(name) && store_.setAsideCollection(name))
            outcome.setAside << name;
    }
}

} // namespace relaycast
