#pragma once

// Servers on 127.0.0.1 for the update check: an HTTPS server (nginx) with certificates from a
// certificate authority made for the test, and a TCP listener that never answers.

#include "child_process.h"
#include "update/update_endpoint.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

namespace relaycast::test {

// Accepts TCP connections on 127.0.0.1, keeps them open and records what clients send, but
// never writes a byte. Doubles as a proxy that never answers its CONNECT requests.
class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    // False when no port could be bound.
    bool listening() const { return fd_ >= 0; }
    uint16_t port() const { return port_; }
    int connectionCount() const { return connections_; }
    // Connections the client side has closed.
    int closedCount() const { return closed_; }
    // Everything received so far, from all connections in arrival order.
    QByteArray received() const;
    // Closes the listener and every accepted connection.
    void stop();

private:
    void serve();

    int fd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    uint16_t port_ = 0;
    std::atomic<int> connections_{0};
    std::atomic<int> closed_{0};
    mutable std::mutex lock_;
    QByteArray received_;
    std::thread thread_;
};

// A certificate authority and server certificates issued by it, made with the openssl program
// in a temporary folder. Elliptic-curve keys, valid for two days.
class TestAuthority {
public:
    TestAuthority();
    bool valid() const { return valid_; }
    QString error() const { return error_; }
    // The authority's certificate: what a client trusts.
    QString caFile() const;
    // Issues a server certificate for `hostName`; its key and certificate are written to the
    // returned paths (key first). Empty paths on failure.
    std::pair<QString, QString> issue(const QString& hostName);

private:
    QTemporaryDir dir_;
    bool valid_ = false;
    QString error_;
    int issued_ = 0;
};

// What the HTTPS server answers at every path.
struct UpdateServerOptions {
    // The name the server certificate is issued for.
    QString certificateName = QString::fromLatin1(kUpdateHost);
    // Non-zero: every request is answered with this status and `fixedBody`.
    int fixedStatus = 0;
    QByteArray fixedBody;
    // Non-zero: every request is passed on to this port on 127.0.0.1 and waits for its answer.
    uint16_t backendPort = 0;
};

// nginx over TLS on 127.0.0.1. By default it serves the manifest file at the update path
// (404 while there is none).
class UpdateServer {
public:
    explicit UpdateServer(UpdateServerOptions options = {});
    ~UpdateServer();
    UpdateServer(const UpdateServer&) = delete;
    UpdateServer& operator=(const UpdateServer&) = delete;

    // Makes the certificates, starts nginx and waits until it accepts connections.
    bool start(QString* error = nullptr);
    void stop();

    uint16_t port() const { return port_; }
    // The authority that issued the server certificate.
    QString caFile() const { return authority_.caFile(); }
    // The maker's host name on this server's port, trusting its authority, connecting to
    // 127.0.0.1.
    UpdateEndpoint endpoint() const;

    // The body served at the update path from now on.
    void setManifest(const QByteArray& body);
    void removeManifest();

    // One line per request received: "METHOD PATH PROTOCOL|status|User-Agent|Host".
    QStringList requests() const;
    // The server logs a request once its answer is sent, which may be after the client has
    // it: waits up to timeoutMs until `count` requests are logged; returns the log then.
    QStringList waitForRequests(int count, int timeoutMs = 5000) const;
    // Bytes the server handed to each connection (headers included), one per finished
    // request, waiting up to timeoutMs until `count` are logged. A request the client gave up
    // is logged once the server notices the closed connection.
    QList<qint64> waitForBytesSent(int count, int timeoutMs = 5000) const;
    QString errorLog() const;

private:
    bool writeConfig(const QString& keyFile, const QString& certFile, QString* error);

    UpdateServerOptions options_;
    QTemporaryDir dir_;
    TestAuthority authority_;
    uint16_t port_ = 0;
    ChildProcess process_;
};

// A manifest body: {"version": version, "url": url}.
QByteArray manifestBody(const QString& version, const QString& url);

} // namespace relaycast::test
