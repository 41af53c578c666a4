// Owners of libcurl handles; a handle (and the connections it keeps open between
// transfers) is released when its owner goes.
#pragma once

#include <curl/curl.h>

#include <memory>

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
