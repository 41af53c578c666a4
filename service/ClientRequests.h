// Answers the binary messages the desktop program posts to the service path: login,
// version check, reference update, book metadata and file uploads. Every body, however
// malformed, gets a reply: the client's reply forms on success, an "ERR:" text (or "0"
// for a refused login) otherwise.
#pragma once

#include "service/AccountStore.h"
#include "service/BookStore.h"
#include "service/ReferenceSync.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace service {

class ClientRequests {
public:
    ClientRequests(AccountStore& accounts, BookStore& books, ReferenceSync& reference, uint64_t latest_build);

    // The reply to one POST body from `address` (the peer's IP address).
    std::string Handle(std::string_view body, const std::string& address);

private:
    std::string Login(std::string_view payload, const std::string& address);
    std::string ReferenceUpdate(std::string_view payload);
    std::string Metadata(std::string_view payload, const std::string& address);
    std::string Upload(std::string_view body, const std::string& address);

    AccountStore& accounts_;
    BookStore& books_;
    ReferenceSync& reference_;
    uint64_t latest_build_;
};

// Gives a book with a blank title the PDF's file name (without ".pdf"), or "Untitled"
// when that is empty too. True when the title was changed.
bool SupplyTitle(BookMetadata& metadata);

}  // namespace service
