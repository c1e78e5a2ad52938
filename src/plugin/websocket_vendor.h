#pragma once

#include <obs.h>

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <list>

namespace relaycast {

// A vendor of OBS's obs-websocket 5: requests clients send with CallVendorRequest, and events
// clients subscribed to "Vendors" receive as VendorEvent. Reached only through libobs procedure
// handlers, so the plug-in needs nothing of obs-websocket to build and runs without it.
//
// obs-websocket keeps a vendor until it unloads and refuses a second one of the same name, so a
// process opens a vendor name once. Requests arrive on obs-websocket's threads; the handler
// runs there. The object must outlive every request it can receive: keep it for the plug-in's
// life and close it before obs-websocket unloads.
class WebSocketVendor {
public:
    // obs-websocket's thread: the request type and its data; returns the response data.
    using RequestHandler = std::function<QJsonObject(const QString& type, const QJsonObject& data)>;

    WebSocketVendor() = default;
    ~WebSocketVendor();
    WebSocketVendor(const WebSocketVendor&) = delete;
    WebSocketVendor& operator=(const WebSocketVendor&) = delete;

    // Registers the vendor and its request types. False, with a log line, when obs-websocket is
    // not loaded or refuses; the plug-in works on without remote control.
    bool open(const char* name, const QStringList& requestTypes, RequestHandler handler);
    // Interface thread. Nothing happens when the vendor is not open.
    void emitEvent(const char* type, const QJsonObject& data);
    // Unregisters the request types, then waits (within a bound) for requests still running in
    // the handler. The handler must not wait for the caller's thread by then.
    void close();
    bool isOpen() const { return vendor_ != nullptr; }

private:
    // One per request type: obs-websocket tells the callback only its data.
    struct RequestType {
        WebSocketVendor* vendor;
        QString type;
    };
    static void onRequest(obs_data_t* request, obs_data_t* response, void* type);

    proc_handler_t* api_ = nullptr;
    void* vendor_ = nullptr;
    // Kept for the object's life: a request already dispatched may still read its entry.
    std::list<RequestType> types_;
    RequestHandler handler_;
    std::atomic<int> running_{0};
};

} // namespace relaycast
