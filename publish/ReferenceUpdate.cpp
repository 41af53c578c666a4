#include "publish/ReferenceUpdate.h"

#include "config/DiagLog.h"
#include "publish/HttpReplies.h"
#include "publish/Uploader.h"

#include <sqlite3.h>
#include <strings.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {
constexpr const char* kModule = "Upload";
constexpr int kBusyWaitMs = 5000;
constexpr size_t kLoggedError = 255;

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
    bool own_transaction = false;  // our own BEGIN, COMMIT and ROLLBACK
};

int Authorize(void* user, int action, const char* arg3, const char* arg4, const char* database, const char*) {
    const auto* state = static_cast<const Authorization*>(user);
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
            return state->own_transaction ? SQLITE_OK : SQLITE_DENY;
        default:
            return SQLITE_DENY;
    }
}

void LogSqlError(const char* format, sqlite3* db) {
    DIAG(kModule, 0, format, http_reply::Printable(sqlite3_errmsg(db), kLoggedError).c_str());
}

bool RunOwn(sqlite3* db, Authorization& auth, const char* sql) {
    auth.own_transaction = true;
    const bool ok = sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    auth.own_transaction = false;
    return ok;
}

// Runs every statement of `sql` in turn; false at the first one that is refused or fails.
bool RunStatements(sqlite3* db, const std::string& sql) {
    // The text ends at its first NUL, as a C string does.
    const char* next = sql.c_str();
    const char* end = next + std::strlen(next);
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
    Authorization auth;
    sqlite3_set_authorizer(own.get(), Authorize, &auth);
    if (!RunOwn(own.get(), auth, "BEGIN IMMEDIATE")) {
        LogSqlError("SQL error: %s", own.get());
        return false;
    }
    if (!RunStatements(own.get(), sql)) {
        LogSqlError("SQL error: %s", own.get());
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
