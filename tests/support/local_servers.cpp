#include "local_servers.h"

#include "relay/relay_stats_fetch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace relaycast::test {
namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kStopTimeoutMs = 5000;
const char* const kRtmpModule = "/usr/lib/nginx/modules/ngx_rtmp_module.so";

sockaddr_in loopback(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

bool canBind(int type, uint16_t port) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const sockaddr_in addr = loopback(port);
    const bool ok = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

bool tcpConnects(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const sockaddr_in addr = loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

bool udpBound(uint16_t port) {
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QString portHex = QStringLiteral("%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    const QStringList lines = QString::fromLatin1(table.readAll()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QStringList fields = line.simplified().split(QLatin1Char(' '));
        if (fields.size() < 2)
            continue;
        const QString local = fields.at(1);
        if (local == QStringLiteral("0100007F:") + portHex ||
            local == QStringLiteral("00000000:") + portHex)
            return true;
    }
    return false;
}

template <typename Predicate> bool waitFor(Predicate ready, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

QString readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

void setError(QString* error, const QString& text) {
    if (error)
        *error = text;
}

// nginx from `config`, its logs in `dir`, up once it accepts on every port. `extra` are
// directives given on the command line (those the configuration itself lacks).
bool startNginx(ChildProcess& process, const QString& dir, const QString& config,
                const QString& extra, const QList<uint16_t>& ports, QString* error) {
    QStringList argv = {QStringLiteral("nginx"),
                        QStringLiteral("-p"),
                        dir + QLatin1Char('/'),
                        QStringLiteral("-e"),
                        dir + QStringLiteral("/error.log"),
                        QStringLiteral("-c"),
                        config};
    if (!extra.isEmpty())
        argv << QStringLiteral("-g") << extra;
    if (!process.start(argv, dir + QStringLiteral("/stdout.log"),
                       dir + QStringLiteral("/stderr.log"))) {
        setError(error, QStringLiteral("nginx could not be started"));
        return false;
    }
    const auto up = [&] {
        if (!process.running())
            return true;
        for (const uint16_t port : ports)
            if (!tcpConnects(port))
                return false;
        return true;
    };
    if (!waitFor(up, kStartTimeoutMs) || !process.running()) {
        setError(error, QStringLiteral("nginx did not come up: ") +
                            readFile(dir + QStringLiteral("/error.log")) +
                            readFile(dir + QStringLiteral("/stderr.log")));
        process.stop(SIGTERM, kStopTimeoutMs);
        return false;
    }
    return true;
}

} // namespace

uint16_t freePort() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return 0;
        sockaddr_in addr = loopback(0);
        socklen_t len = sizeof addr;
        uint16_t port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            port = ntohs(addr.sin_port);
        ::close(fd);
        if (port != 0 && canBind(SOCK_DGRAM, port))
            return port;
    }
    return 0;
}

// RIST pairs a port with the next one (RTP and RTCP) and its receivers expect the even one.
// The kernel hands out odd ports to bind(), so the even one below a free port is tried.
uint16_t freeEvenPort() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        const uint16_t even = freePort() & ~1;
        if (even != 0 && canBind(SOCK_DGRAM, even) && canBind(SOCK_DGRAM, even + 1))
            return even;
    }
    return 0;
}

bool waitForTcpListener(uint16_t port, int timeoutMs) {
    return waitFor([port] { return tcpConnects(port); }, timeoutMs);
}

bool waitForUdpListener(uint16_t port, int timeoutMs) {
    return waitFor([port] { return udpBound(port); }, timeoutMs);
}

// --- RtmpServer ---

RtmpServer::RtmpServer(const QString& refusedKey)
    : refusedKey_(refusedKey), port_(freePort()), httpPort_(freePort()) {
    while (httpPort_ == port_)
        httpPort_ = freePort();
}

RtmpServer::~RtmpServer() {
    stop();
}

QString RtmpServer::url() const {
    return QStringLiteral("rtmp://127.0.0.1:%1/live").arg(port_);
}

