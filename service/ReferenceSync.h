// The reference data (categories and subcategories) the service hands its clients,
// kept in the service's database so that every service process answers alike. It is
// loaded from a reference file (an SQLite database of the client's form): the shipped
// one when the database has none yet, or the one the host names, which then replaces
// what the database held.
//
// Brings a client's reference database to the service's own: from the ids the client
// reports, makes SQL that deletes the rows the service does not have, updates the ones
// both have and inserts the ones the client lacks. Only INSERT, UPDATE and DELETE
// statements on the two tables, since the client runs the text under an authorizer
// that allows nothing else.
#pragma once

#include "service/RequestParsers.h"
#include "service/ServiceDatabase.h"

#include <string>

namespace service {

class ReferenceSync {
public:
    explicit ReferenceSync(ServiceDatabase& db) : db_(db) {}

    // Loads the reference file at `path` into the database when `replace` is set or the
    // database holds no reference data yet. False with `why` set when the file cannot
    // be opened or has no category tables.
    bool Load(const std::string& path, bool replace, std::string& why);

    // The SQL text for a client holding `ids`; false when the database cannot be read.
    bool BuildUpdate(const ReferenceIds& ids, std::string& sql);

private:
    ServiceDatabase& db_;
};

}  // namespace service
