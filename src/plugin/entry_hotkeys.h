#pragma once

#include <obs.hpp>

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <map>
#include <memory>

namespace relaycast {

class EntryController;

// The names obs-websocket's TriggerHotkeyByName finds the global hotkeys by.
inline constexpr const char* kStartEveryEntryHotkey = "relaycast_start_all";
inline constexpr const char* kStopEveryEntryHotkey = "relaycast_stop_all";

// The plug-in's hotkeys in OBS's Settings -> Hotkeys: "stream every input" and "stop every
// input", and for each entry of the current scene collection "stream every destination" and
// "stop every destination" of it, and "start recording" and "stop recording" it.
//
// Bindings live where OBS keeps them: an entry's with its scene collection (written and read
// by saveBindings and loadBindings from the host's save callback), the global ones in the profile's
// [Hotkeys] section, where OBS's hotkey settings write front-end hotkeys, so a collection switch
// keeps them.
//
// A press may come on any thread (a libobs hotkey thread, obs-websocket's): its work is queued
// to the interface thread and runs there on the controller `controller` returns at that moment
// (none: the press is dropped). A start that fails raises the controller's notice.
//
// Created, used and destroyed on the interface thread.
class EntryHotkeys {
public:
    // The global hotkeys only start and stop; an entry's do all four.
    enum class Action { Start, Stop, StartRecording, StopRecording };
    static constexpr std::size_t kEntryActionCount = 4;
    using ControllerSource = std::function<EntryController*()>;

    // Registers the global hotkeys with the profile's bindings, then the current entries'.
    explicit EntryHotkeys(ControllerSource controller);
    // Unregisters every hotkey and the save callback; presses still queued are dropped.
    ~EntryHotkeys();
    EntryHotkeys(const EntryHotkeys&) = delete;
    EntryHotkeys& operator=(const EntryHotkeys&) = delete;

    // Registers, renames and unregisters entry hotkeys to match the current collection's
    // entries. A newly registered one takes the bindings the collection was loaded with.
    void sync();
    // The host writes the followed collection: its entries' bindings go into the collection's
    // plug-in data `modules`, and bindings of entries without a hotkey now stay as they were.
    void saveBindings(obs_data_t* modules);
    // The host read a collection: its entries' bindings replace the current ones.
    void loadBindings(obs_data_t* modules);
    // A duplicated collection: entries registered under the old ids hand their bindings to the
    // new ids (old -> new), which take them when registered.
    void carryBindings(const QHash<QString, QString>& newIds);
    // The profile is about to change: its bindings of the global hotkeys are written now.
    void profileChanging();
    // The profile was renamed: the bindings in use are written into it.
    void profileRenamed();
    // The new profile's bindings of the global hotkeys replace the current ones; a profile
    // without any takes the current ones.
    void profileChanged();

    // OBS_INVALID_HOTKEY_ID when there is none.
    obs_hotkey_id everyEntryHotkey(Action action) const;
    obs_hotkey_id entryHotkey(const QString& entryId, Action action) const;
    int entryHotkeyCount() const { return static_cast<int>(entries_.size()); }

private:
    // What one registered hotkey does; its address is the hotkey's callback data.
    struct Target {
        EntryHotkeys* owner = nullptr;
        QString entryId; // empty: every entry
        Action action = Action::Start;
        QByteArray name;
        obs_hotkey_id id = OBS_INVALID_HOTKEY_ID;
    };
    // An entry's hotkeys, indexed by Action.
    struct EntryKeys {
        QString label;
        std::array<std::unique_ptr<Target>, kEntryActionCount> targets;
    };

    static void onPress(void* data, obs_hotkey_id id, obs_hotkey_t* key, bool pressed);
    void run(const QString& entryId, Action action);
    // `always`: written even when the profile holds the same text.
    void saveGlobalBindings(bool always = false);
    void loadGlobalBindings();
    std::unique_ptr<Target> registerTarget(const QString& entryId, Action action, const char* name,
                                           const QString& description);
    void loadEntryBindings(const EntryKeys& keys, const QString& entryId);
    static void unregisterEntry(const EntryKeys& keys);
    // An entry's bindings as the collection keeps them: one array per action.
    static OBSDataAutoRelease savedBindings(const EntryKeys& keys);

    ControllerSource controller_;
    // Queued presses are delivered through it; they die with it.
    QObject context_;
    std::unique_ptr<Target> startEvery_;
    std::unique_ptr<Target> stopEvery_;
    std::map<QString, EntryKeys> entries_;
    // The entries' bindings the current collection was loaded with (by entry id).
    OBSData loadedBindings_;
    bool profileSwitching_ = false;
};

} // namespace relaycast
