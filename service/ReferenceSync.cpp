#include "service/ReferenceSync.h"


#include <set>
#include <sqlite3.h>

namespace service {
namespace {

// An SQL literal: NULL, an integer or a quoted text with its quotes doubled.
std::string Literal(sqlite3_stmt* row, int column) {
    switch (sqlite3_column_type(row, column)) {
        case SQLITE_NULL: return "NULL";
        case SQLITE_INTEGER: return std::to_string(sqlite3_column_int64(row, column));
        default: break;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
    std::string out = "'";
    for (const char* c = text ? text : ""; *c; ++c) {
        if (*c == '\'') out += '\'';
        out += *c;
    }
    return out + "'";
}

struct Table {
    const char* name;
    const char* columns;  // the id first
};

// Appends the statements that make `table` on the client equal to ours.
bool SyncTable(sqlite3* db, const Table& table, const std::vector<int64_t>& client_ids, std::string& sql) {
    std::set<int64_t> remaining(client_ids.begin(), client_ids.end());
    const std::string query = std::string("SELECT ") + table.columns + " FROM " + table.name + " ORDER BY ID";
    sqlite3_stmt* row = nullptr;
    if (sqlite3_prepare_v2(db, query.c_str(), -1, &row, nullptr) != SQLITE_OK) return false;
    int status;
    const std::vector<std::string> names = [&] {
        std::vector<std::string> list;
        for (int i = 0; i < sqlite3_column_count(row); ++i) list.emplace_back(sqlite3_column_name(row, i));
        return list;
    }();
    while ((status = sqlite3_step(row)) == SQLITE_ROW) {
        const int64_t id = sqlite3_column_int64(row, 0);
        if (remaining.erase(id)) {
            sql += std::string("UPDATE ") + table.name + " SET ";
            for (size_t i = 1; i < names.size(); ++i)
                sql += (i > 1 ? ", " : "") + names[i] + " = " + Literal(row, static_cast<int>(i));
            sql += " WHERE ID = " + std::to_string(id) + ";\n";
        } else {
            sql += std::string("INSERT INTO ") + table.name + " (" + table.columns + ") VALUES (";
            for (size_t i = 0; i < names.size(); ++i) sql += (i ? ", " : "") + Literal(row, static_cast<int>(i));
            sql += ");\n";
        }
    }
    sqlite3_finalize(row);
    if (status != SQLITE_DONE) return false;
    for (int64_t id : remaining) sql += std::string("DELETE FROM ") + table.name + " WHERE ID = " + std::to_string(id) + ";\n";
    return true;
}

}  // namespace

ReferenceSync::~ReferenceSync() {
    if (db_) sqlite3_close(db_);
}

bool ReferenceSync::Open(const std::string& path, std::string& why) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        why = "cannot open the reference database " + path;
        return false;
    }
    sqlite3_stmt* probe = nullptr;
    const bool ok = sqlite3_prepare_v2(db_, "SELECT count(*) FROM category, subcategory LIMIT 1", -1, &probe,
                                       nullptr) == SQLITE_OK &&
                    sqlite3_step(probe) == SQLITE_ROW;
    sqlite3_finalize(probe);
    if (!ok) why = "the reference database " + path + " has no category tables";
    return ok;
}

bool ReferenceSync::BuildUpdate(const ReferenceIds& ids, std::string& sql) {
    std::lock_guard<std::mutex> guard(mutex_);
    sql.clear();
    // Categories first: a subcategory names its category.
    if (!SyncTable(db_, {"category", "ID, title, status"}, ids.category_ids, sql) ||
        !SyncTable(db_, {"subcategory", "ID, Title, categoryID, status"}, ids.subcategory_ids, sql))
        return false;
    // The client takes an empty reply for a failure: say "nothing to change" in SQL.
    if (sql.empty()) sql = "DELETE FROM category WHERE 0;\n";
    return true;
}

}  // namespace service
