#include "publish/ReferenceUpdate.h"

#include "config/DiagLog.h"
#include "publish/HttpReplies.h"
#include "publish/Uploader.h"

#include <sqlite3.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {
constexpr const char* kModule = "Upload";
constexpr int kBusyWaitMs = 5000;
constexpr size_t kLoggedError = 255;

// What an update may do to the reference tables. The shipped database holds 25
// categories, 158 subcategories, 249 countries, 739 states and 2477 cities, no value
// longer than 44 bytes, in 164 KiB; a full refresh of every table is about 300 KB of
// SQL and runs in milliseconds. The limits leave room for many times that, and an
// update that crosses any of them is refused whole.
constexpr int kMaxValueBytes = 4096;                // any text, blob or row
constexpr size_t kMaxSqlBytes = 4u * 1024 * 1024;   // the update's SQL text
constexpr int64_t kMaxDatabaseBytes = 32LL * 1024 * 1024;
constexpr auto kMaxRunTime = std::chrono::seconds(5);
constexpr int kStepsPerTimeCheck = 1000;
struct RowLimit {
    const char* table;
    int64_t rows;
};
constexpr RowLimit kRowLimits[] = {
    {"category", 1000}, {"subcategory", 10000}, {"country", 1000}, {"state", 50000}, {"city", 250000},
};

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// The tables the service may change; the view writes through to state and city.
bool IsReferenceTable(const char* name) {
    static constexpr const char* kTables[] = {"category", "subcategory", "country", "state", "city", "citystateview"};
    if (!name) return false;
    for (const char* table : kTables)
        if (strcasecmp(name, table) == 0) return true;
    return false;
}

bool IsMainDatabase(const char* name) { return name && strcmp(name, "main") == 0; }

struct Authorization {
    bool own_statement = false;  // our own BEGIN, COMMIT, ROLLBACK and row counts
};

int Authorize(void* user, int action, const char* arg3, const char* arg4, const char* database, const char*) {
    const auto* state = static_cast<const Authorization*>(user);
    if (state->own_statement) return SQLITE_OK;
    switch (action) {
        case SQLITE_INSERT:
        case SQLITE_UPDATE:
        case SQLITE_DELETE:
        case SQLITE_READ:
            return IsReferenceTable(arg3) && IsMainDatabase(database) ? SQLITE_OK : SQLITE_DENY;
        case SQLITE_SELECT:
            return SQLITE_OK;
        case SQLITE_FUNCTION:
            return arg4 && strcasecmp(arg4, "load_extension") == 0 ? SQLITE_DENY : SQLITE_OK;
        case SQLITE_TRANSACTION:
            return SQLITE_DENY;  // only our own
        default:
            return SQLITE_DENY;
    }
}

void LogSqlError(const char* format, sqlite3* db) {
    DIAG(kModule, 0, format, http_reply::Printable(sqlite3_errmsg(db), kLoggedError).c_str());
}

bool RunOwn(sqlite3* db, Authorization& auth, const char* sql) {
    auth.own_statement = true;
    const bool ok = sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    auth.own_statement = false;
    return ok;
}

// Runs every statement of `sql` (`length` bytes) in turn; false at the first one that
// is refused or fails.
bool RunStatements(sqlite3* db, const char* sql, size_t length) {
    const char* next = sql;
    const char* end = sql + length;
    while (next < end) {
        sqlite3_stmt* raw = nullptr;
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(db, next, static_cast<int>(end - next), &raw, &tail) != SQLITE_OK) return false;
        Statement statement(raw);
        if (!tail || tail <= next) break;
        next = tail;
        if (!statement) continue;  // only spaces or comments
        // A statement that changes nothing has no place in an update.
        if (sqlite3_stmt_readonly(statement.get())) return false;
        int rc = SQLITE_ROW;
        while (rc == SQLITE_ROW) rc = sqlite3_step(statement.get());
        if (rc != SQLITE_DONE) return false;
    }
    return true;
}

// The ids of a one-column query; false (logged with `error_format`) on an SQL error.
bool ReadIds(sqlite3* db, const char* sql, const char* error_format, std::vector<int64_t>& ids) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
        LogSqlError(error_format, db);
        return false;
    }
    Statement statement(raw);
    int rc;
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(statement.get(), 0));
    if (rc != SQLITE_DONE) {
        LogSqlError(error_format, db);
        return false;
    }
    return true;
}

// The number a pragma reads back, or -1.
int64_t PragmaValue(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) return -1;
    Statement statement(raw);
    return sqlite3_step(statement.get()) == SQLITE_ROW ? sqlite3_column_int64(statement.get(), 0) : -1;
}

// Interrupts the statements once the deadline has passed.
int PastDeadline(void* user) {
    const auto* deadline = static_cast<const std::chrono::steady_clock::time_point*>(user);
    return std::chrono::steady_clock::now() > *deadline ? 1 : 0;
}

// Why the update must not be kept, or empty when every reference table is within its
// row limit.
std::string RowLimitCrossed(sqlite3* db) {
    for (const RowLimit& limit : kRowLimits) {
        sqlite3_stmt* raw = nullptr;
        const std::string sql = std::string("SELECT count(*) FROM ") + limit.table;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) return sqlite3_errmsg(db);
        Statement statement(raw);
        if (sqlite3_step(statement.get()) != SQLITE_ROW) return sqlite3_errmsg(db);
        const int64_t rows = sqlite3_column_int64(statement.get(), 0);
        if (rows > limit.rows)
            return std::string(limit.table) + " would hold " + std::to_string(rows) + " rows, at most " +
                   std::to_string(limit.rows) + " are kept";
    }
    return {};
}

