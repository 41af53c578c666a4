// Owners of libcurl handles; a handle (and the connections it keeps open between
// transfers) is released when its owner goes.
#pragma once

#include <curl/curl.h>

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
