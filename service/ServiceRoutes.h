// The web addresses of the service and what answers each.
#pragma once

#include "service/AccountStore.h"
#include "service/BookPages.h"
#include "service/ClientRequests.h"
#include "service/ServiceOptions.h"

namespace httplib {
class Server;
}

namespace service {

// Largest request body taken; a larger one is refused with 413 before it is read.
inline constexpr size_t kMaxBodyBytes = 1024 * 1024;

void InstallRoutes(httplib::Server& server, const ServiceOptions& options, ClientRequests& requests,
                   BookPages& pages, AccountStore& accounts);

}  // namespace service
