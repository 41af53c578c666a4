// Brings a client's reference database (categories and subcategories) to the service's
// own: from the ids the client reports, makes SQL that deletes the rows the service does
// not have, updates the ones both have and inserts the ones the client lacks. Only
// INSERT, UPDATE and DELETE statements on the two tables, since the client runs the
// text under an authorizer that allows nothing else.
#pragma once

#include "service/RequestParsers.h"

#include <mutex>
#include <string>

struct sqlite3;

namespace service {

class ReferenceSync {
public:
    ReferenceSync() = default;
    ~ReferenceSync();
    ReferenceSync(const ReferenceSync&) = delete;
    ReferenceSync& operator=(const ReferenceSync&) = delete;

    // Opens the service's reference database read-only; false with `why` set when it
    // cannot be opened or has no category tables.
    bool Open(const std::string& path, std::string& why);

    // The SQL text for a client holding `ids`; false when the database cannot be read.
    bool BuildUpdate(const ReferenceIds& ids, std::string& sql);

private:
    sqlite3* db_ = nullptr;
    std::mutex mutex_;
};

}  // namespace service
