// The plug-in's hotkeys on the real host: keys bound and pressed through libobs's hotkey API
// start and stop real streams and recordings, from any thread, and bindings are kept by the host's
// save callback and the profile across a restart and a scene collection switch.

#include "plugin/collection_watch.h"
#include "plugin/entry_hotkeys.h"
#include "support/local_servers.h"
#include "support/log_capture.h"
#include "support/panel_fixture.h"
#include "support/stream_harness.h"
#include "support/test_host.h"

#include <obs-hotkey.h>
#include <util/config-file.h>

#include <gtest/gtest.h>

#include <QDir>

#include <cstring>
#include <thread>

using namespace relaycast;
using namespace relaycast::test;
using namespace std::chrono_literals;
using Action = EntryHotkeys::Action;

namespace {

EntryConfig entryWith(const QString& id, const QString& name, const QString& source,
                      const QList<DestConfig>& destinations) {
    EntryConfig entry = entrySending(source, 640, 360, destinations);
    entry.id = id;
    entry.nombre = name;
    entry.videoKbps = 800;
    return entry;
}

void bind(obs_hotkey_id id, obs_key_combination_t combination) {
    obs_hotkey_load_bindings(id, &combination, 1);
}

// Pressed from a thread of its own, as libobs's hotkey thread or obs-websocket would.
void pressFromAnotherThread(obs_key key) {
    std::thread([key] { obs_hotkey_inject_event({0, key}, true); }).join();
}

// "modifiers+KEY" for every binding of a hotkey.
QStringList bindingsOf(obs_hotkey_id id) {
    struct Found {
        obs_hotkey_id id;
        QStringList keys;
    } found{id, {}};
    obs_enum_hotkey_bindings(
        [](void* data, size_t, obs_hotkey_binding_t* binding) {
            auto* seen = static_cast<Found*>(data);
            if (obs_hotkey_binding_get_hotkey_id(binding) == seen->id) {
                const obs_key_combination_t keys = obs_hotkey_binding_get_key_combination(binding);
                seen->keys << QStringLiteral("%1+%2")
                                  .arg(keys.modifiers)
                                  .arg(QString::fromUtf8(obs_key_to_name(keys.key)));
            }
            return true;
        },
        &found);
    return found.keys;
}

// The description of the registered hotkey of that name, or "<none>".
QString descriptionOf(const char* name) {
    QString description = QStringLiteral("<none>");
    struct Query {
        const char* name;
        QString* description;
    } query{name, &description};
    obs_enum_hotkeys(
        [](void* data, obs_hotkey_id, obs_hotkey_t* key) {
            auto* wanted = static_cast<Query*>(data);
            if (std::strcmp(obs_hotkey_get_name(key), wanted->name) == 0)
                *wanted->description = QString::fromUtf8(obs_hotkey_get_description(key));
            return true;
        },
        &query);
    return description;
}

bool allLive(EntryController& controller, const QString& entryId, const QStringList& ids) {
    for (const QString& id : ids) {
        if (controller.destinationStatus(entryId, id).state != DestinationState::Live)
            return false;
    }
    return true;
}

} // namespace

