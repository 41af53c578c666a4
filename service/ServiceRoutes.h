// The web addresses of the service and what answers each.
#pragma once

#include "service/AccountStore.h"
#include "service/BookPages.h"
#include "service/ClientRequests.h"
#include "service/RequestParsers.h"
#include "service/ServiceOptions.h"
#include "service/http/HttpMessage.h"

#include <string>

namespace service {

// Largest request body taken; a larger one is refused with 413 before it is read.
inline constexpr size_t kMaxBodyBytes = 1024 * 1024;

// The request headers through which the client quotes its login and announces the size
// of a file it uploads, and the answer headers of a login: the session key, and the
// largest chunk (KiB) the service takes. A login's answer also names the file encoding
// the service unpacks ("gzip"); an upload whose file data is packed says so in the same
// header, with the unpacked size in the file size header.
inline constexpr const char* kSessionHeader = "X-Vellumark-Session";
inline constexpr const char* kFileSizeHeader = "X-Vellumark-File-Size";
inline constexpr const char* kChunkHeader = "X-Vellumark-Chunk-KiB";
inline constexpr const char* kFileEncodingHeader = "X-Vellumark-File-Encoding";
// The id of a staged update: in the answer to the "stag" that began it, and in every
// "meta", "upld" and "comm" request that belongs to it.
inline constexpr const char* kUpdateHeader = "X-Vellumark-Update";
static_assert(kMaxChunkKiB * 1024 + 1024 <= kMaxBodyBytes, "a largest chunk with its header fields fits in a body");

class ServiceRoutes {
public:
    ServiceRoutes(const ServiceOptions& options, ClientRequests& requests, BookPages& pages, AccountStore& accounts);

    http::HttpResponse Handle(const http::HttpRequest& request);

    // The client's address: the peer's, or the one a trusted proxy names in X-Real-IP.
    std::string ClientAddress(const http::HttpRequest& request) const;

private:
    http::HttpResponse ClientMessage(const http::HttpRequest& request);
    http::HttpResponse CreateAccount(const http::HttpRequest& request);

    const ServiceOptions& options_;
    ClientRequests& requests_;
    BookPages& pages_;
    AccountStore& accounts_;
};

}  // namespace service
