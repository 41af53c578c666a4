// The service's own database (accounts, login sessions, login throttles, books, open
// updates): an SQLite file in the data folder by default, or a PostgreSQL database that
// several service processes share. One connection per process, shared by every request
// thread; callers hold Lock() while they use it, so statements never interleave.
#pragma once

#include "service/DatabaseConnection.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace service {

class ServiceDatabase {
public:
    ServiceDatabase() = default;
    ServiceDatabase(const ServiceDatabase&) = delete;
    ServiceDatabase& operator=(const ServiceDatabase&) = delete;

    // Opens `target`, a postgresql:// URL or the path of an SQLite file (created), and
    // creates or upgrades its tables. False with `why` set.
    bool Open(const std::string& target, std::string& why);

    DatabaseKind Kind() const { return connection_->Kind(); }
    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(mutex_); }
    DatabaseConnection& Connection() { return *connection_; }

    // A transaction, under Lock().
    bool Begin() { return connection_->Begin(); }
    bool Commit() { return connection_->Commit(); }
    void Rollback() { connection_->Rollback(); }
    // Within a transaction: waits until no other transaction of any service process
    // holds `name`, and holds it until the end of this one. An SQLite transaction has
    // the whole database to itself already.
    bool LockNameForTransaction(const std::string& name);
    // Holds `name` for this process until Release, when no other service process holds
    // it; false at once when one does. Always true on SQLite, which one process uses.
    bool TryHold(const std::string& name);
    void Release(const std::string& name);

private:
    std::unique_ptr<DatabaseConnection> connection_;
    std::mutex mutex_;
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
