#include "plugin/entry_hotkeys.h"

#include "engine/entry_controller.h"
#include "module/host_frontend.h"
#include "module/module_log.h"
#include "module/ui_text.h"

#include <util/config-file.h>

#include <QMetaObject>

#include <cstring>
#include <set>

namespace relaycast {
namespace {

// The plug-in's object in the collection's plug-in data, and its member for the bindings.
constexpr const char* kModuleKey = "relaycast";
constexpr const char* kHotkeysKey = "hotkeys";
// The profile section and value form OBS's hotkey settings use for front-end hotkeys.
constexpr const char* kProfileSection = "Hotkeys";
constexpr const char* kBindingsKey = "bindings";

QString entryLabel(const EntryConfig& entry) {
    return !entry.nombre.isEmpty()   ? entry.nombre
           : !entry.fuente.isEmpty() ? entry.fuente
                                     : uiText("entrada");
}

QString startDescription(const QString& label) {
    return uiText("Relaycast: emitir todos los destinos de «%1»").arg(label);
}

QString stopDescription(const QString& label) {
    return uiText("Relaycast: parar todos los destinos de «%1»").arg(label);
}

QByteArray entryHotkeyName(const QString& entryId, EntryHotkeys::Action action) {
    return (action == EntryHotkeys::Action::Start ? "relaycast_start_entry_"
                                                  : "relaycast_stop_entry_") +
           entryId.toUtf8();
}

} // namespace

EntryHotkeys::EntryHotkeys(ControllerSource controller) : controller_(std::move(controller)) {
    startEvery_ = registerTarget({}, Action::Start, kStartEveryEntryHotkey,
                                 uiText("Relaycast: emitir todas las entradas"));
    stopEvery_ = registerTarget({}, Action::Stop, kStopEveryEntryHotkey,
                                uiText("Relaycast: parar todas las entradas"));
    loadGlobalBindings();
    sync();
}

EntryHotkeys::~EntryHotkeys() {
    // Once unregistered, the host calls none of them again (it presses under the same lock).
    for (auto& [id, pair] : entries_) {
        obs_hotkey_unregister(pair.start->id);
        obs_hotkey_unregister(pair.stop->id);
    }
    obs_hotkey_unregister(startEvery_->id);
    obs_hotkey_unregister(stopEvery_->id);
}

std::unique_ptr<EntryHotkeys::Target> EntryHotkeys::registerTarget(const QString& entryId,
                                                                   Action action, const char* name,
                                                                   const QString& description) {
    auto target = std::make_unique<Target>();
    target->owner = this;
    target->entryId = entryId;
    target->action = action;
    target->name = name;
    target->id = obs_hotkey_register_frontend(name, description.toUtf8().constData(),
                                              &EntryHotkeys::onPress, target.get());
    return target;
}

void EntryHotkeys::sync() {
    EntryController* controller = controller_();
    std::map<QString, QString> wanted; // entry id -> label
    if (controller) {
        for (const EntryConfig& entry : controller->currentEntries())
            wanted.emplace(entry.id, entryLabel(entry));
    }
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (wanted.count(it->first) != 0) {
            ++it;
            continue;
        }
        obs_hotkey_unregister(it->second.start->id);
        obs_hotkey_unregister(it->second.stop->id);
        // The entry left its collection: its bindings go with it.
        if (loadedBindings_)
            obs_data_erase(loadedBindings_, it->first.toUtf8().constData());
        it = entries_.erase(it);
    }
    for (const auto& [entryId, label] : wanted) {
        auto found = entries_.find(entryId);
        if (found != entries_.end()) {
            if (found->second.label != label) {
                found->second.label = label;
                obs_hotkey_set_description(found->second.start->id,
                                           startDescription(label).toUtf8().constData());
                obs_hotkey_set_description(found->second.stop->id,
                                           stopDescription(label).toUtf8().constData());
            }
            continue;
        }
        EntryPair pair;
        pair.label = label;
        pair.start = registerTarget(entryId, Action::Start,
                                    entryHotkeyName(entryId, Action::Start).constData(),
                                    startDescription(label));
        pair.stop = registerTarget(entryId, Action::Stop,
                                   entryHotkeyName(entryId, Action::Stop).constData(),
                                   stopDescription(label));
        loadEntryBindings(pair, entryId);
        entries_.emplace(entryId, std::move(pair));
    }
}

