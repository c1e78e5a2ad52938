#pragma once

#include "module/host_frontend.h"

#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>
#include <vector>

class QDockWidget;

namespace relaycast::test {

// Stands in for the OBS main window behind the front-end seam. It serves the real host's scenes
// and installs itself as the front end while it lives (the real one comes back afterwards).
class FakeFrontend : public HostFrontend {
public:
    FakeFrontend();
    ~FakeFrontend() override;
    FakeFrontend(const FakeFrontend&) = delete;
    FakeFrontend& operator=(const FakeFrontend&) = delete;

    // The scenes list: the host's public scenes in enumeration (creation) order, unless a list
    // was set. A set list is served as it is, in its order.
    std::vector<OBSSource> scenes() override;
    void setScenes(std::vector<OBSSource> scenes);
    void useHostScenes();

    OBSSourceAutoRelease currentScene() override;
    void setCurrentScene(obs_source_t* scene);

    QString currentSceneCollection() override;
    void setCurrentSceneCollection(const QString& name);
    // The collection list, as set (empty at first: the host reported none).
    QStringList sceneCollections() override;
    void setSceneCollections(const QStringList& names) { collections_ = names; }

    // From now on the scenes list and the collection name run `fault` first (which throws, as a
    // host in trouble might); null makes them answer again.
    void failWith(std::function<void()> fault) { fault_ = std::move(fault); }

    // An accepted panel is put into a dock widget the fake owns, as the host does; a refused
    // one stays with the caller.
    bool addDock(QWidget* panel, const char* id, const char* title) override;
    void setRefuseDocks(bool refuse);
    int addDockCalls() const;

    // Records the dock ids the module asked to reveal.
    void revealNewDock(const char* id) override { revealedDocks_.append(QString::fromUtf8(id)); }
    const QStringList& revealedDocks() const { return revealedDocks_; }
    QString lastDockId() const;
    QString lastDockTitle() const;
    // The dock of the last accepted panel, or null once destroyed.
    QDockWidget* dock() const;
    // Destroys the dock and the panel in it, as the host does when it drops a dock.
    void destroyDock();

    // Save callbacks, run as the host runs them: saveCollection() while writing the current
    // collection (returns the plug-in data object they filled), loadCollection() after reading
    // one whose plug-in data object is `modules`.
    void addSaveCallback(obs_frontend_save_cb callback, void* data) override;
    void removeSaveCallback(obs_frontend_save_cb callback, void* data) override;
    OBSDataAutoRelease saveCollection();
    void loadCollection(obs_data_t* modules);
    int saveCallbackCount() const { return static_cast<int>(saveCallbacks_.size()); }

    // A profile kept in memory for the fake's life (a restart of the plug-in keeps it).
    config_t* profileConfig() override { return profile_; }
    // What stands for OBS's own stream output (a real host output the test made).
    OBSOutputAutoRelease streamingOutput() override { return obs_output_get_ref(streaming_); }
    void setStreamingOutput(obs_output_t* output) { streaming_ = output; }

private:
    std::function<void()> fault_;
    bool hostScenes_ = true;
    std::vector<OBSSource> scenes_;
    OBSSource currentScene_;
    OBSOutput streaming_;
    QString collection_;
    QStringList collections_;
    bool refuseDocks_ = false;
    int addDockCalls_ = 0;
    QStringList revealedDocks_;
    QString lastDockId_;
    QString lastDockTitle_;
    QPointer<QDockWidget> dock_;
    std::vector<std::pair<obs_frontend_save_cb, void*>> saveCallbacks_;
    config_t* profile_ = nullptr;
};

} // namespace relaycast::test
