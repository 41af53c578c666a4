#include "bench/publish/ExchangeTimes.h"

#include <chrono>
#include <curl/curl.h>
#include <mutex>

namespace {
std::mutex times_mutex;
std::vector<Exchange> times;
}  // namespace

// The linker sends the library's calls of curl_easy_perform here (--wrap), and the
// name __real_curl_easy_perform to libcurl's own function.
extern "C" CURLcode __real_curl_easy_perform(CURL* handle);

extern "C" CURLcode __wrap_curl_easy_perform(CURL* handle) {
    const auto start = std::chrono::steady_clock::now();
    const CURLcode code = __real_curl_easy_perform(handle);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    curl_off_t sent = 0;
    curl_easy_getinfo(handle, CURLINFO_SIZE_UPLOAD_T, &sent);
    std::lock_guard<std::mutex> guard(times_mutex);
    times.push_back(Exchange{seconds, static_cast<int64_t>(sent)});
    return code;
}

std::vector<Exchange> Exchanges() {
    std::lock_guard<std::mutex> guard(times_mutex);
    return times;
}