// The reason a failed statement gives, in words that name the limit it crossed.
std::string FailureReason(sqlite3* db) {
    switch (sqlite3_errcode(db)) {
        case SQLITE_TOOBIG:
            return "a value or row longer than " + std::to_string(kMaxValueBytes) + " bytes";
        case SQLITE_INTERRUPT:
            return "the statements ran longer than " + std::to_string(kMaxRunTime.count()) + " s";
        case SQLITE_FULL:
            return "the database would grow beyond " + std::to_string(kMaxDatabaseBytes / (1024 * 1024)) + " MiB";
        case SQLITE_OK:
            return "a statement that changes nothing";
        default:
            return sqlite3_errmsg(db);
    }
}

// Holds the update flag for the life of the object.
class UpdateFlag {
public:
    UpdateFlag() { g_reference_db_updating = true; }
    ~UpdateFlag() { g_reference_db_updating = false; }
    UpdateFlag(const UpdateFlag&) = delete;
    UpdateFlag& operator=(const UpdateFlag&) = delete;
};
}  // namespace

bool ApplyReferenceSql(sqlite3* db, const std::string& sql) {
    const char* path = db ? sqlite3_db_filename(db, "main") : nullptr;
    if (!path || !*path) {
        DIAG(kModule, 0, "SQL error: %s", "no reference database file");
        return false;
    }
    // A connection of its own: the user interface keeps reading through the shared one,
    // unaffected by the checks below, and sees the update only once it is complete.
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path, &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    std::unique_ptr<sqlite3, DbCloser> own(raw);
    if (rc != SQLITE_OK) {
        LogSqlError("SQL error: %s", own.get());
        return false;
    }
    sqlite3_busy_timeout(own.get(), kBusyWaitMs);
    // The text ends at its first NUL, as a C string does.
    const size_t length = strnlen(sql.c_str(), sql.size());
    if (length > kMaxSqlBytes) {
        DIAG(kModule, 0, "ERR:reference update refused: %zu bytes of SQL, at most %zu are taken", length, kMaxSqlBytes);
        return false;
    }
    // Bounds of this connection only: the values and rows it may write, and the size
    // the file may grow to (set before the authorizer, which refuses pragmas).
    sqlite3_limit(own.get(), SQLITE_LIMIT_LENGTH, kMaxValueBytes);
    const int64_t page_size = PragmaValue(own.get(), "PRAGMA page_size");
    const std::string max_pages =
        "PRAGMA max_page_count = " + std::to_string(kMaxDatabaseBytes / std::max<int64_t>(page_size, 512));
    if (page_size <= 0 || sqlite3_exec(own.get(), max_pages.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        LogSqlError("SQL error: %s", own.get());
        return false;
    }
    Authorization auth;
    sqlite3_set_authorizer(own.get(), Authorize, &auth);
    if (!RunOwn(own.get(), auth, "BEGIN IMMEDIATE")) {
        LogSqlError("SQL error: %s", own.get());
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + kMaxRunTime;
    sqlite3_progress_handler(own.get(), kStepsPerTimeCheck, PastDeadline, &deadline);
    std::string refused;
    if (!RunStatements(own.get(), sql.c_str(), length)) refused = FailureReason(own.get());
    if (refused.empty()) {
        auth.own_statement = true;
        refused = RowLimitCrossed(own.get());
        auth.own_statement = false;
    }
    sqlite3_progress_handler(own.get(), 0, nullptr, nullptr);
    if (!refused.empty()) {
        DIAG(kModule, 0, "ERR:reference update refused: %s", http_reply::Printable(refused, kLoggedError).c_str());
        RunOwn(own.get(), auth, "ROLLBACK");
        return false;
    }
    if (!RunOwn(own.get(), auth, "COMMIT")) {
        LogSqlError("SQL error: %s", own.get());
        RunOwn(own.get(), auth, "ROLLBACK");
        return false;
    }
    return true;
}

int32_t Uploader::UpdateReferenceDb(sqlite3* db) {
    if (!db) return 2;
    std::vector<int64_t> subcategories;
    if (!ReadIds(db, "select ID from subcategory order by ID", "ERR: SQL error: %s", subcategories)) return 2;
    if (subcategories.empty()) return 2;
    std::vector<int64_t> categories;
    if (!ReadIds(db, "select ID from Category order by ID", "ERR:SQL error: %s", categories)) return 2;
    if (categories.empty()) return 2;
    const std::string block = http_body::ReferenceIdBlock(subcategories, categories);

    if (!http_.IsOpen() && !ConnectHttp()) return 1;
    // Cleared when this function returns, whether or not the service's SQL arrived.
    UpdateFlag flag;
    const ReplyHandler apply = [db](const std::string& sql) {
        ApplyReferenceSql(db, sql);
        g_reference_db_updating = false;
    };
    if (!PostByHttp("updt", block, &apply)) {
        DIAG(kModule, 0, "ERR:HttpOpenRequest failed");
        return 1;
    }
    return 0;
}