QString RtmpServer::playUrl(const QString& key) const {
    return url() + QLatin1Char('/') + key;
}

QString RtmpServer::errorLog() const {
    return readFile(dir_.filePath(QStringLiteral("error.log")));
}

qint64 RtmpServer::bytesIn(const QString& key) const {
    prepareRelayStatsFetch();
    const RelayStatsPage page = fetchRelayStatsPage(
        QStringLiteral("http://127.0.0.1:%1/stat").arg(httpPort_).toStdString());
    // The stream's own counter: <stream><name>KEY</name>…<bytes_in>N</bytes_in>.
    const QRegularExpression stream(
        QStringLiteral("<stream>\\s*<name>%1</name>.*?<bytes_in>(\\d+)<")
            .arg(QRegularExpression::escape(key)),
        QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch found = stream.match(QString::fromStdString(page.body));
    return found.hasMatch() ? found.captured(1).toLongLong() : 0;
}

QList<PublishSpan> RtmpServer::publishes(const QString& key) const {
    QList<PublishSpan> spans;
    const QStringList lines =
        readFile(dir_.filePath(QStringLiteral("publish.log"))).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QStringList fields = line.split(QLatin1Char(' '));
        if (fields.size() != 4 || fields.at(2) != key)
            continue;
        const double at = fields.at(0).toDouble();
        if (fields.at(1) == QStringLiteral("/on_publish") && fields.at(3) == QStringLiteral("204"))
            spans.append({at, -1});
        else if (fields.at(1) == QStringLiteral("/on_publish_done") && !spans.isEmpty() &&
                 spans.last().endedAt < 0)
            spans.last().endedAt = at;
    }
    return spans;
}

void RtmpServer::setRefusing(const QString& key, bool refusing) {
    QDir(dir_.path()).mkpath(QStringLiteral("refused"));
    QFile marker(dir_.filePath(QStringLiteral("refused/") + key));
    if (refusing)
        marker.open(QIODevice::WriteOnly);
    else
        marker.remove();
}

