#pragma once

#include <obs-frontend-api.h>
#include <obs.hpp>
#include <util/config-file.h>

#include <QString>
#include <QStringList>

#include <vector>

class QWidget;

namespace relaycast {

// The few front-end calls of the OBS main window the plug-in uses. The real one forwards to
// obs-frontend-api; tests install their own, since the main window cannot run in a test.
class HostFrontend {
public:
    virtual ~HostFrontend() = default;

    // The host's scenes in the front end's order (obs_frontend_get_scenes).
    virtual std::vector<OBSSource> scenes() = 0;
    // The scene the host has live (obs_frontend_get_current_scene), or empty.
    virtual OBSSourceAutoRelease currentScene() = 0;
    // The current scene collection's name, or empty when the host reports none.
    virtual QString currentSceneCollection() = 0;
    // The names of every scene collection the host has (obs_frontend_get_scene_collections);
    // empty when it reports none.
    virtual QStringList sceneCollections() = 0;
    // Hands `panel` to the host as a dock with this id and title. False when refused, in which
    // case the caller still owns the panel.
    virtual bool addDock(QWidget* panel, const char* id, const char* title) = 0;
    // Once the host has finished loading (and laid out its docks): when no window layout the
    // host saved mentions the dock yet, docks it visible in the right dock area, so the first
    // start with the plug-in shows its panel where the host's own panels are. Later starts keep
    // the layout the user left, hidden or floating docks included.
    virtual void revealNewDock(const char* id) = 0;
    // Plug-in data kept in the scene collection file (obs_frontend_add_save_callback): the
    // callback runs with saving true while the host writes the collection, and with saving
    // false once it has read one, each time with the collection's object of plug-in data.
    virtual void addSaveCallback(obs_frontend_save_cb callback, void* data) = 0;
    virtual void removeSaveCallback(obs_frontend_save_cb callback, void* data) = 0;
    // The current profile's settings (obs_frontend_get_profile_config), or null. The host
    // writes them to disk itself.
    virtual config_t* profileConfig() = 0;
    // OBS's own stream output (obs_frontend_get_streaming_output), or empty: OBS makes it at
    // its first stream start.
    virtual OBSOutputAutoRelease streamingOutput() = 0;
};

// The front end in use: the real one unless a test installed another.
HostFrontend& hostFrontend();
// Installs `frontend` (not owned); null restores the real one.
void setHostFrontend(HostFrontend* frontend);

} // namespace relaycast
