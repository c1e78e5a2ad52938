// The update answer on arbitrary bodies: an offer is made only for a newer version and an
// accepted download address, both trimmed; a body cut at the fetch's limit is handled alike.

#include "update/https_fetch.h"
#include "update/update_endpoint.h"
#include "update/update_manifest.h"
#include "update/version_rules.h"

#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>

using namespace relaycast;

namespace {

void checkOffer(const QByteArray& body) {
    const QString own = QStringLiteral("1.0.3");
    const QString host = QString::fromLatin1(kUpdateHost);
    const auto offer = readUpdateOffer(body, own, host);
    if (!offer)
        return;
    FUZZ_CHECK(offer->version == offer->version.trimmed());
    FUZZ_CHECK(offer->url == offer->url.trimmed());
    FUZZ_CHECK(isNewerVersion(offer->version, own));
    FUZZ_CHECK(offer->url.startsWith(QStringLiteral("https://") + host + QLatin1Char('/')));
    for (QChar c : offer->url)
        FUZZ_CHECK(!c.isSpace());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body(reinterpret_cast<const char*>(data), static_cast<int>(size));
    checkOffer(body);
    if (body.size() > kFetchBodyLimit)
        checkOffer(body.left(kFetchBodyLimit));
    return 0;
}
