// Moves a service from its SQLite file to a PostgreSQL database: every row of the
// service's tables (accounts, sessions, login throttles and sign-ups, books, open
// updates and their staged metadata) is copied in one transaction, so the database
// gets all of them or none.
#pragma once

#include "service/ServiceDatabase.h"

#include <string>

namespace service {

// Copies `from` into `to`, which must hold no account yet. `summary` tells how many
// rows of each table were copied. False with `why` set.
bool CopyDatabase(ServiceDatabase& from, ServiceDatabase& to, std::string& summary, std::string& why);

}  // namespace service
