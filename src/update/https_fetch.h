#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace relaycast {

// One GET over HTTPS, certificate and host name verified.
struct HttpsRequest {
    QString host;
    int port = 443;
    QString path;
    QString userAgent;
    // A certificate authority file trusted besides the system's own; empty for none.
    QString caFile;
    // Connect to this address instead of resolving `host`; empty to resolve it.
    QString connectAddress;
};

// Limits of a fetch. Name resolution, connecting and the TLS handshake share the connect limit;
// after that the request must be sent within the send limit, and no answer byte may be more than
// the receive limit apart.
inline constexpr int kFetchConnectTimeoutMs = 3000;
inline constexpr int kFetchSendTimeoutMs = 3000;
inline constexpr int kFetchReceiveTimeoutMs = 4000;
// Reading stops once this much is held; each read takes at most kFetchReadSize bytes.
inline constexpr int kFetchBodyLimit = 8192;
inline constexpr int kFetchReadSize = 1024;

// A blocking fetch that another thread can abort. The system's proxy settings apply.
class HttpsFetch {
public:
    virtual ~HttpsFetch() = default;

    // Runs one request on the calling thread and returns the body of a 200 answer: all of it,
    // what arrived before a failed read, or what was held once the body limit was reached (at
    // most kFetchBodyLimit + kFetchReadSize - 1 bytes). Empty for any other status, any failure
    // before the answer, and once cancelled.
    virtual QByteArray get(const HttpsRequest& request) = 0;

    // From any thread: a get in progress returns promptly and any later one at once. Permanent.
    virtual void cancel() = 0;
};

// The platform's fetch.
std::unique_ptr<HttpsFetch> createHttpsFetch();

} // namespace relaycast
