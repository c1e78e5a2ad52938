#include "update_servers.h"

#include "local_servers.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace relaycast::test {
namespace {

constexpr int kOpensslTimeoutMs = 20000;
constexpr int kStartTimeoutMs = 10000;
constexpr int kStopTimeoutMs = 5000;

QString readText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

void setError(QString* error, const QString& text) {
    if (error)
        *error = text;
}

bool runOpenssl(const QStringList& args, QString* error) {
    const CommandResult result =
        runCommand(QStringList{QStringLiteral("openssl")} + args, kOpensslTimeoutMs);
    if (result.started && !result.timedOut && result.exitCode == 0)
        return true;
    setError(error, QStringLiteral("openssl %1 failed: %2")
                        .arg(args.join(QLatin1Char(' ')), QString::fromUtf8(result.err)));
    return false;
}

} // namespace

// --- SilentListener ---

SilentListener::SilentListener() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int pipeFds[2] = {-1, -1};
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        ::close(fd);
        return;
    }
    fd_ = fd;
    port_ = ntohs(addr.sin_port);
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    thread_ = std::thread([this] { serve(); });
}

SilentListener::~SilentListener() {
    stop();
}

QByteArray SilentListener::received() const {
    std::lock_guard guard(lock_);
    return received_;
}

void SilentListener::serve() {
    std::vector<pollfd> fds{{wakeRead_, POLLIN, 0}, {fd_, POLLIN, 0}};
    for (;;) {
        if (::poll(fds.data(), fds.size(), -1) < 0)
            continue;
        if (fds[0].revents != 0)
            break;
        if (fds[1].revents & POLLIN) {
            const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                fds.push_back({client, POLLIN, 0});
                ++connections_;
            }
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents == 0 || fds[i].fd < 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                std::lock_guard guard(lock_);
                received_.append(buffer, static_cast<int>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1; // poll ignores negative descriptors
                ++closed_;
            }
        }
    }
    for (size_t i = 2; i < fds.size(); ++i)
        if (fds[i].fd >= 0)
            ::close(fds[i].fd);
}

void SilentListener::stop() {
    if (thread_.joinable()) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t written = ::write(wakeWrite_, &byte, 1);
        thread_.join();
    }
    for (int* fd : {&fd_, &wakeRead_, &wakeWrite_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

// --- TestAuthority ---

TestAuthority::TestAuthority() {
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary folder");
        return;
    }
    const QString config = dir_.filePath(QStringLiteral("ca.cnf"));
    // A configuration of our own, so the system's openssl.cnf cannot change the result.
    if (!writeBytes(config, "[req]\ndistinguished_name = dn\nx509_extensions = ca\n[dn]\n"
                            "[ca]\nbasicConstraints = critical, CA:TRUE\n"
                            "keyUsage = critical, keyCertSign, cRLSign\n"
                            "subjectKeyIdentifier = hash\n")) {
        error_ = QStringLiteral("cannot write the authority's configuration");
        return;
    }
    valid_ = runOpenssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-config"),
                         config, QStringLiteral("-newkey"), QStringLiteral("ec"),
                         QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:P-256"),
                         QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"),
                         QStringLiteral("-subj"), QStringLiteral("/CN=Relaycast Test Authority"),
                         QStringLiteral("-keyout"), dir_.filePath(QStringLiteral("ca.key")),
                         QStringLiteral("-out"), caFile()},
                        &error_);
}

QString TestAuthority::caFile() const {
    return dir_.filePath(QStringLiteral("ca.pem"));
}

std::pair<QString, QString> TestAuthority::issue(const QString& hostName) {
    if (!valid_)
        return {};
    const QString base = dir_.filePath(QStringLiteral("server%1").arg(++issued_));
    const QString key = base + QStringLiteral(".key");
    const QString request = base + QStringLiteral(".csr");
    const QString cert = base + QStringLiteral(".pem");
    const QString extensions = base + QStringLiteral(".ext");
    if (!writeBytes(extensions, QStringLiteral("subjectAltName = DNS:%1\n"
                                               "basicConstraints = CA:FALSE\n"
                                               "keyUsage = critical, digitalSignature\n"
                                               "extendedKeyUsage = serverAuth\n")
                                    .arg(hostName)
                                    .toUtf8())) {
        error_ = QStringLiteral("cannot write the certificate extensions");
        return {};
    }
    const QString config = dir_.filePath(QStringLiteral("ca.cnf"));
    if (!runOpenssl({QStringLiteral("req"), QStringLiteral("-new"), QStringLiteral("-config"),
                     config, QStringLiteral("-newkey"), QStringLiteral("ec"),
                     QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:P-256"),
                     QStringLiteral("-nodes"), QStringLiteral("-subj"),
                     QStringLiteral("/CN=") + hostName, QStringLiteral("-keyout"), key,
                     QStringLiteral("-out"), request},
                    &error_) ||
        !runOpenssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), request,
                     QStringLiteral("-CA"), caFile(), QStringLiteral("-CAkey"),
                     dir_.filePath(QStringLiteral("ca.key")), QStringLiteral("-set_serial"),
                     QString::number(1000 + issued_), QStringLiteral("-days"), QStringLiteral("2"),
                     QStringLiteral("-extfile"), extensions, QStringLiteral("-out"), cert},
                    &error_))
        return {};
    return {key, cert};
}

