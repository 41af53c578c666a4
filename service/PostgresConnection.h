// The service's database on a PostgreSQL server (libpq), shared by every service
// process that names the same URL. A lost connection is opened again before the next
// statement that runs outside a transaction.
#pragma once

#include "service/DatabaseConnection.h"

typedef struct pg_conn PGconn;

namespace service {

class PostgresConnection : public DatabaseConnection {
public:
    PostgresConnection() = default;
    ~PostgresConnection() override;
    PostgresConnection(const PostgresConnection&) = delete;
    PostgresConnection& operator=(const PostgresConnection&) = delete;

    // Connects to `url` (postgresql://...). False with `why` set.
    bool Open(const std::string& url, std::string& why);

    DatabaseKind Kind() const override { return DatabaseKind::Postgres; }
    std::unique_ptr<StatementBackend> Prepare(const char* sql) override;
    bool Exec(const char* sql, std::string& why) override;
    bool Begin() override;
    bool Commit() override;
    void Rollback() override;

    // Connects again when the server dropped the connection; false when it cannot.
    // Within a transaction it does not: the transaction is lost and its Commit fails.
    bool EnsureConnected();

private:
    // Runs one statement without parameters; true when the server answered `tag`.
    bool Command(const char* sql, const char* tag);

    PGconn* conn_ = nullptr;
    bool in_transaction_ = false;
};

// True when `target` names a PostgreSQL database rather than an SQLite file.
bool IsPostgresUrl(const std::string& target);

// `sql` with each ?N placeholder written $N, as PostgreSQL takes them.
std::string PostgresPlaceholders(const char* sql);

}  // namespace service
