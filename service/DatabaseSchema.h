// The service's tables, the same on SQLite and PostgreSQL: created on a new database,
// and a database of an older service brought up to them with its rows kept. The
// version the tables are at is kept in schema_version.
#pragma once

#include "service/DatabaseConnection.h"

#include <string>

namespace service {

// The version of the tables this service makes.
inline constexpr int kSchemaVersion = 2;

// Creates or upgrades the tables. False with `why` set, also for a database made by a
// newer service.
bool PrepareSchema(DatabaseConnection& db, std::string& why);

}  // namespace service
