#pragma once

#include "child_process.h"
#include "media_probe.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace relaycast::test {

// A port on 127.0.0.1 that is free for both TCP and UDP right now.
uint16_t freePort();

// Whether this machine has the IPv6 loopback address ::1.
bool hasLoopbackV6();

// Waits up to timeoutMs until something accepts TCP connections on 127.0.0.1:port.
bool waitForTcpListener(uint16_t port, int timeoutMs);
// Waits up to timeoutMs until a UDP socket is bound to port on 127.0.0.1 (or any address).
bool waitForUdpListener(uint16_t port, int timeoutMs);

// One publish the RTMP server accepted: when it began and ended (seconds since the epoch, with
// milliseconds); endedAt is negative while it goes on.
struct PublishSpan {
    double startedAt = 0;
    double endedAt = -1;
};

// nginx with the RTMP module, alone in a temporary folder, listening only on 127.0.0.1.
// Application "live" relays every published stream to players; a publish with the refused
// key is answered 403 by the server's own on_publish check. stop() and start() again keep
// both ports, so a test can simulate a server that drops and comes back.
class RtmpServer {
public:
    explicit RtmpServer(const QString& refusedKey = QStringLiteral("refused-key"));
    ~RtmpServer();
    RtmpServer(const RtmpServer&) = delete;
    RtmpServer& operator=(const RtmpServer&) = delete;

    // Starts nginx and waits until both ports accept connections. False (with the reason)
    // when it does not come up within 10 s.
    bool start(QString* error = nullptr);
    // SIGTERM by PID; waits for the exit (connected publishers are cut at once).
    void stop();
    bool running();

    uint16_t port() const { return port_; }
    uint16_t httpPort() const { return httpPort_; }
    const QString& refusedKey() const { return refusedKey_; }
    // rtmp://127.0.0.1:PORT/live: the server address a destination uses.
    QString url() const;
    // rtmp://127.0.0.1:PORT/live/KEY: where a player reads the stream published with KEY.
    QString playUrl(const QString& key) const;
    // The server's error log (useful in failure messages).
    QString errorLog() const;
    // Bytes the server received of stream `key` in its current publish; 0 when none.
    qint64 bytesIn(const QString& key) const;
    // Every publish of stream `key` the server let in, in order.
    QList<PublishSpan> publishes(const QString& key) const;
    // From now on, refuses (or lets in again) publishes of stream `key`, as a server does
    // while it still holds a dropped session or its ingest restarts.
    void setRefusing(const QString& key, bool refusing);

private:
    bool writeConfig(QString* error);

    QTemporaryDir dir_;
    QString refusedKey_;
    uint16_t port_ = 0;
    uint16_t httpPort_ = 0;
    ChildProcess process_;
};

// nginx run from a configuration a test did not write itself (one the product makes, say), with
// its logs and pid file in a temporary folder and in the foreground; up once it accepts
// connections on every port given.
class ConfiguredNginx {
public:
    ConfiguredNginx() = default;
    ~ConfiguredNginx();
    ConfiguredNginx(const ConfiguredNginx&) = delete;
    ConfiguredNginx& operator=(const ConfiguredNginx&) = delete;

    bool start(const QString& config, const QList<uint16_t>& ports, QString* error = nullptr);
    void stop(); // SIGTERM by PID
    QString errorLog() const;

private:
    QTemporaryDir dir_;
    ChildProcess process_;
};

// A throwaway certificate authority and the server certificates a TLS test needs, made with
// openssl in a temporary folder. Nothing is trusted until a test adds the authority to its own
// process (own_mounts.h, ExtraTrust).
enum class TlsCertificate {
    Trusted,    // for localhost, signed by the authority
    SelfSigned, // for localhost, signed by nobody else
    Expired,    // for localhost, signed by the authority, valid only in 2020
    OtherName,  // for elsewhere.test, signed by the authority
};
const char* tlsCertificateName(TlsCertificate certificate);

class TestCertificates {
public:
    // False with openssl's complaint when they cannot be made.
    bool make(QString* error);
    QString authorityPath() const;
    QString certificatePath(TlsCertificate certificate) const;
    QString keyPath(TlsCertificate certificate) const;

private:
    QTemporaryDir dir_;
};

