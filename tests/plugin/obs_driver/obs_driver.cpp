// A test-only OBS module, loaded next to the plug-in by the end-to-end scripts. It lets a
// websocket client do what only the OBS menus can: rename, duplicate or remove a scene
// collection, rename or duplicate a profile. The obs-websocket vendor "relaycast-driver" takes
// the request "Trigger" with the main window's action ("actionRenameSceneCollection", ...) and
// the name to type; the name dialog and the confirmation it opens are answered as a user would.
// "Dock" answers the texts the plug-in's dock shows, after clicking its button `name` if given.
// Once OBS has loaded, the dock's texts are written to the log. Every front-end event and save
// callback is written to the OBS log with the collection name and list the front end reports at
// that moment, so each OBS line's order can be read there.
#include <obs-frontend-api.h>
#include <obs-module.h>
#include <obs.hpp>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <future>
#include <memory>
#include <string>

OBS_DECLARE_MODULE()

namespace {

constexpr const char* kVendorName = "relaycast-driver";

struct RequestCallback {
    void (*callback)(obs_data_t*, obs_data_t*, void*);
    void* priv;
};

std::string takeString(char* text) {
    std::string result = text ? text : "";
    bfree(text);
    return result;
}

std::string collectionList() {
    std::string result;
    char** names = obs_frontend_get_scene_collections();
    for (char** name = names; name && *name; ++name)
        result += (result.empty() ? "" : ",") + std::string(*name);
    bfree(names);
    return result;
}

void logState(const char* what) {
    blog(LOG_INFO, "[relaycast-driver] %s: collection '%s' [%s], profile '%s'", what,
         takeString(obs_frontend_get_current_scene_collection()).c_str(), collectionList().c_str(),
         takeString(obs_frontend_get_current_profile()).c_str());
}

const char* eventName(obs_frontend_event event) {
    switch (event) {
    case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING:
        return "COLLECTION_CHANGING";
    case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED:
        return "COLLECTION_CHANGED";
    case OBS_FRONTEND_EVENT_SCENE_COLLECTION_LIST_CHANGED:
        return "COLLECTION_LIST_CHANGED";
    case OBS_FRONTEND_EVENT_SCENE_COLLECTION_RENAMED:
        return "COLLECTION_RENAMED";
    case OBS_FRONTEND_EVENT_SCENE_COLLECTION_CLEANUP:
        return "COLLECTION_CLEANUP";
    case OBS_FRONTEND_EVENT_PROFILE_CHANGING:
        return "PROFILE_CHANGING";
    case OBS_FRONTEND_EVENT_PROFILE_CHANGED:
        return "PROFILE_CHANGED";
    case OBS_FRONTEND_EVENT_PROFILE_LIST_CHANGED:
        return "PROFILE_LIST_CHANGED";
    case OBS_FRONTEND_EVENT_PROFILE_RENAMED:
        return "PROFILE_RENAMED";
    case OBS_FRONTEND_EVENT_FINISHED_LOADING:
        return "FINISHED_LOADING";
    case OBS_FRONTEND_EVENT_EXIT:
        return "EXIT";
    default:
        return nullptr;
    }
}

std::string readDock(const QString& click);

void onEvent(obs_frontend_event event, void*) {
    if (const char* name = eventName(event))
        logState((std::string("event ") + name).c_str());
    // What the dock shows once OBS is up, one text a line, so a script can read its language.
    if (event == OBS_FRONTEND_EVENT_FINISHED_LOADING)
        QTimer::singleShot(1000, qApp, [] {
            for (const QString& line : QString::fromStdString(readDock({})).split('\n'))
                blog(LOG_INFO, "[relaycast-driver] dock: %s", line.toUtf8().constData());
        });
}

void onSave(obs_data_t*, bool saving, void*) {
    logState(saving ? "save callback (saving)" : "save callback (loading)");
}

// Answers whatever modal window the action opened: the name dialog gets `name`, a question
// gets "Yes". Returns how many it answered.
int answerModal(const QString& name) {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        if (QAbstractButton* yes = box->button(QMessageBox::Yes))
            yes->click();
        else
            box->accept();
        return 1;
    }
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        if (auto* edit = dialog->findChild<QLineEdit*>())
            edit->setText(name);
        dialog->accept();
        return 1;
    }
    return 0;
}

