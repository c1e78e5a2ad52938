#include "module/host_frontend.h"

#include <obs-frontend-api.h>
#include <util/bmem.h>
#include <util/config-file.h>

#include <QDockWidget>
#include <QMainWindow>
#include <QWidget>

#include <algorithm>

namespace relaycast {
namespace {

// The dock's width on its first start, enough for a card's buttons and a readable address.
constexpr int kFirstDockWidth = 360;

class RealFrontend final : public HostFrontend {
public:
    std::vector<OBSSource> scenes() override {
        obs_frontend_source_list list = {};
        obs_frontend_get_scenes(&list);
        std::vector<OBSSource> result;
        result.reserve(list.sources.num);
        for (size_t i = 0; i < list.sources.num; ++i)
            result.emplace_back(list.sources.array[i]);
        obs_frontend_source_list_free(&list);
        return result;
    }

    OBSSourceAutoRelease currentScene() override { return obs_frontend_get_current_scene(); }

    QString currentSceneCollection() override {
        char* name = obs_frontend_get_current_scene_collection();
        QString result = name ? QString::fromUtf8(name) : QString();
        bfree(name);
        return result;
    }

    QStringList sceneCollections() override {
        QStringList result;
        char** names = obs_frontend_get_scene_collections();
        for (char** name = names; name && *name; ++name)
            result << QString::fromUtf8(*name);
        bfree(names);
        return result;
    }

    bool addDock(QWidget* panel, const char* id, const char* title) override {
#if LIBOBS_API_MAJOR_VER < 30
        // OBS 29 only lists a dock in its menu: placing it in the main window is the plug-in's
        // job, and only docks placed there are saved with the window layout and restored.
        auto* mainWindow = static_cast<QMainWindow*>(obs_frontend_get_main_window());
        auto* dock = new QDockWidget(QString::fromUtf8(title), mainWindow);
        dock->setObjectName(QString::fromUtf8(id));
        dock->setWidget(panel);
        if (mainWindow) {
            mainWindow->addDockWidget(Qt::RightDockWidgetArea, dock);
            dock->setFloating(true);
        }
        if (obs_frontend_add_dock(dock))
            return true;
        // Refused: give the panel back to the caller before the dock goes.
        if (mainWindow)
            mainWindow->removeDockWidget(dock);
        dock->setWidget(nullptr);
        panel->setParent(nullptr);
        delete dock;
        return false;
#else
        return obs_frontend_add_dock_by_id(id, title, panel);
#endif
    }

    void revealNewDock(const char* id) override {
        auto* mainWindow = static_cast<QMainWindow*>(obs_frontend_get_main_window());
        auto* dock =
            mainWindow ? mainWindow->findChild<QDockWidget*>(QString::fromUtf8(id)) : nullptr;
        if (!dock || savedLayoutMentions(id))
            return;
        // The host leaves a new plug-in dock floating over its window, or hidden: dock it at
        // the right like the host's own panels, wide enough for its cards.
        dock->setFloating(false);
        mainWindow->addDockWidget(Qt::RightDockWidgetArea, dock);
        dock->show();
        dock->raise();
        const int width =
            std::max(dock->widget() ? dock->widget()->sizeHint().width() : 0, kFirstDockWidth);
        mainWindow->resizeDocks({dock}, {width}, Qt::Horizontal);
    }

    void addSaveCallback(obs_frontend_save_cb callback, void* data) override {
        obs_frontend_add_save_callback(callback, data);
    }

    void removeSaveCallback(obs_frontend_save_cb callback, void* data) override {
        obs_frontend_remove_save_callback(callback, data);
    }

    config_t* profileConfig() override {
        return obs_frontend_get_profile_config();
    }

    OBSOutputAutoRelease streamingOutput() override {
        return obs_frontend_get_streaming_output();
    }

private:
    // The host saves its window layout with every dock's object name in UTF-16.
    static bool savedLayoutMentions(const char* id) {
#if LIBOBS_API_MAJOR_VER >= 31
        // OBS 31 split its global configuration; the window layout belongs to the user's part.
        config_t* config = obs_frontend_get_user_config();
#else
        config_t* config = obs_frontend_get_global_config();
#endif
        const char* state =
            config ? config_get_string(config, "BasicWindow", "DockState") : nullptr;
        if (!state || !*state)
            return false;
        const QByteArray layout = QByteArray::fromBase64(QByteArray(state));
        const QString name = QString::fromUtf8(id);
        QByteArray bigEndian, littleEndian;
        for (const QChar c : name) {
            bigEndian.append(static_cast<char>(c.row())).append(static_cast<char>(c.cell()));
            littleEndian.append(static_cast<char>(c.cell())).append(static_cast<char>(c.row()));
        }
        return layout.contains(bigEndian) || layout.contains(littleEndian);
    }
};

RealFrontend g_realFrontend;
HostFrontend* g_frontend = &g_realFrontend;

} // namespace

HostFrontend& hostFrontend() {
    return *g_frontend;
}

void setHostFrontend(HostFrontend* frontend) {
    g_frontend = frontend ? frontend : &g_realFrontend;
}

} // namespace relaycast