TEST(EntryHotkeys, PressesFromAnyThreadStartAndStopRealStreams) {
    RtmpServer rtmp;
    QString error;
    ASSERT_TRUE(rtmp.start(&error)) << error.toStdString();
    OBSSceneAutoRelease scene = createScene("teclas");
    OBSSourceAutoRelease colour = createColorSource("teclas-color", kOpaqueGreen, 640, 360);
    addToScene(scene, colour);

    LogCapture log;
    PanelWorld world;
    world.entries() << entryWith("e1", QStringLiteral("Uno"), QStringLiteral("teclas"),
                                 {destination("d1", rtmp.url(), "tecla-1"),
                                  destination("d2", rtmp.url(), "tecla-2")})
                    << entryWith("e2", QStringLiteral("Dos"), QStringLiteral("teclas"),
                                 {destination("d3", rtmp.url(), "tecla-3")})
                    << entryWith("e3", QStringLiteral("Rota"), QStringLiteral("no-existe"),
                                 {destination("d4", rtmp.url(), "tecla-4")});
    const QString folder = world.dir.filePath(QStringLiteral("grabaciones"));
    ASSERT_TRUE(QDir().mkpath(folder));
    world.entries()[0].grabacion.carpeta = folder;
    world.entries()[1].grabacion.carpeta = world.dir.filePath(QStringLiteral("no-existe"));
    EntryController& controller = world.controller;
    EntryHotkeys hotkeys([&] { return &controller; });
    bind(hotkeys.entryHotkey("e1", Action::Start), {0, OBS_KEY_F5});
    bind(hotkeys.entryHotkey("e1", Action::StartRecording), {0, OBS_KEY_F9});
    bind(hotkeys.entryHotkey("e1", Action::StopRecording), {0, OBS_KEY_F10});
    bind(hotkeys.entryHotkey("e2", Action::StartRecording), {0, OBS_KEY_F11});
    bind(hotkeys.entryHotkey("e1", Action::Stop), {0, OBS_KEY_F6});
    bind(hotkeys.everyEntryHotkey(Action::Start), {0, OBS_KEY_F7});
    bind(hotkeys.everyEntryHotkey(Action::Stop), {0, OBS_KEY_F8});

    // The press only hands the work over; it runs on this (the interface) thread.
    pressFromAnotherThread(OBS_KEY_F5);
    EXPECT_FALSE(controller.isEntryLive("e1"));
    ASSERT_TRUE(pumpUntil([&] { return allLive(controller, "e1", {"d1", "d2"}); }, 30s));
    EXPECT_FALSE(controller.isEntryLive("e2"));

    pressFromAnotherThread(OBS_KEY_F6);
    ASSERT_TRUE(pumpUntil([&] { return !controller.isEntryLive("e1"); }, 20s));

    // Every entry: the one whose scene is gone fails and says so; the others stream.
    pressFromAnotherThread(OBS_KEY_F7);
    ASSERT_TRUE(pumpUntil(
        [&] {
            return allLive(controller, "e1", {"d1", "d2"}) && allLive(controller, "e2", {"d3"});
        },
        30s));
    EXPECT_FALSE(controller.isEntryLive("e3"));
    EXPECT_TRUE(log.linesAt(LOG_WARNING)
                    .contains(QString::fromUtf8("[relaycast] «no-existe» ya no existe en OBS. "
                                                "Cámbiala con «✎ Editar» o bórrala.")));

    pressFromAnotherThread(OBS_KEY_F8);
    ASSERT_TRUE(pumpUntil(
        [&] { return !controller.isEntryLive("e1") && !controller.isEntryLive("e2"); }, 20s));
    // The server saw them.
    EXPECT_FALSE(rtmp.publishes("tecla-1").isEmpty());
    EXPECT_FALSE(rtmp.publishes("tecla-3").isEmpty());

    // The recording keys: a recording of its own, with nothing streaming, into a new file.
    pressFromAnotherThread(OBS_KEY_F9);
    ASSERT_TRUE(pumpUntil(
        [&] { return controller.recordingStatus("e1").state == DestinationState::Live; }, 30s));
    EXPECT_EQ(controller.destinationStatus("e1", "d1").state, DestinationState::Idle);
    // The host's muxer creates the file a moment after the output started.
    EXPECT_TRUE(pumpUntil([&] { return QDir(folder).entryList(QDir::Files).size() == 1; }, 10s));
    pressFromAnotherThread(OBS_KEY_F10);
    ASSERT_TRUE(pumpUntil([&] { return !controller.isEntryLive("e1"); }, 20s));
    EXPECT_EQ(controller.recordingStatus("e1").state, DestinationState::Idle);
    // One that cannot start says why.
    pressFromAnotherThread(OBS_KEY_F11);
    ASSERT_TRUE(pumpUntil(
        [&] { return controller.recordingStatus("e2").state == DestinationState::Failed; }, 20s));
    EXPECT_TRUE(
        log.linesAt(LOG_WARNING).filter(QStringLiteral("[relaycast] No se pudo grabar: ")).size() >=
        1);
}

