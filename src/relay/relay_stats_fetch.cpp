#include "relay/relay_stats_fetch.h"

#include "module/ui_text.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace relaycast {
namespace {

size_t keep(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<std::string*>(user);
    const size_t bytes = size * count;
    if (body->size() + bytes > kRelayStatsBodyLimit)
        return 0; // ends the transfer
    body->append(data, bytes);
    return bytes;
}

} // namespace

void prepareRelayStatsFetch() {
    // Never cleaned up: the host and our update check use libcurl too, and it counts its inits.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

RelayStatsPage fetchRelayStatsPage(const std::string& url) {
    RelayStatsPage page;
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                                   curl_easy_cleanup);
    if (!curl) {
        page.curlCode = CURLE_FAILED_INIT;
        return page;
    }
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, long(kRelayStatsTimeoutMs));
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, keep);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &page.body);
    page.curlCode = curl_easy_perform(curl.get());
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &page.httpStatus);
    page.ok = page.curlCode == CURLE_OK && page.httpStatus == 200;
    if (!page.ok)
        page.body.clear();
    return page;
}

QString relayStatsPageError(const RelayStatsPage& page) {
    if (page.ok)
        return {};
    if (page.curlCode != CURLE_OK)
        return uiText("el relé no responde (%1)")
            .arg(QString::fromUtf8(curl_easy_strerror(CURLcode(page.curlCode))));
    return uiText("el relé responde %1 en su página de estadísticas").arg(page.httpStatus);
}

} // namespace relaycast