// --- UpdateServer ---

UpdateServer::UpdateServer(UpdateServerOptions options)
    : options_(std::move(options)), port_(freePort()) {}

UpdateServer::~UpdateServer() {
    stop();
}

UpdateEndpoint UpdateServer::endpoint() const {
    UpdateEndpoint endpoint;
    endpoint.port = port_;
    endpoint.caFile = caFile();
    endpoint.connectAddress = QStringLiteral("127.0.0.1");
    return endpoint;
}

void UpdateServer::setManifest(const QByteArray& body) {
    // Written aside and renamed, so a request never sees half a file.
    const QString path = dir_.filePath(QStringLiteral("www/relaycast/version.json"));
    const QString partial = path + QStringLiteral(".part");
    writeBytes(partial, body);
    ::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData());
}

void UpdateServer::removeManifest() {
    QFile::remove(dir_.filePath(QStringLiteral("www/relaycast/version.json")));
}

QStringList UpdateServer::requests() const {
    return readText(dir_.filePath(QStringLiteral("access.log")))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList UpdateServer::waitForRequests(int count, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    QStringList logged = requests();
    while (logged.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        logged = requests();
    }
    return logged;
}

QList<qint64> UpdateServer::waitForBytesSent(int count, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    QStringList lines;
    for (;;) {
        lines = readText(dir_.filePath(QStringLiteral("transfers.log")))
                    .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (lines.size() >= count || std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    QList<qint64> sent;
    for (const QString& line : lines)
        sent << line.toLongLong();
    return sent;
}

QString UpdateServer::errorLog() const {
    return readText(dir_.filePath(QStringLiteral("error.log")));
}

bool UpdateServer::writeConfig(const QString& keyFile, const QString& certFile, QString* error) {
    const QString d = dir_.path();
    QFile file(dir_.filePath(QStringLiteral("nginx.conf")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        setError(error, QStringLiteral("cannot write nginx.conf"));
        return false;
    }
    QTextStream c(&file);
    c << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
      << "error_log " << d << "/error.log info;\n"
      << "pid " << d << "/nginx.pid;\n"
      << "events { worker_connections 64; }\n"
      << "http {\n"
      << "  log_format requests '$request|$status|$http_user_agent|$http_host';\n"
      << "  access_log " << d << "/access.log requests;\n"
      << "  log_format transfers '$bytes_sent';\n"
      << "  access_log " << d << "/transfers.log transfers;\n";
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        c << "  " << temp << "_temp_path " << d << "/" << temp << ";\n";
    c << "  server {\n"
      << "    listen 127.0.0.1:" << port_ << " ssl;\n"
      << "    ssl_certificate " << certFile << ";\n"
      << "    ssl_certificate_key " << keyFile << ";\n"
      << "    root " << d << "/www;\n"
      << "    default_type application/json;\n"
      << "    location / {\n";
    if (options_.fixedStatus != 0)
        c << "      return " << options_.fixedStatus << " '" << options_.fixedBody << "';\n";
    else if (options_.backendPort != 0)
        c << "      proxy_pass http://127.0.0.1:" << options_.backendPort << ";\n"
          << "      proxy_read_timeout 300s;\n";
    c << "    }\n  }\n}\n";
    return true;
}

bool UpdateServer::start(QString* error) {
    if (process_.running())
        return true;
    if (!dir_.isValid() || port_ == 0) {
        setError(error, QStringLiteral("no temporary folder or free port"));
        return false;
    }
    if (!authority_.valid()) {
        setError(error, authority_.error());
        return false;
    }
    const auto [keyFile, certFile] = authority_.issue(options_.certificateName);
    if (keyFile.isEmpty()) {
        setError(error, authority_.error());
        return false;
    }
    QDir(dir_.path()).mkpath(QStringLiteral("www/relaycast"));
    if (!writeConfig(keyFile, certFile, error))
        return false;
    const QString d = dir_.path();
    if (!process_.start({QStringLiteral("nginx"), QStringLiteral("-p"), d + QLatin1Char('/'),
                         QStringLiteral("-e"), d + QStringLiteral("/error.log"),
                         QStringLiteral("-c"), d + QStringLiteral("/nginx.conf")},
                        d + QStringLiteral("/stdout.log"), d + QStringLiteral("/stderr.log"))) {
        setError(error, QStringLiteral("nginx could not be started"));
        return false;
    }
    if (!waitForTcpListener(port_, kStartTimeoutMs) || !process_.running()) {
        setError(error, QStringLiteral("nginx did not come up: ") + errorLog() +
                            readText(d + QStringLiteral("/stderr.log")));
        process_.stop(SIGTERM, kStopTimeoutMs);
        return false;
    }
    return true;
}

void UpdateServer::stop() {
    process_.stop(SIGTERM, kStopTimeoutMs);
}

QByteArray manifestBody(const QString& version, const QString& url) {
    return QStringLiteral("{\n  \"version\": \"%1\",\n  \"url\": \"%2\"\n}\n")
        .arg(version, url)
        .toUtf8();
}

} // namespace relaycast::test
