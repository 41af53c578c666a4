// One connection to the service's database, whichever kind it is: the statements the
// stores run go through this interface, so SQLite and PostgreSQL take the same SQL
// (with ?N placeholders, which a PostgreSQL connection turns into $N).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace service {

enum class DatabaseKind { Sqlite, Postgres };

// One statement on its connection. Ok() is false when preparing it failed.
class StatementBackend {
public:
    virtual ~StatementBackend() = default;
    virtual bool Ok() const = 0;
    virtual void Bind(int index, int64_t value) = 0;
    virtual void Bind(int index, std::string_view text) = 0;
    virtual void BindNull(int index) = 0;
    // True when a row is ready; false at the end or on an error.
    virtual bool Step() = 0;
    // True when the statement ran to its end without error.
    virtual bool Run() = 0;
    virtual int64_t Int(int column) const = 0;
    virtual std::string Text(int column) const = 0;
    virtual bool IsNull(int column) const = 0;
};

class DatabaseConnection {
public:
    virtual ~DatabaseConnection() = default;
    virtual DatabaseKind Kind() const = 0;
    virtual std::unique_ptr<StatementBackend> Prepare(const char* sql) = 0;
    // Runs a script of statements without parameters; false with `why` set.
    virtual bool Exec(const char* sql, std::string& why) = 0;
    // A transaction: its writes take effect together at Commit, or none of them.
    // Commit is false when they did not take effect.
    virtual bool Begin() = 0;
    virtual bool Commit() = 0;
    virtual void Rollback() = 0;
};

}  // namespace service
