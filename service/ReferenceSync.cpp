#include "service/ReferenceSync.h"

#include <set>
#include <sqlite3.h>
#include <vector>

namespace service {
namespace {

// A reference table as the client has it and as the service's database keeps it. Every
// column but the title is a number.
struct Table {
    const char* client_name;
    const char* client_columns;  // the id first
    const char* name;
    const char* columns;
    int title_column;
};

// Categories first: a subcategory names its category.
const Table kTables[] = {
    {"category", "ID, title, status", "reference_category", "id, title, status", 1},
    {"subcategory", "ID, Title, categoryID, status", "reference_subcategory", "id, title, category_id, status", 1},
};

std::vector<std::string> Names(const char* columns) {
    std::vector<std::string> names;
    std::string name;
    for (const char* c = columns;; ++c) {
        if (*c == ',' || *c == '\0') {
            names.push_back(name);
            name.clear();
            if (*c == '\0') break;
        } else if (*c != ' ') {
            name += *c;
        }
    }
    return names;
}

// An SQL literal of the row's column: NULL, a number or a quoted text with its quotes doubled.
std::string Literal(const Statement& row, int column, bool text) {
    if (row.IsNull(column)) return "NULL";
    if (!text) return std::to_string(row.Int(column));
    std::string out = "'";
    for (char c : row.Text(column)) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

// Appends the statements that make `table` on the client equal to ours.
bool SyncTable(ServiceDatabase& db, const Table& table, const std::vector<int64_t>& client_ids, std::string& sql) {
    std::set<int64_t> remaining(client_ids.begin(), client_ids.end());
    const std::vector<std::string> names = Names(table.client_columns);
    Statement row(db, (std::string("SELECT ") + table.columns + " FROM " + table.name + " ORDER BY id").c_str());
    if (!row.Ok()) return false;
    while (row.Step()) {
        const int64_t id = row.Int(0);
        if (remaining.erase(id)) {
            sql += std::string("UPDATE ") + table.client_name + " SET ";
            for (size_t i = 1; i < names.size(); ++i)
                sql += (i > 1 ? ", " : "") + names[i] + " = " +
                       Literal(row, static_cast<int>(i), static_cast<int>(i) == table.title_column);
            sql += " WHERE ID = " + std::to_string(id) + ";\n";
        } else {
            sql += std::string("INSERT INTO ") + table.client_name + " (" + table.client_columns + ") VALUES (";
            for (size_t i = 0; i < names.size(); ++i)
                sql += (i ? ", " : "") + Literal(row, static_cast<int>(i), static_cast<int>(i) == table.title_column);
            sql += ");\n";
        }
    }
    for (int64_t id : remaining)
        sql += std::string("DELETE FROM ") + table.client_name + " WHERE ID = " + std::to_string(id) + ";\n";
    return true;
}

// Copies the reference file's rows of `table` into the database, replacing its own.
bool CopyTable(sqlite3* file, ServiceDatabase& db, const Table& table) {
    const std::vector<std::string> names = Names(table.columns);
    std::string values;
    for (size_t i = 1; i <= names.size(); ++i) values += (i > 1 ? ", ?" : "?") + std::to_string(i);
    if (!Statement(db, (std::string("DELETE FROM ") + table.name).c_str()).Run()) return false;
    const std::string insert = std::string("INSERT INTO ") + table.name + " (" + table.columns + ") VALUES (" + values + ")";
    sqlite3_stmt* row = nullptr;
    const std::string query = std::string("SELECT ") + table.client_columns + " FROM " + table.client_name;
    if (sqlite3_prepare_v2(file, query.c_str(), -1, &row, nullptr) != SQLITE_OK) return false;
    int status;
    bool ok = true;
    while (ok && (status = sqlite3_step(row)) == SQLITE_ROW) {
        Statement copy(db, insert.c_str());
        for (int i = 0; i < static_cast<int>(names.size()); ++i) {
            if (sqlite3_column_type(row, i) == SQLITE_NULL) {
                copy.BindNull(i + 1);
            } else if (i == table.title_column) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, i));
                copy.Bind(i + 1, std::string_view(text, static_cast<size_t>(sqlite3_column_bytes(row, i))));
            } else {
                copy.Bind(i + 1, static_cast<int64_t>(sqlite3_column_int64(row, i)));
            }
        }
        ok = copy.Run();
    }
    sqlite3_finalize(row);
    return ok && status == SQLITE_DONE;
}

bool HasReferenceData(ServiceDatabase& db) {
    Statement count(db, "SELECT count(*) FROM reference_category");
    return count.Step() && count.Int(0) > 0;
}

}  // namespace

bool ReferenceSync::Load(const std::string& path, bool replace, std::string& why) {
    sqlite3* file = nullptr;
    if (sqlite3_open_v2(path.c_str(), &file, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        sqlite3_close(file);
        why = "cannot open the reference database " + path;
        return false;
    }
    sqlite3_stmt* probe = nullptr;
    bool ok = sqlite3_prepare_v2(file, "SELECT count(*) FROM category, subcategory LIMIT 1", -1, &probe, nullptr) ==
                  SQLITE_OK &&
              sqlite3_step(probe) == SQLITE_ROW;
    sqlite3_finalize(probe);
    if (!ok) {
        sqlite3_close(file);
        why = "the reference database " + path + " has no category tables";
        return false;
    }
    auto lock = db_.Lock();
    if (replace || !HasReferenceData(db_)) {
        ok = db_.Begin();
        // Service processes starting together load the data one after the other.
        ok = ok && db_.LockNameForTransaction("reference data");
        for (const Table& table : kTables) ok = ok && CopyTable(file, db_, table);
        ok = ok && db_.Commit();
        if (!ok) {
            db_.Rollback();
            why = "cannot load the reference database " + path + " into the service's database";
        }
    }
    sqlite3_close(file);
    return ok;
}

bool ReferenceSync::BuildUpdate(const ReferenceIds& ids, std::string& sql) {
    auto lock = db_.Lock();
    sql.clear();
    if (!SyncTable(db_, kTables[0], ids.category_ids, sql) || !SyncTable(db_, kTables[1], ids.subcategory_ids, sql))
        return false;
    // The client takes an empty reply for a failure: say "nothing to change" in SQL.
    if (sql.empty()) sql = "DELETE FROM category WHERE 0;\n";
    return true;
}

}  // namespace service