TEST(EntryHotkeys, BindingsSurviveARestartAndACollectionSwitchAndFollowTheEntries) {
    PanelWorld world(QStringLiteral("Uno"));
    world.entries() << entryWith("e1", QStringLiteral("Principal"), QStringLiteral("a"), {});
    world.entries(QStringLiteral("Dos"))
        << entryWith("e9", QStringLiteral("Otra"), QStringLiteral("b"), {});
    const auto controller = [&] { return &world.controller; };

    const auto store = [&] { return &world.store; };
    OBSDataAutoRelease uno;
    {
        EntryHotkeys first(controller);
        CollectionWatch watch(store, &first, {});
        bind(first.everyEntryHotkey(Action::Start), {0, OBS_KEY_F9});
        bind(first.entryHotkey("e1", Action::Start), {INTERACT_CONTROL_KEY, OBS_KEY_F10});
        bind(first.entryHotkey("e1", Action::StopRecording), {INTERACT_SHIFT_KEY, OBS_KEY_F11});
        uno = world.frontend.saveCollection();
        // Where OBS's own hotkey settings keep front-end hotkeys.
        const char* stored =
            config_get_string(world.frontend.profileConfig(), "Hotkeys", kStartEveryEntryHotkey);
        ASSERT_NE(stored, nullptr);
        EXPECT_TRUE(QByteArray(stored).contains("OBS_KEY_F9")) << stored;
    }
    EXPECT_EQ(descriptionOf(kStartEveryEntryHotkey), QStringLiteral("<none>"));
    EXPECT_EQ(world.frontend.saveCallbackCount(), 0);

    // A restart: the global binding comes from the profile, the entry's from the collection.
    EntryHotkeys hotkeys(controller);
    CollectionWatch watch(store, &hotkeys, {});
    const QString ctrlF10 = QStringLiteral("%1+OBS_KEY_F10").arg(INTERACT_CONTROL_KEY);
    const QString shiftF11 = QStringLiteral("%1+OBS_KEY_F11").arg(INTERACT_SHIFT_KEY);
    EXPECT_EQ(bindingsOf(hotkeys.everyEntryHotkey(Action::Start)), QStringList{"0+OBS_KEY_F9"});
    EXPECT_TRUE(bindingsOf(hotkeys.entryHotkey("e1", Action::Start)).isEmpty());
    world.frontend.loadCollection(uno);
    EXPECT_EQ(bindingsOf(hotkeys.entryHotkey("e1", Action::Start)), QStringList{ctrlF10});
    EXPECT_EQ(bindingsOf(hotkeys.entryHotkey("e1", Action::StopRecording)), QStringList{shiftF11});
    EXPECT_TRUE(bindingsOf(hotkeys.entryHotkey("e1", Action::StartRecording)).isEmpty());

    // Switching collection, as OBS does it: save the old one, then load the new one.
    uno = world.frontend.saveCollection();
    world.frontend.setCurrentSceneCollection(QStringLiteral("Dos"));
    OBSDataAutoRelease dos = obs_data_create();
    world.frontend.loadCollection(dos);
    EXPECT_EQ(hotkeys.entryHotkey("e1", Action::Start), OBS_INVALID_HOTKEY_ID);
    EXPECT_TRUE(bindingsOf(hotkeys.entryHotkey("e9", Action::Start)).isEmpty());
    EXPECT_EQ(bindingsOf(hotkeys.everyEntryHotkey(Action::Start)), QStringList{"0+OBS_KEY_F9"});
    world.frontend.setCurrentSceneCollection(QStringLiteral("Uno"));
    world.frontend.loadCollection(uno);
    EXPECT_EQ(bindingsOf(hotkeys.entryHotkey("e1", Action::Start)), QStringList{ctrlF10});
    EXPECT_EQ(bindingsOf(hotkeys.entryHotkey("e1", Action::StopRecording)), QStringList{shiftF11});
    EXPECT_EQ(hotkeys.entryHotkeyCount(), 1);

    // Entries added, renamed and deleted.
    world.entries().front().nombre = QStringLiteral("Renombrada");
    world.entries() << entryWith("e2", QString(), QStringLiteral("fuente-dos"), {});
    hotkeys.sync();
    // Each entry has its four keys, named by its id and described by its name.
    struct Described {
        const char* name;
        const char* description;
    };
    const Described described[] = {
        {"relaycast_start_entry_e1", "Relaycast: emitir todos los destinos de «Renombrada»"},
        {"relaycast_stop_entry_e1", "Relaycast: parar todos los destinos de «Renombrada»"},
        {"relaycast_start_recording_e1", "Relaycast: grabar «Renombrada»"},
        {"relaycast_stop_recording_e1", "Relaycast: parar la grabación de «Renombrada»"},
        {"relaycast_stop_entry_e2", "Relaycast: parar todos los destinos de «fuente-dos»"},
        {"relaycast_stop_recording_e2", "Relaycast: parar la grabación de «fuente-dos»"},
    };
    for (const Described& key : described)
        EXPECT_EQ(descriptionOf(key.name), QString::fromUtf8(key.description)) << key.name;
    world.entries().removeFirst();
    hotkeys.sync();
    for (const Described& key : described) {
        const bool gone = QByteArray(key.name).endsWith("_e1");
        EXPECT_EQ(descriptionOf(key.name) == QStringLiteral("<none>"), gone) << key.name;
    }
    EXPECT_EQ(hotkeys.entryHotkeyCount(), 1);
}

