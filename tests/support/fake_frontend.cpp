#include "support/fake_frontend.h"

#include <QDockWidget>
#include <QWidget>

#include <algorithm>

namespace relaycast::test {

FakeFrontend::FakeFrontend() {
    config_open_string(&profile_, "");
    setHostFrontend(this);
}

FakeFrontend::~FakeFrontend() {
    if (currentScene_)
        obs_set_output_source(0, nullptr);
    setHostFrontend(nullptr);
    destroyDock();
    config_close(profile_);
}

std::vector<OBSSource> FakeFrontend::scenes() {
    if (fault_)
        fault_();
    if (!hostScenes_)
        return scenes_;
    std::vector<OBSSource> result;
    obs_enum_scenes(
        [](void* param, obs_source_t* scene) {
            // The main window's scene list has no groups.
            if (!obs_source_is_group(scene))
                static_cast<std::vector<OBSSource>*>(param)->emplace_back(scene);
            return true;
        },
        &result);
    // The main window lists scenes as they were created. OBS 29 enumerates the newest first;
    // later hosts keep their sources in a table that enumerates the oldest first.
#if LIBOBS_API_MAJOR_VER < 30
    std::reverse(result.begin(), result.end());
#endif
    return result;
}

void FakeFrontend::setScenes(std::vector<OBSSource> scenes) {
    scenes_ = std::move(scenes);
    hostScenes_ = false;
}

void FakeFrontend::useHostScenes() {
    scenes_.clear();
    hostScenes_ = true;
}

OBSSourceAutoRelease FakeFrontend::currentScene() {
    return obs_source_get_ref(currentScene_);
}

void FakeFrontend::setCurrentScene(obs_source_t* scene) {
    currentScene_ = scene;
    // As in OBS, the live scene is what OBS's program (its main mix) shows.
    obs_set_output_source(0, scene);
}

QString FakeFrontend::currentSceneCollection() {
    if (fault_)
        fault_();
    return collection_;
}

void FakeFrontend::setCurrentSceneCollection(const QString& name) {
    collection_ = name;
}

QStringList FakeFrontend::sceneCollections() {
    return collections_;
}

bool FakeFrontend::addDock(QWidget* panel, const char* id, const char* title) {
    ++addDockCalls_;
    lastDockId_ = QString::fromUtf8(id);
    lastDockTitle_ = QString::fromUtf8(title);
    if (refuseDocks_)
        return false;
    destroyDock();
    auto* dock = new QDockWidget(lastDockTitle_);
    dock->setObjectName(lastDockId_);
    dock->setWidget(panel);
    dock_ = dock;
    return true;
}

void FakeFrontend::setRefuseDocks(bool refuse) {
    refuseDocks_ = refuse;
}

int FakeFrontend::addDockCalls() const {
    return addDockCalls_;
}

QString FakeFrontend::lastDockId() const {
    return lastDockId_;
}

QString FakeFrontend::lastDockTitle() const {
    return lastDockTitle_;
}

QDockWidget* FakeFrontend::dock() const {
    return dock_;
}

void FakeFrontend::destroyDock() {
    delete dock_.data();
}

void FakeFrontend::addSaveCallback(obs_frontend_save_cb callback, void* data) {
    saveCallbacks_.emplace_back(callback, data);
}

void FakeFrontend::removeSaveCallback(obs_frontend_save_cb callback, void* data) {
    std::erase(saveCallbacks_, std::make_pair(callback, data));
}

OBSDataAutoRelease FakeFrontend::saveCollection() {
    OBSDataAutoRelease modules = obs_data_create();
    // The host runs them newest first.
    for (auto it = saveCallbacks_.rbegin(); it != saveCallbacks_.rend(); ++it)
        it->first(modules, true, it->second);
    return modules;
}

void FakeFrontend::loadCollection(obs_data_t* modules) {
    for (auto it = saveCallbacks_.rbegin(); it != saveCallbacks_.rend(); ++it)
        it->first(modules, false, it->second);
}

} // namespace relaycast::test
