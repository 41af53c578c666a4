#include "service/ServiceDatabase.h"

#include "config/DiagLog.h"

#include <sqlite3.h>

namespace service {
namespace {

constexpr const char* kModule = "ServiceDatabase";

constexpr const char* kSchema = R"sql(
PRAGMA journal_mode = WAL;
PRAGMA foreign_keys = ON;
CREATE TABLE IF NOT EXISTS account (
  id       INTEGER PRIMARY KEY,
  email    TEXT NOT NULL UNIQUE COLLATE NOCASE,
  pwhash   TEXT NOT NULL,
  created  INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS session (
  token    INTEGER PRIMARY KEY,
  account  INTEGER NOT NULL REFERENCES account(id),
  address  TEXT NOT NULL,
  created  INTEGER NOT NULL,
  seq      INTEGER NOT NULL,
  keyhash  TEXT
);
CREATE INDEX IF NOT EXISTS session_address ON session (address, created);
CREATE TABLE IF NOT EXISTS book (
  key          TEXT PRIMARY KEY,
  owner        INTEGER NOT NULL REFERENCES account(id),
  title        TEXT NOT NULL,
  description  TEXT NOT NULL,
  tags         TEXT NOT NULL,
  pdf_name     TEXT NOT NULL,
  page_count   INTEGER NOT NULL,
  page_width   INTEGER NOT NULL,
  page_height  INTEGER NOT NULL,
  category     INTEGER NOT NULL,
  subcategory  INTEGER NOT NULL,
  country      INTEGER NOT NULL,
  state        INTEGER NOT NULL,
  city         INTEGER NOT NULL,
  pdf_size     INTEGER NOT NULL,
  cover_width  INTEGER NOT NULL,
  cover_height INTEGER NOT NULL,
  updated      INTEGER NOT NULL
);
-- The open staged update of a book, its files in books/.stage-KEY/: the update's id,
-- which its requests name, and when a request of it last came (for the expiry).
CREATE TABLE IF NOT EXISTS book_stage (
  key        TEXT PRIMARY KEY,
  owner      INTEGER NOT NULL REFERENCES account(id),
  started    INTEGER NOT NULL,
  update_id  TEXT,
  touched    INTEGER
);
-- Metadata sent during a staged update: it replaces the book's row when the update ends.
CREATE TABLE IF NOT EXISTS staged_book (
  key          TEXT PRIMARY KEY,
  owner        INTEGER NOT NULL REFERENCES account(id),
  title        TEXT NOT NULL,
  description  TEXT NOT NULL,
  tags         TEXT NOT NULL,
  pdf_name     TEXT NOT NULL,
  page_count   INTEGER NOT NULL,
  page_width   INTEGER NOT NULL,
  page_height  INTEGER NOT NULL,
  category     INTEGER NOT NULL,
  subcategory  INTEGER NOT NULL,
  country      INTEGER NOT NULL,
  state        INTEGER NOT NULL,
  city         INTEGER NOT NULL,
  pdf_size     INTEGER NOT NULL,
  cover_width  INTEGER NOT NULL,
  cover_height INTEGER NOT NULL,
  updated      INTEGER NOT NULL
);
)sql";

// Indexes on columns that a database made by an older service gains only when migrated.
constexpr const char* kLaterIndexes = R"sql(
CREATE UNIQUE INDEX IF NOT EXISTS session_keyhash ON session (keyhash);
)sql";

bool HasColumn(sqlite3* db, const char* table, const char* column) {
    Statement columns(db, (std::string("PRAGMA table_info(") + table + ")").c_str());
    while (columns.Step()) {
        if (columns.Text(1) == column) return true;
    }
    return false;
}

bool Exec(sqlite3* db, const char* sql, std::string& why) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) == SQLITE_OK) return true;
    why = error ? error : "unknown error";
    sqlite3_free(error);
    return false;
}

// Brings a database made by an older service up to the current tables, keeping its rows.
// Sessions of before session keys keep no key hash (NULL): no key opens them.
bool Migrate(sqlite3* db, std::string& why) {
    if (!HasColumn(db, "session", "keyhash") && !Exec(db, "ALTER TABLE session ADD COLUMN keyhash TEXT", why))
        return false;
    // Stages of before update ids: no request can name them, so they wait for their expiry.
    if (!HasColumn(db, "book_stage", "update_id") &&
        !Exec(db,
              "ALTER TABLE book_stage ADD COLUMN update_id TEXT; ALTER TABLE book_stage ADD COLUMN touched INTEGER;"
              " UPDATE book_stage SET touched = started",
              why))
        return false;
    return Exec(db, kLaterIndexes, why);
}

}  // namespace

ServiceDatabase::~ServiceDatabase() {
    if (db_) sqlite3_close(db_);
}

bool ServiceDatabase::Open(const std::string& path, std::string& why) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        why = "cannot open " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    std::string error;
    if (!Exec(db_, kSchema, error) || !Migrate(db_, error)) {
        why = "cannot set up " + path + ": " + error;
        return false;
    }
    return true;
}

Statement::Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
        DIAG(kModule, 0, "ERR:SQL error: %s", sqlite3_errmsg(db));
        stmt_ = nullptr;
    }
}

Statement::~Statement() {
    if (stmt_) sqlite3_finalize(stmt_);
}

Statement& Statement::Bind(int index, int64_t value) {
    if (stmt_) sqlite3_bind_int64(stmt_, index, value);
    return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
    if (stmt_) sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

bool Statement::Step() {
    if (!stmt_) return false;
    last_ = sqlite3_step(stmt_);
    if (last_ != SQLITE_ROW && last_ != SQLITE_DONE) DIAG(kModule, 0, "ERR:SQL error: %s", sqlite3_errmsg(db_));
    return last_ == SQLITE_ROW;
}

bool Statement::Run() {
    while (Step()) {
    }
    return last_ == SQLITE_DONE;
}

int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Statement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
}

}  // namespace service
