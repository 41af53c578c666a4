// The service's database in an SQLite file of the data folder: the default for one
// service process.
#pragma once

#include "service/DatabaseConnection.h"

struct sqlite3;

namespace service {

class SqliteConnection : public DatabaseConnection {
public:
    SqliteConnection() = default;
    ~SqliteConnection() override;
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    // Opens (creating) the file. False with `why` set.
    bool Open(const std::string& path, std::string& why);

    DatabaseKind Kind() const override { return DatabaseKind::Sqlite; }
    std::unique_ptr<StatementBackend> Prepare(const char* sql) override;
    bool Exec(const char* sql, std::string& why) override;
    bool Begin() override;
    bool Commit() override;
    void Rollback() override;

private:
    sqlite3* db_ = nullptr;
};

}  // namespace service
