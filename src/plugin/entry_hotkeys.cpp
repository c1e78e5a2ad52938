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
    hostFrontend().addSaveCallback(&EntryHotkeys::onSaveOrLoad, this);
}

EntryHotkeys::~EntryHotkeys() {
    hostFrontend().removeSaveCallback(&EntryHotkeys::onSaveOrLoad, this);
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

void EntryHotkeys::onSaveOrLoad(obs_data_t* modules, bool saving, void* self) {
    try {
        auto* hotkeys = static_cast<EntryHotkeys*>(self);
        if (saving)
            hotkeys->save(modules);
        else
            hotkeys->load(modules);
    } catch (...) {
        moduleLog(LOG_WARNING, "unexpected error while %s hotkey bindings",
                  saving ? "saving" : "loading");
    }
}

void EntryHotkeys::save(obs_data_t* modules) {
    // The collection being written is the current one: its entries are the ones to keep.
    sync();
    OBSDataAutoRelease ours = obs_data_get_obj(modules, kModuleKey);
    if (!ours)
        ours = obs_data_create();
    OBSDataAutoRelease bindings = obs_data_create();
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
    loadedBindings_ = bindings.Get();
    saveGlobalBindings();
}

void EntryHotkeys::load(obs_data_t* modules) {
    OBSDataAutoRelease ours = obs_data_get_obj(modules, kModuleKey);
    OBSDataAutoRelease bindings = ours ? obs_data_get_obj(ours, kHotkeysKey) : nullptr;
    loadedBindings_ = bindings.Get();
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

void EntryHotkeys::saveGlobalBindings() {
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
        if (stored && std::strcmp(stored, json) == 0)
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

void EntryHotkeys::profileChanged() {
    profileSwitching_ = false;
    loadGlobalBindings();
}

} // namespace relaycast