void EntryHotkeys::onPress(void* data, obs_hotkey_id, obs_hotkey_t*, bool pressed) {
    if (!pressed)
        return;
    // Any thread, under the host's hotkey lock: only hand the work over.
    const Target& target = *static_cast<const Target*>(data);
    EntryHotkeys* owner = target.owner;
    const QString entryId = target.entryId;
    const Action action = target.action;
    QMetaObject::invokeMethod(
        &owner->context_, [owner, entryId, action] { owner->run(entryId, action); },
        Qt::QueuedConnection);
}

void EntryHotkeys::run(const QString& entryId, Action action) {
    EntryController* controller = controller_();
    if (!controller)
        return;
    const bool start = action == Action::Start;
    moduleLog(LOG_INFO, "hotkey: %s %s", start ? "start" : "stop",
              entryId.isEmpty() ? "every entry" : "an entry");
    QString error;
    bool started = true;
    if (entryId.isEmpty()) {
        if (start)
            started = controller->startAll(&error);
        else
            controller->stopAll();
    } else {
        if (start)
            started = controller->startEntry(entryId, &error);
        else
            controller->stopEntry(entryId);
    }
    if (!started && !error.isEmpty())
        controller->notice(error, true);
}

obs_hotkey_id EntryHotkeys::everyEntryHotkey(Action action) const {
    return action == Action::Start ? startEvery_->id : stopEvery_->id;
}

obs_hotkey_id EntryHotkeys::entryHotkey(const QString& entryId, Action action) const {
    const auto found = entries_.find(entryId);
    if (found == entries_.end())
        return OBS_INVALID_HOTKEY_ID;
    return action == Action::Start ? found->second.start->id : found->second.stop->id;
}

// --- Bindings

void EntryHotkeys::saveBindings(obs_data_t* modules) {
    // The collection being written is the one followed: its entries are the ones to keep.
    sync();
    OBSDataAutoRelease ours = obs_data_get_obj(modules, kModuleKey);
    if (!ours)
        ours = obs_data_create();
    // Bindings of entries that have no hotkey now (a settings file that could not be read, or
    // not yet) are kept as the collection had them.
    OBSDataAutoRelease bindings = obs_data_create();
    if (loadedBindings_)
        obs_data_apply(bindings, loadedBindings_);
    for (const auto& [entryId, pair] : entries_) {
        OBSDataArrayAutoRelease start = obs_hotkey_save(pair.start->id);
        OBSDataArrayAutoRelease stop = obs_hotkey_save(pair.stop->id);
        OBSDataAutoRelease one = obs_data_create();
        obs_data_set_array(one, "start", start);
        obs_data_set_array(one, "stop", stop);
        obs_data_set_obj(bindings, entryId.toUtf8().constData(), one);
    }
    obs_data_set_obj(ours, kHotkeysKey, bindings);
    obs_data_set_obj(modules, kModuleKey, ours);
    // A copy of its own: the host's object must stay as written.
    loadedBindings_ = OBSDataAutoRelease(obs_data_create()).Get();
    obs_data_apply(loadedBindings_, bindings);
    saveGlobalBindings();
}

void EntryHotkeys::carryBindings(const QHash<QString, QString>& newIds) {
    if (!loadedBindings_)
        loadedBindings_ = OBSDataAutoRelease(obs_data_create()).Get();
    for (auto it = newIds.begin(); it != newIds.end(); ++it) {
        const QByteArray newId = it.value().toUtf8();
        const auto found = entries_.find(it.key());
        if (found == entries_.end()) {
            // Not registered: the bindings the collection was read with, if any.
            OBSDataAutoRelease read = obs_data_get_obj(loadedBindings_, it.key().toUtf8());
            if (read)
                obs_data_set_obj(loadedBindings_, newId.constData(), read);
            continue;
        }
        OBSDataArrayAutoRelease start = obs_hotkey_save(found->second.start->id);
        OBSDataArrayAutoRelease stop = obs_hotkey_save(found->second.stop->id);
        OBSDataAutoRelease one = obs_data_create();
        obs_data_set_array(one, "start", start);
        obs_data_set_array(one, "stop", stop);
        obs_data_set_obj(loadedBindings_, newId.constData(), one);
    }
}

