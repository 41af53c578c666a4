// The service's own database (accounts, login sessions, login throttles, books, open
// updates): an SQLite file in the data folder by default, or a PostgreSQL database that
// several service processes share. A thread holds Lock() while it runs statements: it
// then has a connection to itself, so its statements (and transactions) never
// interleave with another thread's. An SQLite file has one connection, which the request
// threads take in turn; PostgreSQL has a few, since each statement waits for the server.
#pragma once

#include "service/DatabaseConnection.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace service {

class ServiceDatabase;

// A connection of the database held by this thread until the object goes.
class DatabaseLock {
public:
    DatabaseLock(ServiceDatabase& db, DatabaseConnection& connection);
    ~DatabaseLock();
    DatabaseLock(DatabaseLock&& other) noexcept;
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;
    DatabaseLock& operator=(DatabaseLock&&) = delete;

private:
    ServiceDatabase* db_;
    DatabaseConnection* connection_;
};

class ServiceDatabase {
public:
    // Connections to a PostgreSQL database per service process.
    static constexpr size_t kPostgresConnections = 4;

    ServiceDatabase() = default;
    ServiceDatabase(const ServiceDatabase&) = delete;
    ServiceDatabase& operator=(const ServiceDatabase&) = delete;

    // Opens `target`, a postgresql:// URL or the path of an SQLite file (created), and
    // creates or upgrades its tables. False with `why` set.
    bool Open(const std::string& target, std::string& why);

    DatabaseKind Kind() const { return pool_.front()->Kind(); }
    // Waits for a free connection and gives it to this thread.
    DatabaseLock Lock();
    // The connection this thread's Lock() holds.
    DatabaseConnection& Connection();

    // A transaction, under Lock().
    bool Begin() { return Connection().Begin(); }
    bool Commit() { return Connection().Commit(); }
    void Rollback() { Connection().Rollback(); }
    // Within a transaction: waits until no other transaction of any service process
    // holds `name`, and holds it until the end of this one. An SQLite transaction has
    // the whole database to itself already.
    bool LockNameForTransaction(const std::string& name);
    // Holds `name` for this process until Release, when no other service process holds
    // it; false at once when one does. Always true on SQLite, which one process uses.
    // Not under Lock(): the names are held on a connection of their own, which they
    // need to stay on until they are released.
    bool TryHold(const std::string& name);
    void Release(const std::string& name);

private:
    friend class DatabaseLock;
    void Give(DatabaseConnection& connection);
    bool Hold(const char* sql, const std::string& name);

    std::vector<std::unique_ptr<DatabaseConnection>> pool_;
    std::vector<DatabaseConnection*> free_;
    std::mutex mutex_;
    std::condition_variable freed_;
    std::unique_ptr<DatabaseConnection> names_;  // PostgreSQL: holds the names of TryHold
    std::mutex names_mutex_;
};

// A prepared statement of the database, its placeholders ?1, ?2, ... Ok() is false when
// preparing failed (the database's message is logged).
class Statement {
public:
    Statement(ServiceDatabase& db, const char* sql) : impl_(db.Connection().Prepare(sql)) {}

    bool Ok() const { return impl_->Ok(); }
    Statement& Bind(int index, int64_t value) {
        impl_->Bind(index, value);
        return *this;
    }
    Statement& Bind(int index, std::string_view text) {
        impl_->Bind(index, text);
        return *this;
    }
    Statement& BindNull(int index) {
        impl_->BindNull(index);
        return *this;
    }
    // True when a row is ready; false at the end or on an error.
    bool Step() { return impl_->Step(); }
    // True when the statement ran to its end without error.
    bool Run() { return impl_->Run(); }
    int64_t Int(int column) const { return impl_->Int(column); }
    std::string Text(int column) const { return impl_->Text(column); }
    bool IsNull(int column) const { return impl_->IsNull(column); }

private:
    std::unique_ptr<StatementBackend> impl_;
};

// INSERT of `columns` (the first one the key) taking `source` ("VALUES (...)" or a
// SELECT); a row of the same key is replaced.
std::string UpsertSql(const std::string& table, const std::string& columns, const std::string& source);

}  // namespace service
