#include "publish/FetchUrlText.h"

#include "config/DiagLog.h"
#include "publish/CurlEasy.h"

namespace {
constexpr const char* kModule = "Upload";
constexpr size_t kMaxText = 4u * 1024 * 1024;
}  // namespace

std::string FetchUrlText(const std::string& url, int32_t timeout_ms) {
    EnsureCurlGlobalInit();
    CurlEasy handle(curl_easy_init());
    if (!handle) return {};
    CURL* h = handle.get();
    BoundedText page;
    page.limit = kMaxText;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    // Never a local file or another protocol, also not through a redirect.
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Vellumark");
    UseConfiguredAuthorities(h);
    // One limit for the whole fetch, redirects included.
    ApplyLimits(h, LimitsFor(timeout_ms, 0));
    // An error page is not the notice that was asked for.
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, CollectBoundedText);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &page);
    const CURLcode code = curl_easy_perform(h);
    if (code != CURLE_OK) {
        DiagLog::Instance().SetLastServerResponse(curl_easy_strerror(code));
        DIAG(kModule, 12003, "INF:cannot fetch a page");
        return {};
    }
    return page.text;
}
