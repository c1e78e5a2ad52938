#pragma once

#include "config/collection_follower.h"

#include <obs-frontend-api.h>

#include <functional>
#include <memory>

namespace relaycast {

class ConfigStore;
class EntryHotkeys;

// The host side of following scene collections: feeds the front end's collection events and
// its save callback to a CollectionFollower over the module's store, writes the settings file
// when entries moved, marks every saved collection with the name its entries are stored under,
// and then hands the collection's plug-in data to the hotkeys. The plug-in's one save
// callback, so the collection is decided before any binding is written or read.
//
// Interface thread only.
class CollectionWatch {
public:
    using StoreSource = std::function<ConfigStore*()>;
    // Runs after every decision that changed the followed collection or the stored entries,
    // once the hotkeys follow.
    using Applied = std::function<void(const CollectionFollower::Outcome&)>;

    // `hotkeys` (may be null) must outlive the watch. Registers the save callback and follows
    // the host's current collection at once.
    CollectionWatch(StoreSource store, EntryHotkeys* hotkeys, Applied applied);
    ~CollectionWatch();
    CollectionWatch(const CollectionWatch&) = delete;
    CollectionWatch& operator=(const CollectionWatch&) = delete;

    void onEvent(enum obs_frontend_event event);

private:
    static void onSaveOrLoad(obs_data_t* modules, bool saving, void* self);
    void saveOrLoad(obs_data_t* modules, bool saving);
    // The follower of the module's current store (a new store gets a new follower).
    CollectionFollower* follower();
    void follow(CollectionFollower::Moment moment);

    StoreSource store_;
    EntryHotkeys* hotkeys_;
    Applied applied_;
    ConfigStore* followedStore_ = nullptr;
    std::unique_ptr<CollectionFollower> follower_;
};

} // namespace relaycast
