#include "plugin/collection_watch.h"

#include "config/config_store.h"
#include "module/host_frontend.h"
#include "module/module_log.h"
#include "plugin/entry_hotkeys.h"

namespace relaycast {
namespace {

// The plug-in's object in the collection's plug-in data, and its member naming the collection
// whose entries belong to the file.
constexpr const char* kModuleKey = "relaycast";
constexpr const char* kMarkKey = "coleccion";

using Step = CollectionFollower::Step;

void logOutcome(const CollectionFollower::Outcome& outcome, int entries) {
    const QByteArray from = outcome.from.toUtf8();
    const QByteArray to = outcome.to.toUtf8();
    switch (outcome.step) {
    case Step::Renamed:
        moduleLog(LOG_INFO, "scene collection '%s' is now '%s': its %d entries follow",
                  from.constData(), to.constData(), entries);
        break;
    case Step::Duplicated:
        moduleLog(LOG_INFO, "scene collection '%s' copied as '%s' with its %d entries",
                  from.constData(), to.constData(), entries);
        break;
    case Step::Created:
        moduleLog(LOG_INFO, "new scene collection '%s' starts without entries", to.constData());
        break;
    case Step::Adopted:
    case Step::Switched:
        moduleLog(LOG_INFO, "scene collection '%s': %d entries", to.constData(), entries);
        break;
    default:
        break;
    }
    for (const QString& name : outcome.setAside)
        moduleLog(LOG_INFO,
                  "entries of scene collection '%s' set aside, the dock can bring "
                  "them back",
                  name.toUtf8().constData());
}

} // namespace

CollectionWatch::CollectionWatch(StoreSource store, EntryHotkeys* hotkeys, Applied applied)
    : store_(std::move(store)), hotkeys_(hotkeys), applied_(std::move(applied)) {
    hostFrontend().addSaveCallback(&CollectionWatch::onSaveOrLoad, this);
    follow(CollectionFollower::Moment::Event);
}

CollectionWatch::~CollectionWatch() {
    hostFrontend().removeSaveCallback(&CollectionWatch::onSaveOrLoad, this);
}

CollectionFollower* CollectionWatch::follower() {
    ConfigStore* store = store_ ? store_() : nullptr;
    if (store != followedStore_) {
        followedStore_ = store;
        follower_ = store ? std::make_unique<CollectionFollower>(*store) : nullptr;
    }
    return follower_.get();
}

void CollectionWatch::onEvent(enum obs_frontend_event event) {
    CollectionFollower* follower = this->follower();
    if (!follower)
        return;
    switch (event) {
    case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING:
        follower->changing();
        break;
    case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CLEANUP:
        follower->scenesCleared();
        break;
    case OBS_FRONTEND_EVENT_SCENE_COLLECTION_RENAMED:
        follow(CollectionFollower::Moment::Renamed);
        break;
    case OBS_FRONTEND_EVENT_SCENE_COLLECTION_LIST_CHANGED:
    case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED:
    case OBS_FRONTEND_EVENT_FINISHED_LOADING:
        follow(CollectionFollower::Moment::Event);
        break;
    default:
        break;
    }
}

void CollectionWatch::follow(CollectionFollower::Moment moment) {
    CollectionFollower* follower = this->follower();
    if (!follower)
        return;
    HostFrontend& host = hostFrontend();
    const CollectionFollower::Outcome outcome =
        follower->follow({host.currentSceneCollection(), host.sceneCollections()}, moment);
    if (!outcome.changedCollection() && outcome.setAside.isEmpty())
        return;
    logOutcome(
        outcome,
        static_cast<int>(
            followedStore_->collections().value(followedStore_->followedCollection()).size()));
    if (outcome.changedStore()) {
        QString error;
        if (!followedStore_->save(&error))
            moduleLog(LOG_WARNING, "the entries' new collection could not be saved: %s",
                      error.toUtf8().constData());
    }
    if (hotkeys_) {
        if (!outcome.newIds.isEmpty())
            hotkeys_->carryBindings(outcome.newIds);
        hotkeys_->sync();
    }
    if (applied_)
        applied_(outcome);
}

void CollectionWatch::onSaveOrLoad(obs_data_t* modules, bool saving, void* self) {
    try {
        static_cast<CollectionWatch*>(self)->saveOrLoad(modules, saving);
    } catch (...) {
        moduleLog(LOG_WARNING, "unexpected error while %s the scene collection's data",
                  saving ? "saving" : "loading");
    }
}

void CollectionWatch::saveOrLoad(obs_data_t* modules, bool saving) {
    CollectionFollower* follower = this->follower();
    if (saving) {
        // Decided first: the mark and the bindings written are the followed collection's.
        if (follower) {
            follow(CollectionFollower::Moment::Saving);
            OBSDataAutoRelease ours = obs_data_get_obj(modules, kModuleKey);
            if (!ours)
                ours = obs_data_create();
            obs_data_set_string(ours, kMarkKey,
                                followedStore_->followedCollection().toUtf8().constData());
            obs_data_set_obj(modules, kModuleKey, ours);
        }
        if (hotkeys_)
            hotkeys_->saveBindings(modules);
        return;
    }
    // The file's bindings are read first, by the ids it has, so that a duplicate decided from
    // its mark hands them on to the copies' new ids.
    if (hotkeys_)
        hotkeys_->loadBindings(modules);
    if (follower) {
        OBSDataAutoRelease ours = obs_data_get_obj(modules, kModuleKey);
        follower->collectionLoaded(ours ? QString::fromUtf8(obs_data_get_string(ours, kMarkKey))
                                        : QString());
        follow(CollectionFollower::Moment::Event);
    }
}

} // namespace relaycast
