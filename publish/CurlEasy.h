// Owners of libcurl handles; a handle (and the connections it keeps open between
// transfers) is released when its owner goes. Also the settings every client handle
// shares: the deadlines of one exchange and the certificate authorities it trusts.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <memory>
#include <string>

// Initialises libcurl once for the process, before the first handle is made.
void EnsureCurlGlobalInit();

struct CurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlMultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;

struct CurlSlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;

// The deadlines of one client exchange (one HTTP request with its reply, one FTP command
// or transfer), all derived from the configured network time-out T (`net_timeout_ms`):
// - connecting may take T;
// - no progress: moving fewer than 256 bytes a second (sent and received alike) for
//   T, plus the time a slow line (1 KiB a second, below any real uplink) needs for what
//   may still be on its way after it left this computer (the body, at most 64 KiB of
//   it), ends the exchange; a peer that answers 2 bytes a second is cut off after
//   about T (after T + 48 s when it answers a 48 KiB chunk so);
// - in total an exchange may last 4 T plus the time that slow line needs for the whole
//   body, however steadily the peer trickles.
// An exchange cut off by either limit fails with CURLE_OPERATION_TIMEDOUT, as a silent
// connection does, so the callers' retries and waits apply.
struct ExchangeLimits {
    long connect_ms = 0;
    long min_bytes_per_second = 0;
    long stall_seconds = 0;  // also the longest wait for an FTP server's reply
    long total_ms = 0;
};

// T below 1 s counts as 1 s, above 10 minutes as 10 minutes, 0 or less as 30 s.
int32_t NetTimeoutMs(int32_t configured);
ExchangeLimits LimitsFor(int32_t net_timeout_ms, int64_t body_bytes);
void ApplyLimits(CURL* handle, const ExchangeLimits& limits);

// Certificates are always checked (libcurl's default, never turned off). When the
// environment variable SSL_CERT_FILE names a file, that file is the bundle of trusted
// authorities (the usual OpenSSL convention): an administrator can trust a private
// authority that way. Every client handle calls this once after it is made.
void UseConfiguredAuthorities(CURL* handle);

// Text received through a libcurl write callback (CollectBoundedText with this object as
// its data); a transfer that would pass `limit` bytes fails instead of growing without end.
struct BoundedText {
    std::string text;
    size_t limit = 0;
};

inline size_t CollectBoundedText(char* data, size_t size, size_t count, void* user) {
    auto* out = static_cast<BoundedText*>(user);
    const size_t bytes = size * count;
    if (out->text.size() + bytes > out->limit) return 0;
    out->text.append(data, bytes);
    return bytes;
}
