// Bringing the local reference database (categories and places) up to date with the
// changes the publishing web service sends as SQL statements.
#pragma once

#include <atomic>
#include <string>

struct sqlite3;

// Set while a reference update exchanges with the service and writes the database;
// cleared when it ends, however it ends. The main window defers quitting while it is set.
inline std::atomic<bool> g_reference_db_updating{false};

// Runs `sql` on the database file of `db` in one transaction, on a connection of its
// own: either every statement takes effect or none. Only inserts, updates and deletes
// of the reference tables (and the reads they need) are allowed; any other statement
// (schema changes, pragmas, attaching files, other tables, transaction control) is
// refused and rolls the whole update back. So is an update that crosses the bounds of
// what reference tables need: more SQL text, a longer value or row, more rows in a
// table, a larger file or a longer run than a real update comes near (the figures are
// in ReferenceUpdate.cpp). False, logged with the reason, when nothing was applied.
bool ApplyReferenceSql(sqlite3* db, const std::string& sql);
