#include "plugin/entry_hotkeys.h"

#include "engine/entry/entry_controller.h"
#include "module/host_frontend.h"
#include "module/module_log.h"
#include "module/ui_text.h"

#include <util/config-file.h>

#include <QMetaObject>

#include <cstring>
#include <iterator>

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

// What an entry's hotkey of each action is called, where its bindings are kept and how OBS's
// hotkey settings describe it; in Action's order.
struct EntryAction {
    EntryHotkeys::Action action;
    const char* namePrefix;  // followed by the entry id
    const char* bindingsKey; // the member of the entry's object in the collection's bindings
    const char* description; // "%1": the entry's name
    const char* logText;
};

constexpr EntryAction kEntryActions[] = {
    {EntryHotkeys::Action::Start, "relaycast_start_entry_", "start",
     "Relaycast: emitir todos los destinos de «%1»", "start"},
    {EntryHotkeys::Action::Stop, "relaycast_stop_entry_", "stop",
     "Relaycast: parar todos los destinos de «%1»", "stop"},
    {EntryHotkeys::Action::StartRecording, "relaycast_start_recording_", "startRecording",
     "Relaycast: grabar «%1»", "start recording"},
    {EntryHotkeys::Action::StopRecording, "relaycast_stop_recording_", "stopRecording",
     "Relaycast: parar la grabación de «%1»", "stop recording"},
};
static_assert(std::size(kEntryActions) == EntryHotkeys::kEntryActionCount);

const EntryAction& entryAction(EntryHotkeys::Action action) {
    return kEntryActions[static_cast<std::size_t>(action)];
}

QString entryDescription(const EntryAction& action, const QString& label) {
    return uiText(action.description).arg(label);
}

// What a press does: with an empty `entryId` to every entry. False when a start failed, with
// its text in `error`.
bool perform(EntryController& controller, const QString& entryId, EntryHotkeys::Action action,
             QString* error) {
    using Action = EntryHotkeys::Action;
    if (entryId.isEmpty()) {
        if (action == Action::Start)
            return controller.startAll(error);
        controller.stopAll();
        return true;
    }
    switch (action) {
    case Action::Start:
        return controller.startEntry(entryId, error);
    case Action::Stop:
        controller.stopEntry(entryId);
        return true;
    case Action::StartRecording:
        return controller.startRecording(entryId, error);
    case Action::StopRecording:
        controller.stopRecording(entryId);
        return true;
    }
    return true;
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
    for (const auto& [id, keys] : entries_)
        unregisterEntry(keys);
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
        unregisterEntry(it->second);
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
                for (const EntryAction& action : kEntryActions)
                    obs_hotkey_set_description(
                        found->second.targets[static_cast<std::size_t>(action.action)]->id,
                        entryDescription(action, label).toUtf8().constData());
            }
            continue;
        }
        EntryKeys keys;
        keys.label = label;
        for (const EntryAction& action : kEntryActions)
            keys.targets[static_cast<std::size_t>(action.action)] = registerTarget(
                entryId, action.action, (action.namePrefix + entryId.toUtf8()).constData(),
                entryDescription(action, label));
        loadEntryBindings(keys, entryId);
        entries_.emplace(entryId, std::move(keys));
    }
}

void EntryHotkeys::unregisterEntry(const EntryKeys& keys) {
    for (const auto& target : keys.targets)
        obs_hotkey_unregister(target->id);
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
    moduleLog(LOG_INFO, "hotkey: %s %s", entryAction(action).logText,
              entryId.isEmpty() ? "every entry" : "an entry");
    QString error;
    if (!perform(*controller, entryId, action, &error) && !error.isEmpty())
        controller->notice(error, true);
}

obs_hotkey_id EntryHotkeys::everyEntryHotkey(Action action) const {
    return action == Action::Start ? startEvery_->id : stopEvery_->id;
}

obs_hotkey_id EntryHotkeys::entryHotkey(const QString& entryId, Action action) const {
    const auto found = entries_.find(entryId);
    if (found == entries_.end())
        return OBS_INVALID_HOTKEY_ID;
    return found->second.targets[static_cast<std::size_t>(action)]->id;
}

OBSDataAutoRelease EntryHotkeys::savedBindings(const EntryKeys& keys) {
    OBSDataAutoRelease one = obs_data_create();
    for (const EntryAction& action : kEntryActions) {
        OBSDataArrayAutoRelease array =
            obs_hotkey_save(keys.targets[static_cast<std::size_t>(action.action)]->id);
        obs_data_set_array(one, action.bindingsKey, array);
    }
    return one;
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
    for (const auto& [entryId, keys] : entries_) {
        OBSDataAutoRelease one = savedBindings(keys);
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
        OBSDataAutoRelease one = savedBindings(found->second);
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
    for (const auto& [entryId, keys] : entries_)
        loadEntryBindings(keys, entryId);
    sync();
}

void EntryHotkeys::loadEntryBindings(const EntryKeys& keys, const QString& entryId) {
    OBSDataAutoRelease one =
        loadedBindings_ ? obs_data_get_obj(loadedBindings_, entryId.toUtf8().constData()) : nullptr;
    for (const EntryAction& action : kEntryActions) {
        // A collection saved before an action existed has no member for it: no binding.
        OBSDataArrayAutoRelease array = one ? obs_data_get_array(one, action.bindingsKey) : nullptr;
        obs_hotkey_load(keys.targets[static_cast<std::size_t>(action.action)]->id, array);
    }
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