void EntryHotkeys::loadBindings(obs_data_t* modules) {
    OBSDataAutoRelease ours = obs_data_get_obj(modules, kModuleKey);
    OBSDataAutoRelease bindings = ours ? obs_data_get_obj(ours, kHotkeysKey) : nullptr;
    // A copy of its own: entries leaving the collection are erased from it.
    loadedBindings_ = OBSDataAutoRelease(obs_data_create()).Get();
    if (bindings)
        obs_data_apply(loadedBindings_, bindings);
    // Entries this collection shares ids with keep their hotkeys: their bindings are replaced.
    for (const auto& [entryId, pair] : entries_)
        loadEntryBindings(pair, entryId);
    sync();
}

void EntryHotkeys::loadEntryBindings(const EntryPair& pair, const QString& entryId) {
    OBSDataAutoRelease one =
        loadedBindings_ ? obs_data_get_obj(loadedBindings_, entryId.toUtf8().constData()) : nullptr;
    OBSDataArrayAutoRelease start = one ? obs_data_get_array(one, "start") : nullptr;
    OBSDataArrayAutoRelease stop = one ? obs_data_get_array(one, "stop") : nullptr;
    obs_hotkey_load(pair.start->id, start);
    obs_hotkey_load(pair.stop->id, stop);
}

void EntryHotkeys::saveGlobalBindings(bool always) {
    config_t* profile = hostFrontend().profileConfig();
    if (!profile || profileSwitching_)
        return;
    bool changed = false;
    for (const Target* target : {startEvery_.get(), stopEvery_.get()}) {
        // The same form OBS's hotkey settings write, so equal bindings read equal.
        OBSDataArrayAutoRelease array = obs_hotkey_save(target->id);
        OBSDataAutoRelease value = obs_data_create();
        obs_data_set_array(value, kBindingsKey, array);
        const char* json = obs_data_get_json(value);
        const char* stored = config_get_string(profile, kProfileSection, target->name);
        if (!always && stored && std::strcmp(stored, json) == 0)
            continue;
        config_set_string(profile, kProfileSection, target->name, json);
        changed = true;
    }
    if (changed && config_save_safe(profile, "tmp", nullptr) != CONFIG_SUCCESS)
        moduleLog(LOG_WARNING, "could not save the hotkeys in the OBS profile");
}

void EntryHotkeys::loadGlobalBindings() {
    config_t* profile = hostFrontend().profileConfig();
    for (const Target* target : {startEvery_.get(), stopEvery_.get()}) {
        const char* stored =
            profile ? config_get_string(profile, kProfileSection, target->name) : nullptr;
        OBSDataAutoRelease value = stored ? obs_data_create_from_json(stored) : nullptr;
        OBSDataArrayAutoRelease array = value ? obs_data_get_array(value, kBindingsKey) : nullptr;
        obs_hotkey_load(target->id, array);
    }
}

void EntryHotkeys::profileChanging() {
    saveGlobalBindings();
    profileSwitching_ = true;
}

void EntryHotkeys::profileRenamed() {
    // The renamed profile is a copy of the old one's file: what it had on disk may be older
    // than the bindings in use.
    profileSwitching_ = false;
    saveGlobalBindings(true);
}

void EntryHotkeys::profileChanged() {
    profileSwitching_ = false;
    config_t* profile = hostFrontend().profileConfig();
    const bool stored =
        profile && (config_has_user_value(profile, kProfileSection, kStartEveryEntryHotkey) ||
                    config_has_user_value(profile, kProfileSection, kStopEveryEntryHotkey));
    // A profile that never held them (newer hosts announce a renamed or duplicated profile
    // only as a change, its file copied from disk) takes the bindings in use.
    if (stored)
        loadGlobalBindings();
    else
        saveGlobalBindings(true);
}

} // namespace relaycast