bool RtmpServer::writeConfig(QString* error) {
    const QString d = dir_.path();
    QFile file(dir_.filePath(QStringLiteral("nginx.conf")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        setError(error, QStringLiteral("cannot write nginx.conf"));
        return false;
    }
    QTextStream c(&file);
    c << "load_module " << kRtmpModule << ";\n"
      << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
      << "error_log " << d << "/error.log info;\n"
      << "pid " << d << "/nginx.pid;\n"
      << "events { worker_connections 256; }\n"
      << "rtmp {\n  server {\n"
      << "    listen 127.0.0.1:" << port_ << ";\n"
      << "    chunk_size 4096;\n"
      << "    application live {\n      live on;\n      record off;\n"
      << "      notify_method get;\n"
      << "      on_publish http://127.0.0.1:" << httpPort_ << "/on_publish;\n"
      << "      on_publish_done http://127.0.0.1:" << httpPort_ << "/on_publish_done;\n"
      << "    }\n  }\n}\n"
      << "http {\n  access_log off;\n"
      << "  log_format notes '$msec $uri $arg_name $status';\n";
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        c << "  " << temp << "_temp_path " << d << "/" << temp << ";\n";
    // The on_publish check: nginx-rtmp sends the stream name as "name"; any 2xx lets the
    // publisher in, 403 refuses it.
    c << "  server {\n    listen 127.0.0.1:" << httpPort_ << ";\n"
      << "    access_log " << d << "/publish.log notes;\n"
      << "    location /on_publish_done { return 204; }\n"
      << "    location = /stat { rtmp_stat all; }\n"
      << "    location /on_publish {\n"
      << "      if ($arg_name = \"" << refusedKey_ << "\") { return 403; }\n"
      << "      if (-f \"" << d << "/refused/$arg_name\") { return 403; }\n"
      << "      return 204;\n    }\n"
      << "    location / { return 404; }\n  }\n}\n";
    return true;
}

bool RtmpServer::start(QString* error) {
    if (process_.running())
        return true;
    if (!dir_.isValid() || port_ == 0 || httpPort_ == 0) {
        setError(error, QStringLiteral("no temporary folder or free port"));
        return false;
    }
    if (!QFileInfo::exists(QString::fromLatin1(kRtmpModule))) {
        setError(error, QStringLiteral("nginx RTMP module not installed"));
        return false;
    }
    if (!writeConfig(error))
        return false;
    return startNginx(process_, dir_.path(), dir_.filePath(QStringLiteral("nginx.conf")), {},
                      {port_, httpPort_}, error);
}

void RtmpServer::stop() {
    process_.stop(SIGTERM, kStopTimeoutMs);
    // Wait until the port can be bound again, so an immediate start() succeeds.
    waitFor([this] { return canBind(SOCK_STREAM, port_) || tcpConnects(port_); }, 2000);
}

bool RtmpServer::running() {
    return process_.running();
}

// --- ConfiguredNginx ---

ConfiguredNginx::~ConfiguredNginx() {
    stop();
}

bool ConfiguredNginx::start(const QString& config, const QList<uint16_t>& ports, QString* error) {
    if (!dir_.isValid()) {
        setError(error, QStringLiteral("no temporary folder"));
        return false;
    }
    const QString d = dir_.path();
    return startNginx(process_, d, config,
                      QStringLiteral("daemon off; master_process off; pid %1/nginx.pid;").arg(d),
                      ports, error);
}

void ConfiguredNginx::stop() {
    process_.stop(SIGTERM, kStopTimeoutMs);
}

QString ConfiguredNginx::errorLog() const {
    return readFile(dir_.filePath(QStringLiteral("error.log"))) +
           readFile(dir_.filePath(QStringLiteral("stderr.log")));
}

// --- TestCertificates ---

namespace {

// Every certificate a TLS test needs, signed (or not) as TlsCertificate says. OpenSSL 3.0's
// `x509 -req` cannot date a certificate in the past; `ca` with -startdate/-enddate can.
const char* const kMakeCertificates = R"(set -e
cd "$1"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
  -subj "/CN=Relaycast test authority" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign"
leaf() {
  openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2"
  printf 'subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' \
    "$2" >"$1.ext"
}
leaf trusted localhost
openssl x509 -req -in trusted.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out trusted.pem \
  -days 2 -extfile trusted.ext
leaf other-name elsewhere.test
openssl x509 -req -in other-name.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
  -out other-name.pem -days 2 -extfile other-name.ext
leaf self-signed localhost
openssl x509 -req -in self-signed.csr -signkey self-signed.key -out self-signed.pem -days 2 \
  -extfile self-signed.ext
leaf expired localhost
mkdir ca.db && : >ca.db/index.txt && echo 1000 >ca.db/serial
printf '[ca]\ndefault_ca = test\n[test]\ndatabase = ca.db/index.txt\nserial = ca.db/serial
new_certs_dir = ca.db\ndefault_md = sha256\npolicy = any\n[any]\ncommonName = supplied\n' >ca.cnf
openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in expired.csr -out expired.pem \
  -startdate 20200101000000Z -enddate 20200102000000Z -extfile expired.ext -notext
)";

} // namespace

