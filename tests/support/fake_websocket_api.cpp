#include "support/fake_websocket_api.h"

#include <obs.hpp>

#include <QJsonDocument>

#include <map>
#include <memory>
#include <string>

namespace relaycast::test {

namespace {

struct RequestCallback {
    void (*callback)(obs_data_t*, obs_data_t*, void*);
    void* priv;
};

struct Vendor {
    std::string name;
    std::map<std::string, RequestCallback> requests;
};

QJsonObject toJson(obs_data_t* data) {
    return QJsonDocument::fromJson(obs_data_get_json(data)).object();
}

} // namespace

struct FakeWebSocketApi::State {
    mutable std::mutex lock;
    std::map<std::string, std::unique_ptr<Vendor>> vendors;
    QList<QPair<QString, QJsonObject>> events;
    proc_handler_t* handler = nullptr;
};

namespace {

std::mutex g_lock;
FakeWebSocketApi::State* g_current = nullptr;

FakeWebSocketApi::State* current(calldata_t* data) {
    std::lock_guard guard(g_lock);
    if (!g_current)
        calldata_set_bool(data, "success", false);
    return g_current;
}

Vendor* vendorOf(calldata_t* data) {
    return static_cast<Vendor*>(calldata_ptr(data, "vendor"));
}

void vendorRegister(void*, calldata_t* data) {
    FakeWebSocketApi::State* state = current(data);
    if (!state)
        return;
    std::lock_guard guard(state->lock);
    const std::string name = calldata_string(data, "name");
    if (state->vendors.count(name) != 0) {
        calldata_set_bool(data, "success", false);
        return;
    }
    auto vendor = std::make_unique<Vendor>();
    vendor->name = name;
    calldata_set_ptr(data, "vendor", vendor.get());
    state->vendors.emplace(name, std::move(vendor));
    calldata_set_bool(data, "success", true);
}

void requestRegister(void*, calldata_t* data) {
    FakeWebSocketApi::State* state = current(data);
    if (!state)
        return;
    std::lock_guard guard(state->lock);
    const std::string type = calldata_string(data, "type");
    Vendor* vendor = vendorOf(data);
    auto* callback = static_cast<RequestCallback*>(calldata_ptr(data, "callback"));
    const bool fresh = vendor && callback && vendor->requests.count(type) == 0;
    if (fresh)
        vendor->requests.emplace(type, *callback); // copied, as obs-websocket does
    calldata_set_bool(data, "success", fresh);
}

void requestUnregister(void*, calldata_t* data) {
    FakeWebSocketApi::State* state = current(data);
    if (!state)
        return;
    std::lock_guard guard(state->lock);
    Vendor* vendor = vendorOf(data);
    calldata_set_bool(data, "success",
                      vendor && vendor->requests.erase(calldata_string(data, "type")) == 1);
}

void eventEmit(void*, calldata_t* data) {
    FakeWebSocketApi::State* state = current(data);
    if (!state)
        return;
    auto* payload = static_cast<obs_data_t*>(calldata_ptr(data, "data"));
    std::lock_guard guard(state->lock);
    state->events.append({QString::fromUtf8(calldata_string(data, "type")),
                          payload ? toJson(payload) : QJsonObject()});
    calldata_set_bool(data, "success", true);
}

void getPh(void*, calldata_t* data) {
    FakeWebSocketApi::State* state = current(data);
    if (!state)
        return;
    calldata_set_ptr(data, "ph", state->handler);
    calldata_set_bool(data, "success", true);
}

void installOnce() {
    static const bool installed = [] {
        proc_handler_add(obs_get_proc_handler(), "bool obs_websocket_api_get_ph(out ptr ph)", getPh,
                         nullptr);
        return true;
    }();
    (void)installed;
}

} // namespace

FakeWebSocketApi::FakeWebSocketApi() : state_(new State) {
    installOnce();
    state_->handler = proc_handler_create();
    proc_handler_add(state_->handler, "bool vendor_register(in string name, out ptr vendor)",
                     vendorRegister, nullptr);
    proc_handler_add(state_->handler,
                     "bool vendor_request_register(in ptr vendor, in string type, in ptr callback)",
                     requestRegister, nullptr);
    proc_handler_add(state_->handler,
                     "bool vendor_request_unregister(in ptr vendor, in string type)",
                     requestUnregister, nullptr);
    proc_handler_add(state_->handler,
                     "bool vendor_event_emit(in ptr vendor, in string type, in ptr data)",
                     eventEmit, nullptr);
    std::lock_guard guard(g_lock);
    g_current = state_;
}

FakeWebSocketApi::~FakeWebSocketApi() {
    {
        std::lock_guard guard(g_lock);
        g_current = nullptr;
    }
    proc_handler_destroy(state_->handler);
    delete state_;
}

QJsonObject FakeWebSocketApi::call(const QString& vendorName, const QString& type,
                                   const QJsonObject& data) {
    RequestCallback callback{};
    {
        std::lock_guard guard(state_->lock);
        const auto vendor = state_->vendors.find(vendorName.toStdString());
        if (vendor == state_->vendors.end())
            return {{"status", "No vendor was found by that name."}};
        const auto request = vendor->second->requests.find(type.toStdString());
        if (request == vendor->second->requests.end())
            return {{"status", "No request was found by that name."}};
        callback = request->second;
    }
    // Outside the lock, like obs-websocket.
    OBSDataAutoRelease request =
        obs_data_create_from_json(QJsonDocument(data).toJson(QJsonDocument::Compact).constData());
    OBSDataAutoRelease response = obs_data_create();
    callback.callback(request, response, callback.priv);
    return toJson(response);
}

QList<QPair<QString, QJsonObject>> FakeWebSocketApi::events() const {
    std::lock_guard guard(state_->lock);
    return state_->events;
}

int FakeWebSocketApi::registeredRequestCount() const {
    std::lock_guard guard(state_->lock);
    int count = 0;
    for (const auto& [name, vendor] : state_->vendors)
        count += static_cast<int>(vendor->requests.size());
    return count;
}

} // namespace relaycast::test
