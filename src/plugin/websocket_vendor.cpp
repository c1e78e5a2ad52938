#include "plugin/websocket_vendor.h"

#include "module/module_log.h"

#include <obs.hpp>

#include <QJsonDocument>

#include <chrono>
#include <thread>

namespace relaycast {
namespace {

// obs-websocket copies this when a request type is registered.
struct RequestCallback {
    void (*callback)(obs_data_t*, obs_data_t*, void*);
    void* priv;
};

constexpr auto kCloseWait = std::chrono::seconds(5);

// Calls a procedure and reads its "success"; false when the procedure does not exist.
bool callProcedure(proc_handler_t* handler, const char* name, calldata_t* data) {
    return proc_handler_call(handler, name, data) && calldata_bool(data, "success");
}

} // namespace

WebSocketVendor::~WebSocketVendor() {
    close();
}

bool WebSocketVendor::open(const char* name, const QStringList& requestTypes,
                           RequestHandler handler) {
    if (vendor_)
        return true;
    calldata_t data;
    calldata_init(&data);
    // Only there once obs-websocket has loaded.
    if (!proc_handler_call(obs_get_proc_handler(), "obs_websocket_api_get_ph", &data) ||
        !calldata_ptr(&data, "ph")) {
        calldata_free(&data);
        moduleLog(LOG_INFO, "obs-websocket is not available: remote control is off");
        return false;
    }
    api_ = static_cast<proc_handler_t*>(calldata_ptr(&data, "ph"));
    calldata_free(&data);

    calldata_init(&data);
    calldata_set_string(&data, "name", name);
    if (!callProcedure(api_, "vendor_register", &data) || !calldata_ptr(&data, "vendor")) {
        calldata_free(&data);
        moduleLog(LOG_WARNING, "obs-websocket refused the vendor \"%s\": remote control is off",
                  name);
        return false;
    }
    vendor_ = calldata_ptr(&data, "vendor");
    calldata_free(&data);

    handler_ = std::move(handler);
    int registered = 0;
    for (const QString& type : requestTypes) {
        RequestType& entry = types_.emplace_back(RequestType{this, type});
        RequestCallback callback{&WebSocketVendor::onRequest, &entry};
        calldata_init(&data);
        calldata_set_ptr(&data, "vendor", vendor_);
        calldata_set_string(&data, "type", type.toUtf8().constData());
        calldata_set_ptr(&data, "callback", &callback);
        if (callProcedure(api_, "vendor_request_register", &data))
            ++registered;
        else
            moduleLog(LOG_WARNING, "obs-websocket refused the request \"%s\"",
                      type.toUtf8().constData());
        calldata_free(&data);
    }
    moduleLog(LOG_INFO, "remote control: obs-websocket vendor \"%s\" with %d requests", name,
              registered);
    return true;
}

void WebSocketVendor::emitEvent(const char* type, const QJsonObject& event) {
    if (!vendor_)
        return;
    OBSDataAutoRelease payload =
        obs_data_create_from_json(QJsonDocument(event).toJson(QJsonDocument::Compact).constData());
    calldata_t data;
    calldata_init(&data);
    calldata_set_ptr(&data, "vendor", vendor_);
    calldata_set_string(&data, "type", type);
    // obs-websocket reads it before returning and takes no reference.
    calldata_set_ptr(&data, "data", payload.Get());
    callProcedure(api_, "vendor_event_emit", &data);
    calldata_free(&data);
}

void WebSocketVendor::close() {
    if (!vendor_)
        return;
    for (const RequestType& entry : types_) {
        calldata_t data;
        calldata_init(&data);
        calldata_set_ptr(&data, "vendor", vendor_);
        calldata_set_string(&data, "type", entry.type.toUtf8().constData());
        callProcedure(api_, "vendor_request_unregister", &data);
        calldata_free(&data);
    }
    vendor_ = nullptr;
    api_ = nullptr;
    // A request that was already in the handler finishes first: its code must stay loaded.
    const auto giveUp = std::chrono::steady_clock::now() + kCloseWait;
    while (running_.load() > 0 && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void WebSocketVendor::onRequest(obs_data_t* request, obs_data_t* response, void* type) {
    const RequestType& entry = *static_cast<const RequestType*>(type);
    WebSocketVendor* vendor = entry.vendor;
    ++vendor->running_;
    try {
        const QJsonObject data = QJsonDocument::fromJson(obs_data_get_json(request)).object();
        QJsonObject answer = vendor->handler_(entry.type, data);
        OBSDataAutoRelease parsed = obs_data_create_from_json(
            QJsonDocument(answer).toJson(QJsonDocument::Compact).constData());
        obs_data_apply(response, parsed);
    } catch (...) {
        moduleLog(LOG_WARNING, "unexpected error in a remote request");
    }
    --vendor->running_;
}

} // namespace relaycast
