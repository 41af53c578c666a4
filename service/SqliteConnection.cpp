#include "service/SqliteConnection.h"

#include "config/DiagLog.h"

#include <sqlite3.h>

namespace service {
namespace {

constexpr const char* kModule = "ServiceDatabase";

class SqliteStatement : public StatementBackend {
public:
    SqliteStatement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
            DIAG(kModule, 0, "ERR:SQL error: %s", sqlite3_errmsg(db));
            stmt_ = nullptr;
        }
    }
    ~SqliteStatement() override {
        if (stmt_) sqlite3_finalize(stmt_);
    }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    bool Ok() const override { return stmt_ != nullptr; }
    void Bind(int index, int64_t value) override {
        if (stmt_) sqlite3_bind_int64(stmt_, index, value);
    }
    void Bind(int index, std::string_view text) override {
        if (stmt_) sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void BindNull(int index) override {
        if (stmt_) sqlite3_bind_null(stmt_, index);
    }
    bool IsNull(int column) const override { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    bool Step() override {
        if (!stmt_) return false;
        last_ = sqlite3_step(stmt_);
        if (last_ != SQLITE_ROW && last_ != SQLITE_DONE) DIAG(kModule, 0, "ERR:SQL error: %s", sqlite3_errmsg(db_));
        return last_ == SQLITE_ROW;
    }
    bool Run() override {
        while (Step()) {
        }
        return last_ == SQLITE_DONE;
    }
    int64_t Int(int column) const override { return sqlite3_column_int64(stmt_, column); }
    std::string Text(int column) const override {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
    }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    int last_ = 0;
};

}  // namespace

SqliteConnection::~SqliteConnection() {
    if (db_) sqlite3_close(db_);
}

bool SqliteConnection::Open(const std::string& path, std::string& why) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        why = "cannot open " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    return Exec("PRAGMA journal_mode = WAL; PRAGMA foreign_keys = ON;", why);
}

std::unique_ptr<StatementBackend> SqliteConnection::Prepare(const char* sql) {
    return std::make_unique<SqliteStatement>(db_, sql);
}

bool SqliteConnection::Exec(const char* sql, std::string& why) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) == SQLITE_OK) return true;
    why = error ? error : "unknown error";
    sqlite3_free(error);
    return false;
}

// Immediate: the writer's lock is taken at the start, so a transaction that reads and
// then writes is never turned away half-way by another writer.
bool SqliteConnection::Begin() { return SqliteStatement(db_, "BEGIN IMMEDIATE").Run(); }

bool SqliteConnection::Commit() { return SqliteStatement(db_, "COMMIT").Run(); }

void SqliteConnection::Rollback() { SqliteStatement(db_, "ROLLBACK").Run(); }

}  // namespace service