// Interface thread: triggers the action, answering its modal windows while it runs.
std::string trigger(const QString& actionName, const QString& name) {
    auto* window = static_cast<QMainWindow*>(obs_frontend_get_main_window());
    QAction* action = window ? window->findChild<QAction*>(actionName) : nullptr;
    if (!action)
        return "no action " + actionName.toStdString();
    auto answered = std::make_shared<int>(0);
    QTimer answer;
    answer.setInterval(50);
    QObject::connect(&answer, &QTimer::timeout,
                     [answered, name] { *answered += answerModal(name); });
    answer.start();
    blog(LOG_INFO, "[relaycast-driver] trigger %s '%s'", actionName.toUtf8().constData(),
         name.toUtf8().constData());
    action->trigger();
    answer.stop();
    return "done, " + std::to_string(*answered) + " dialogs answered";
}

// Interface thread: what the dock shows, its labels and buttons one a line; with `click`, the
// dock's button of that text is clicked first.
std::string readDock(const QString& click) {
    auto* window = static_cast<QMainWindow*>(obs_frontend_get_main_window());
    auto* dock =
        window ? window->findChild<QDockWidget*>(QStringLiteral("relaycast-panel")) : nullptr;
    if (!dock)
        return "no dock";
    if (!click.isEmpty()) {
        for (QPushButton* button : dock->findChildren<QPushButton*>()) {
            if (button->text() == click && button->isVisibleTo(dock)) {
                button->click();
                break;
            }
        }
        QApplication::processEvents();
    }
    QStringList lines;
    for (QWidget* widget : dock->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(dock))
            continue;
        if (auto* label = qobject_cast<QLabel*>(widget))
            lines << label->text();
        else if (auto* button = qobject_cast<QPushButton*>(widget))
            lines << button->text();
    }
    return lines.join(QLatin1Char('\n')).toStdString();
}

// obs-websocket's thread: hands the work to the interface thread and waits for it.
void onRequest(obs_data_t* request, obs_data_t* response, void* type) {
    const bool dock = type != nullptr;
    const QString actionName = QString::fromUtf8(obs_data_get_string(request, "action"));
    const QString name = QString::fromUtf8(obs_data_get_string(request, "name"));
    auto result = std::make_shared<std::promise<std::string>>();
    std::future<std::string> done = result->get_future();
    QMetaObject::invokeMethod(
        qApp,
        [result, dock, actionName, name] {
            result->set_value(dock ? readDock(name) : trigger(actionName, name));
        },
        Qt::QueuedConnection);
    const bool finished = done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    obs_data_set_string(response, "result", finished ? done.get().c_str() : "timed out");
}

int g_dockRequest = 1;
RequestCallback g_trigger{&onRequest, nullptr};
RequestCallback g_dock{&onRequest, &g_dockRequest};

bool registerRequest(proc_handler_t* api, void* vendor, const char* type,
                     RequestCallback* callback) {
    calldata_t data;
    calldata_init(&data);
    calldata_set_ptr(&data, "vendor", vendor);
    calldata_set_string(&data, "type", type);
    calldata_set_ptr(&data, "callback", callback);
    const bool registered =
        proc_handler_call(api, "vendor_request_register", &data) && calldata_bool(&data, "success");
    calldata_free(&data);
    return registered;
}

} // namespace

bool obs_module_load(void) {
    obs_frontend_add_event_callback(onEvent, nullptr);
    obs_frontend_add_save_callback(onSave, nullptr);
    return true;
}

void obs_module_post_load(void) {
    calldata_t data;
    calldata_init(&data);
    proc_handler_t* api = nullptr;
    if (proc_handler_call(obs_get_proc_handler(), "obs_websocket_api_get_ph", &data))
        api = static_cast<proc_handler_t*>(calldata_ptr(&data, "ph"));
    calldata_free(&data);
    if (!api) {
        blog(LOG_WARNING, "[relaycast-driver] no obs-websocket");
        return;
    }
    calldata_init(&data);
    calldata_set_string(&data, "name", kVendorName);
    void* vendor = nullptr;
    if (proc_handler_call(api, "vendor_register", &data))
        vendor = calldata_ptr(&data, "vendor");
    calldata_free(&data);
    const bool registered = vendor && registerRequest(api, vendor, "Trigger", &g_trigger) &&
                            registerRequest(api, vendor, "Dock", &g_dock);
    blog(LOG_INFO, "[relaycast-driver] vendor %s", registered ? "registered" : "refused");
}

void obs_module_unload(void) {
    obs_frontend_remove_save_callback(onSave, nullptr);
    obs_frontend_remove_event_callback(onEvent, nullptr);
}
