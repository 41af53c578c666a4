#include "service/DatabaseMigration.h"

#include "service/BookStore.h"

#include <algorithm>

namespace service {
namespace {

struct Table {
    const char* name;
    const char* columns;
};

// In the order their references need: accounts before what names them.
const Table kTables[] = {
    {"account", "id, email, pwhash, created"},
    {"session", "token, account, address, created, seq, keyhash"},
    {"book", kBookColumns},
    {"book_stage", "key, owner, started, update_id, touched, session"},
    {"staged_book", kBookColumns},
    {"login_failure", "scope, key, failures, last_failure, wait_until"},
    {"signup", "id, key, taken"},
    {"reference_category", "id, title, status"},
    {"reference_subcategory", "id, title, category_id, status"},
};

// Copies one table's rows; how many, or -1.
int64_t CopyTable(ServiceDatabase& from, ServiceDatabase& to, const Table& table) {
    const int count = static_cast<int>(std::count(table.columns, table.columns + std::char_traits<char>::length(table.columns), ',')) + 1;
    std::string values;
    for (int i = 1; i <= count; ++i) values += (i > 1 ? ", ?" : "?") + std::to_string(i);
    Statement rows(from, (std::string("SELECT ") + table.columns + " FROM " + table.name).c_str());
    const std::string insert = std::string("INSERT INTO ") + table.name + " (" + table.columns + ") VALUES (" + values + ")";
    int64_t copied = 0;
    while (rows.Step()) {
        Statement row(to, insert.c_str());
        for (int i = 0; i < count; ++i) {
            if (rows.IsNull(i)) {
                row.BindNull(i + 1);
            } else {
                row.Bind(i + 1, rows.Text(i));
            }
        }
        if (!row.Run()) return -1;
        ++copied;
    }
    return rows.Ok() ? copied : -1;
}

bool CopyAll(ServiceDatabase& from, ServiceDatabase& to, std::string& summary, std::string& why) {
    Statement accounts(to, "SELECT count(*) FROM account");
    if (!accounts.Step() || accounts.Int(0) != 0) {
        why = "the target database holds accounts already";
        return false;
    }
    for (const Table& table : kTables) {
        const int64_t copied = CopyTable(from, to, table);
        if (copied < 0) {
            why = std::string("cannot copy the table ") + table.name;
            return false;
        }
        summary += (summary.empty() ? "" : ", ") + std::to_string(copied) + " " + table.name;
    }
    // Rows added later get ids after the copied ones.
    for (const char* table : {"account", "signup"}) {
        const std::string sql = std::string("SELECT setval(pg_get_serial_sequence('") + table +
                                "', 'id'), (SELECT coalesce(max(id), 0) + 1 FROM " + table + "), false)";
        if (!Statement(to, sql.c_str()).Run()) {
            why = std::string("cannot set the next id of ") + table;
            return false;
        }
    }
    return true;
}

}  // namespace

bool CopyDatabase(ServiceDatabase& from, ServiceDatabase& to, std::string& summary, std::string& why) {
    auto from_lock = from.Lock();
    auto to_lock = to.Lock();
    if (to.Kind() != DatabaseKind::Postgres) {
        why = "the target must be a PostgreSQL database";
        return false;
    }
    if (!to.Begin()) {
        why = "cannot start a transaction";
        return false;
    }
    if (!CopyAll(from, to, summary, why)) {
        to.Rollback();
        return false;
    }
    if (to.Commit()) return true;
    why = "cannot commit the copy";
    return false;
}

}  // namespace service