// stunnel4 terminating TLS on 127.0.0.1 (and on ::1 when the machine has it) at one port, in
// front of an RtmpServer, presenting one of the certificates. stop() and start() again keep the
// port, so a test can restart it with another certificate.
class TlsTerminator {
public:
    TlsTerminator(const TestCertificates& certificates, const RtmpServer& backend);
    ~TlsTerminator();
    TlsTerminator(const TlsTerminator&) = delete;
    TlsTerminator& operator=(const TlsTerminator&) = delete;

    bool start(TlsCertificate certificate, QString* error = nullptr);
    void stop();
    bool running();

    uint16_t port() const { return port_; }
    // rtmps://localhost:PORT/live: the host checks the certificate's name, never an address.
    QString url() const;
    QString log() const;
    // Handshakes that a TLS client broke off since the last start (its alert on the certificate);
    // the terminator's own readiness check sends no handshake and is not among them.
    int handshakesRefused() const;

private:
    const TestCertificates& certificates_;
    const RtmpServer& backend_;
    QTemporaryDir dir_;
    uint16_t port_ = 0;
    ChildProcess process_;
};

// srt-live-transmit as an SRT listener on 127.0.0.1 writing what it receives to a .ts file.
// With a passphrase, callers must present it (AES-128).
class SrtListener {
public:
    explicit SrtListener(const QString& passphrase = {});
    ~SrtListener();
    SrtListener(const SrtListener&) = delete;
    SrtListener& operator=(const SrtListener&) = delete;

    // Starts the listener and waits until its UDP port is bound.
    bool start(QString* error = nullptr);
    void stop();
    bool running();
    // Freezes the listener (SIGSTOP by PID) or lets it go on: a receiver that stops reading,
    // whose socket then drops what arrives.
    void pause(bool paused);

    uint16_t port() const { return port_; }
    // srt://127.0.0.1:PORT: the address a destination uses (the passphrase travels apart).
    QString url() const;
    // The .ts file the received stream is written to.
    QString recordingPath() const;
    qint64 recordedBytes() const;
    QString log() const;

private:
    QTemporaryDir dir_;
    QString passphrase_;
    uint16_t port_ = 0;
    ChildProcess process_;
};

// What a RIST receiver demands of its senders.
struct RistReceiverOptions {
    QString secret;   // with a secret, senders must encrypt with it (AES-128)
    QString username; // with a user, senders must log in with it and its password (SRP)
    QString password;
};

// ristreceiver (rist-tools) listening in the main profile on an even port of 127.0.0.1,
// relaying what it receives as UDP to the test, which writes it to a .ts file. stop() and
// start() again keep the port and the file: a receiver that goes away and comes back.
class RistReceiver {
public:
    explicit RistReceiver(RistReceiverOptions options = {});
    ~RistReceiver();
    RistReceiver(const RistReceiver&) = delete;
    RistReceiver& operator=(const RistReceiver&) = delete;

    // Starts the receiver and waits until its RIST port is bound.
    bool start(QString* error = nullptr);
    void stop();
    bool running();

    uint16_t port() const { return port_; }
    // rist://127.0.0.1:PORT: the address a destination uses (secrets travel apart).
    QString url() const;
    QString recordingPath() const;
    qint64 recordedBytes() const;
    QString log() const;

private:
    void readUdp(int socket);

    QTemporaryDir dir_;
    RistReceiverOptions options_;
    uint16_t port_ = 0;
    uint16_t udpPort_ = 0;
    ChildProcess process_;
    std::atomic<bool> reading_{false};
    std::thread reader_;
};

// A temporary folder mirrored through bindfs (a FUSE file system) whose daemon the test pauses
// (SIGSTOP by PID): every file-system call there then waits, as on a hard NFS mount or an SMB
// share whose server stopped answering. A pause ends by itself after its bound, so a test whose
// own thread got caught there goes on; resumed and unmounted when it goes, whatever happened.
class PausableFolder {
public:
    PausableFolder() = default;
    ~PausableFolder();
    PausableFolder(const PausableFolder&) = delete;
    PausableFolder& operator=(const PausableFolder&) = delete;

    // False with the reason when FUSE cannot be used here (no /dev/fuse, no bindfs).
    bool mount(QString* why);
    QString path() const { return mountPoint_.path(); }
    void pause(std::chrono::milliseconds atMost);
    void resume();

private:
    void unmount();

    QTemporaryDir backing_;
    QTemporaryDir mountPoint_;
    ChildProcess daemon_;
    ChildProcess resumer_; // resumes the daemon when a pause reaches its bound
    bool mounted_ = false;
};

} // namespace relaycast::test
