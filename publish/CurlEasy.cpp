#include "publish/CurlEasy.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>

namespace {
constexpr int32_t kDefaultTimeoutMs = 30000;
constexpr int32_t kShortestTimeoutMs = 1000;
constexpr int32_t kLongestTimeoutMs = 600000;
// Slower than this for the whole stall window counts as no progress.
constexpr long kMinBytesPerSecond = 256;
// The line the allowances are made for: 8 kbit/s, slower than any real uplink.
constexpr int64_t kSlowLineBytesPerSecond = 1024;
// What may sit in the system's buffers and on the line after it was handed over.
constexpr int64_t kInFlightBytes = 64 * 1024;
// A bound for bodies so large that the total would not fit a long.
constexpr int64_t kLongestTotalMs = 7LL * 24 * 3600 * 1000;
}  // namespace

void EnsureCurlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

int32_t NetTimeoutMs(int32_t configured) {
    if (configured <= 0) return kDefaultTimeoutMs;
    return std::clamp(configured, kShortestTimeoutMs, kLongestTimeoutMs);
}

ExchangeLimits LimitsFor(int32_t net_timeout_ms, int64_t body_bytes) {
    const int64_t t = NetTimeoutMs(net_timeout_ms);
    const int64_t body = std::max<int64_t>(body_bytes, 0);
    const int64_t in_flight_ms = std::min(body, kInFlightBytes) * 1000 / kSlowLineBytesPerSecond;
    const int64_t body_ms = std::min(body, kLongestTotalMs / 1000 * kSlowLineBytesPerSecond) * 1000 /
                            kSlowLineBytesPerSecond;
    ExchangeLimits limits;
    limits.connect_ms = static_cast<long>(t);
    limits.min_bytes_per_second = kMinBytesPerSecond;
    limits.stall_seconds = static_cast<long>((t + in_flight_ms + 999) / 1000);
    limits.total_ms = static_cast<long>(std::min(4 * t + body_ms, kLongestTotalMs));
    return limits;
}

void ApplyLimits(CURL* handle, const ExchangeLimits& limits) {
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, limits.connect_ms);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, limits.min_bytes_per_second);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, limits.stall_seconds);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, limits.total_ms);
}

void UseConfiguredAuthorities(CURL* handle) {
    const char* bundle = std::getenv("SSL_CERT_FILE");
    struct stat info {};
    if (bundle && *bundle && stat(bundle, &info) == 0 && S_ISREG(info.st_mode))
        curl_easy_setopt(handle, CURLOPT_CAINFO, bundle);
}