// OBS 29 and 30 rename a collection by saving it under the new name while the old file is still
// listed, then announce it; they duplicate one by saving it under both names. The entries'
// bindings go with them, and a save while the store has no entries (a settings file that could
// not be read) keeps the bindings the collection had.
TEST(EntryHotkeys, BindingsFollowARenamedOrDuplicatedCollectionAndSurviveASaveWithoutEntries) {
    PanelWorld world(QStringLiteral("Uno"));
    world.entries() << entryWith("e1", QStringLiteral("Principal"), QStringLiteral("a"), {});
    world.frontend.setSceneCollections({QStringLiteral("Uno")});
    EntryHotkeys hotkeys([&] { return &world.controller; });
    CollectionWatch watch([&] { return &world.store; }, &hotkeys,
                          [&](const CollectionFollower::Outcome&) { hotkeys.sync(); });
    const QString ctrlF10 = QStringLiteral("%1+OBS_KEY_F10").arg(INTERACT_CONTROL_KEY);
    bind(hotkeys.entryHotkey("e1", Action::Start), {INTERACT_CONTROL_KEY, OBS_KEY_F10});
    bind(hotkeys.entryHotkey("e1", Action::StartRecording), {0, OBS_KEY_F12});
    const auto savedBinding = [](obs_data_t* modules, const char* entryId) {
        OBSDataAutoRelease ours = obs_data_get_obj(modules, "relaycast");
        OBSDataAutoRelease bindings = obs_data_get_obj(ours, "hotkeys");
        OBSDataAutoRelease one = obs_data_get_obj(bindings, entryId);
        return QByteArray(one ? obs_data_get_json(one) : "");
    };

    world.frontend.setCurrentSceneCollection(QStringLiteral("Nueva"));
    OBSDataAutoRelease renamed = world.frontend.saveCollection();
    EXPECT_TRUE(savedBinding(renamed, "e1").contains("OBS_KEY_F10")) << "wiped by the save";
    world.frontend.setSceneCollections({QStringLiteral("Nueva")});
    watch.onEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_RENAMED);
    EXPECT_EQ(world.controller.currentEntries().value(0).id, QStringLiteral("e1"));
    EXPECT_EQ(bindingsOf(hotkeys.entryHotkey("e1", Action::Start)), QStringList{ctrlF10});
    ConfigStore reread(world.store.path());
    ASSERT_TRUE(reread.load());
    EXPECT_EQ(reread.collections().keys(), QStringList{QStringLiteral("Nueva")});

    watch.onEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING);
    OBSDataAutoRelease before = world.frontend.saveCollection();
    world.frontend.setCurrentSceneCollection(QStringLiteral("Copia"));
    OBSDataAutoRelease copy = world.frontend.saveCollection();
    world.frontend.setSceneCollections({QStringLiteral("Copia"), QStringLiteral("Nueva")});
    watch.onEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_LIST_CHANGED);
    const QString copyId = world.controller.currentEntries().value(0).id;
    EXPECT_NE(copyId, QStringLiteral("e1"));
    EXPECT_EQ(world.store.collections().value(QStringLiteral("Nueva")).value(0).id,
              QStringLiteral("e1"));
    EXPECT_EQ(bindingsOf(hotkeys.entryHotkey(copyId, Action::Start)), QStringList{ctrlF10});
    EXPECT_EQ(bindingsOf(hotkeys.entryHotkey(copyId, Action::StartRecording)),
              QStringList{"0+OBS_KEY_F12"});
    EXPECT_EQ(hotkeys.entryHotkey("e1", Action::Start), OBS_INVALID_HOTKEY_ID);

    // The same collection read again while the store knows none of its entries.
    world.store.entriesOf(QStringLiteral("Copia")).clear();
    world.frontend.loadCollection(copy);
    OBSDataAutoRelease again = world.frontend.saveCollection();
    EXPECT_TRUE(savedBinding(again, "e1").contains("OBS_KEY_F10")) << "wiped by the save";
    // The file's mark tells it is a copy: its entries come back as copies, with the binding.
    const QString again2 = world.controller.currentEntries().value(0).id;
    EXPECT_EQ(bindingsOf(hotkeys.entryHotkey(again2, Action::Start)), QStringList{ctrlF10});
    EXPECT_EQ(bindingsOf(hotkeys.entryHotkey(again2, Action::StartRecording)),
              QStringList{"0+OBS_KEY_F12"});
}
