// The service's own SQLite database (accounts, login sessions, books) in the data
// folder. One connection shared by every request thread; callers hold Lock() while
// they use it, so statements never interleave.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace service {

class ServiceDatabase {
public:
    ServiceDatabase() = default;
    ~ServiceDatabase();
    ServiceDatabase(const ServiceDatabase&) = delete;
    ServiceDatabase& operator=(const ServiceDatabase&) = delete;

    // Opens (creating) the database file and its tables. False with `why` set.
    bool Open(const std::string& path, std::string& why);

    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(mutex_); }
    sqlite3* Handle() { return db_; }

private:
    sqlite3* db_ = nullptr;
    std::mutex mutex_;
};

// A prepared statement, finalized when it goes. Ok() is false when preparing failed
// (the database's message is logged).
class Statement {
public:
    Statement(sqlite3* db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return stmt_ != nullptr; }
    Statement& Bind(int index, int64_t value);
    Statement& Bind(int index, std::string_view text);
    // True when a row is ready; false at the end or on an error.
    bool Step();
    // True when the statement ran to its end without error.
    bool Run();
    int64_t Int(int column) const;
    std::string Text(int column) const;

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    int last_ = 0;
};

}  // namespace service