bool hasLoopbackV6() {
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_loopback;
    const bool ok = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

const char* tlsCertificateName(TlsCertificate certificate) {
    switch (certificate) {
    case TlsCertificate::Trusted:
        return "trusted";
    case TlsCertificate::SelfSigned:
        return "self-signed";
    case TlsCertificate::Expired:
        return "expired";
    case TlsCertificate::OtherName:
        return "other-name";
    }
    return "?";
}

bool TestCertificates::make(QString* error) {
    if (!dir_.isValid()) {
        setError(error, QStringLiteral("no temporary folder"));
        return false;
    }
    const CommandResult made =
        runCommand({QStringLiteral("sh"), QStringLiteral("-c"),
                    QString::fromLatin1(kMakeCertificates), QStringLiteral("sh"), dir_.path()},
                   60000);
    if (made.exitCode != 0) {
        setError(error, QStringLiteral("openssl could not make the certificates: ") +
                            QString::fromLocal8Bit(made.err));
        return false;
    }
    return true;
}

QString TestCertificates::authorityPath() const {
    return dir_.filePath(QStringLiteral("ca.pem"));
}

QString TestCertificates::certificatePath(TlsCertificate certificate) const {
    return dir_.filePath(QString::fromLatin1(tlsCertificateName(certificate)) +
                         QStringLiteral(".pem"));
}

QString TestCertificates::keyPath(TlsCertificate certificate) const {
    return dir_.filePath(QString::fromLatin1(tlsCertificateName(certificate)) +
                         QStringLiteral(".key"));
}

// --- TlsTerminator ---

TlsTerminator::TlsTerminator(const TestCertificates& certificates, const RtmpServer& backend)
    : certificates_(certificates), backend_(backend), port_(freePort()) {}

TlsTerminator::~TlsTerminator() {
    stop();
}

QString TlsTerminator::url() const {
    return QStringLiteral("rtmps://localhost:%1/live").arg(port_);
}

QString TlsTerminator::log() const {
    return readFile(dir_.filePath(QStringLiteral("stunnel.log")));
}

int TlsTerminator::handshakesRefused() const {
    int refused = 0;
    for (const QString& line : log().split(QLatin1Char('\n')))
        refused +=
            line.contains(QStringLiteral("SSL_accept")) && line.contains(QStringLiteral("alert"));
    return refused;
}

bool TlsTerminator::start(TlsCertificate certificate, QString* error) {
    if (process_.running())
        return true;
    QFile::remove(dir_.filePath(QStringLiteral("stunnel.log")));
    if (!dir_.isValid() || port_ == 0) {
        setError(error, QStringLiteral("no temporary folder or free port"));
        return false;
    }
    const QString config = dir_.filePath(QStringLiteral("stunnel.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        setError(error, QStringLiteral("cannot write stunnel.conf"));
        return false;
    }
    QTextStream c(&file);
    c << "foreground = yes\npid =\ndebug = info\n"
      << "output = " << dir_.filePath(QStringLiteral("stunnel.log")) << "\n";
    QStringList listens{QStringLiteral("127.0.0.1")};
    // "localhost" may lead to either loopback address; a test picks one (LocalhostAs).
    if (hasLoopbackV6())
        listens << QStringLiteral("::1");
    for (const QString& listen : listens) {
        c << "[" << listen << "]\n"
          << "accept = " << listen << ":" << port_ << "\n"
          << "connect = 127.0.0.1:" << backend_.port() << "\n"
          << "cert = " << certificates_.certificatePath(certificate) << "\n"
          << "key = " << certificates_.keyPath(certificate) << "\n";
    }
    c.flush();
    file.close();
    if (!process_.start({QStringLiteral("stunnel4"), config},
                        dir_.filePath(QStringLiteral("stdout.log")),
                        dir_.filePath(QStringLiteral("stderr.log")))) {
        setError(error, QStringLiteral("stunnel4 could not be started (package stunnel4)"));
        return false;
    }
    if (!waitFor([this] { return !process_.running() || tcpConnects(port_); }, kStartTimeoutMs) ||
        !process_.running()) {
        setError(error, QStringLiteral("stunnel4 did not come up: ") + log() +
                            readFile(dir_.filePath(QStringLiteral("stderr.log"))));
        process_.stop(SIGTERM, kStopTimeoutMs);
        return false;
    }
    return true;
}

void TlsTerminator::stop() {
    process_.stop(SIGTERM, kStopTimeoutMs);
    waitFor([this] { return canBind(SOCK_STREAM, port_) || tcpConnects(port_); }, 2000);
}

bool TlsTerminator::running() {
    return process_.running();
}

// --- SrtListener ---

SrtListener::SrtListener(const QString& passphrase) : passphrase_(passphrase), port_(freePort()) {}

SrtListener::~SrtListener() {
    stop();
}

QString SrtListener::url() const {
    return QStringLiteral("srt://127.0.0.1:%1").arg(port_);
}

QString SrtListener::recordingPath() const {
    return dir_.filePath(QStringLiteral("received.ts"));
}

qint64 SrtListener::recordedBytes() const {
    return QFileInfo(recordingPath()).size();
}

QString SrtListener::log() const {
    return readFile(dir_.filePath(QStringLiteral("srt.log")));
}

bool SrtListener::start(QString* error) {
    if (process_.running())
        return true;
    if (!dir_.isValid() || port_ == 0) {
        setError(error, QStringLiteral("no temporary folder or free port"));
        return false;
    }
    QString source = QStringLiteral("srt://127.0.0.1:%1?mode=listener").arg(port_);
    if (!passphrase_.isEmpty())
        source += QStringLiteral("&passphrase=%1&pbkeylen=16").arg(passphrase_);
    if (!process_.start({QStringLiteral("srt-live-transmit"), QStringLiteral("-q"), source,
                         QStringLiteral("file://con")},
                        recordingPath(), dir_.filePath(QStringLiteral("srt.log")))) {
        setError(error, QStringLiteral("srt-live-transmit could not be started"));
        return false;
    }
    if (!waitFor([this] { return !process_.running() || udpBound(port_); }, kStartTimeoutMs) ||
        !process_.running()) {
        setError(error, QStringLiteral("srt-live-transmit did not come up: ") + log());
        process_.stop(SIGTERM, kStopTimeoutMs);
        return false;
    }
    return true;
}

void SrtListener::stop() {
    process_.stop(SIGTERM, kStopTimeoutMs);
}

bool SrtListener::running() {
    return process_.running();
}

void SrtListener::pause(bool paused) {
    if (process_.pid() > 0)
        ::kill(process_.pid(), paused ? SIGSTOP : SIGCONT);
}

// --- RistReceiver ---

RistReceiver::RistReceiver(RistReceiverOptions options)
    : options_(std::move(options)), port_(freeEvenPort()), udpPort_(freePort()) {}

RistReceiver::~RistReceiver() {
    stop();
    reading_ = false;
    if (reader_.joinable())
        reader_.join();
}

QString RistReceiver::url() const {
    return QStringLiteral("rist://127.0.0.1:%1").arg(port_);
}

QString RistReceiver::recordingPath() const {
    return dir_.filePath(QStringLiteral("received.ts"));
}

qint64 RistReceiver::recordedBytes() const {
    return QFileInfo(recordingPath()).size();
}

QString RistReceiver::log() const {
    return readFile(dir_.filePath(QStringLiteral("rist.log")));
}

void RistReceiver::readUdp(int socket) {
    QFile file(recordingPath());
    file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
    char datagram[65536];
    while (reading_) {
        pollfd ready{socket, POLLIN, 0};
        if (::poll(&ready, 1, 50) <= 0)
            continue;
        const ssize_t size = ::recv(socket, datagram, sizeof datagram, 0);
        if (size > 0)
            file.write(datagram, size);
    }
    ::close(socket);
}

bool RistReceiver::start(QString* error) {
    if (process_.running())
        return true;
    if (!dir_.isValid() || port_ == 0 || udpPort_ == 0) {
        setError(error, QStringLiteral("no temporary folder or free port"));
        return false;
    }
    if (!reader_.joinable()) {
        const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const sockaddr_in addr = loopback(udpPort_);
        if (socket < 0 || ::bind(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr)) {
            setError(error, QStringLiteral("cannot bind the UDP port the receiver relays to"));
            if (socket >= 0)
                ::close(socket);
            return false;
        }
        reading_ = true;
        reader_ = std::thread([this, socket] { readUdp(socket); });
    }
    QStringList argv{QStringLiteral("ristreceiver"),
                     QStringLiteral("-i"),
                     QStringLiteral("rist://@127.0.0.1:%1").arg(port_),
                     QStringLiteral("-o"),
                     QStringLiteral("udp://127.0.0.1:%1").arg(udpPort_),
                     QStringLiteral("-p"),
                     QStringLiteral("1"),
                     QStringLiteral("-S"),
                     QStringLiteral("0")};
    if (!options_.secret.isEmpty())
        argv << QStringLiteral("-s") << options_.secret << QStringLiteral("-e")
             << QStringLiteral("128");
    if (!options_.username.isEmpty()) {
        const CommandResult line =
            runCommand({QStringLiteral("ristsrppasswd"), options_.username, options_.password},
                       kStartTimeoutMs);
        QFile srp(dir_.filePath(QStringLiteral("srp.txt")));
        if (line.exitCode != 0 || !srp.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            setError(error, QStringLiteral("ristsrppasswd failed: ") + QString::fromUtf8(line.err));
            return false;
        }
        srp.write(line.out);
        srp.close();
        argv << QStringLiteral("-F") << srp.fileName();
    }
    if (!process_.start(argv, dir_.filePath(QStringLiteral("rist.out")),
                        dir_.filePath(QStringLiteral("rist.log")))) {
        setError(error, QStringLiteral("ristreceiver could not be started"));
        return false;
    }
    if (!waitFor([this] { return !process_.running() || udpBound(port_); }, kStartTimeoutMs) ||
        !process_.running()) {
        setError(error, QStringLiteral("ristreceiver did not come up: ") + log());
        process_.stop(SIGTERM, kStopTimeoutMs);
        return false;
    }
    return true;
}

void RistReceiver::stop() {
    process_.stop(SIGTERM, kStopTimeoutMs);
}

bool RistReceiver::running() {
    return process_.running();
}

// --- PausableFolder ---

PausableFolder::~PausableFolder() {
    unmount();
}

bool PausableFolder::mount(QString* why) {
    const auto refuse = [&](const QString& reason) {
        if (why)
            *why = reason;
        unmount();
        return false;
    };
    if (!QFileInfo::exists(QStringLiteral("/dev/fuse")))
        return refuse(QStringLiteral("no /dev/fuse here: FUSE cannot be used"));
    // No caches: every call reaches the daemon, as a paused one must hold up.
    if (!daemon_.start({QStringLiteral("bindfs"), QStringLiteral("-f"), QStringLiteral("-o"),
                        QStringLiteral("attr_timeout=0,entry_timeout=0,negative_timeout=0"),
                        backing_.path(), mountPoint_.path()}))
        return refuse(QStringLiteral("bindfs cannot be started (package bindfs)"));
    mounted_ = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline && daemon_.running()) {
        QFile table(QStringLiteral("/proc/self/mountinfo"));
        if (table.open(QIODevice::ReadOnly) &&
            table.readAll().contains(" " + mountPoint_.path().toUtf8() + " "))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return refuse(QStringLiteral("bindfs did not mount a FUSE file system here"));
}

void PausableFolder::pause(std::chrono::milliseconds atMost) {
    resume();
    const pid_t pid = daemon_.pid();
    if (pid > 0 && ::kill(pid, SIGSTOP) == 0)
        resumer_.start({QStringLiteral("sh"), QStringLiteral("-c"),
                        QStringLiteral("sleep %1; kill -CONT %2")
                            .arg(static_cast<double>(atMost.count()) / 1000)
                            .arg(pid)});
}

void PausableFolder::resume() {
    resumer_.stop(SIGKILL, kStopTimeoutMs);
    if (daemon_.pid() > 0)
        ::kill(daemon_.pid(), SIGCONT);
}

void PausableFolder::unmount() {
    resume();
    if (!mounted_)
        return;
    mounted_ = false;
    if (runCommand({QStringLiteral("fusermount3"), QStringLiteral("-u"), mountPoint_.path()},
                   kStopTimeoutMs)
            .exitCode != 0)
        runCommand({QStringLiteral("umount"), QStringLiteral("-l"), mountPoint_.path()},
                   kStopTimeoutMs);
    daemon_.stop(SIGTERM, kStopTimeoutMs);
}

} // namespace relaycast::test
