// A PostgreSQL server of the test's own: Debian's postgresql-15 run as the postgres
// user on a free port, its data and socket in a temporary folder, started once per test
// process when first asked for and stopped when the process ends (or, should it die,
// by a watcher that notices). Each test takes a fresh database of it, so tests share
// nothing.
#pragma once

#include <string>

// Why this machine cannot run the test server (postgresql-15 missing, not root);
// empty when it can.
std::string PostgresUnavailable();

// A postgresql:// URL of a new, empty database on this process's server; empty (with
// `why` set) when the server cannot be started.
std::string NewPostgresDatabase(std::string& why);

// The server the tests start skips flushing to the disk (fsync off), which is safe for
// data that ends with the test and makes it much faster. A benchmark that compares it
// with SQLite asks for a durable server instead, before its first database.
void UseDurablePostgres();

// True when the service tests run against PostgreSQL (VELLUMARK_TEST_DATABASE=postgresql),
// the tests being registered a second time for it.
bool TestsUsePostgres();

// Where a service test keeps its database: a new PostgreSQL database when the tests run
// against PostgreSQL, else `sqlite_file`. Empty (with `why` set) when none can be had.
std::string TestDatabaseTarget(const std::string& sqlite_file, std::string& why);
