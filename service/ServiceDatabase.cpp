#include "service/ServiceDatabase.h"

#include "service/DatabaseSchema.h"
#include "service/PostgresConnection.h"
#include "service/SqliteConnection.h"

#include <sstream>

namespace service {

bool ServiceDatabase::Open(const std::string& target, std::string& why) {
    std::string error;
    if (IsPostgresUrl(target)) {
        auto postgres = std::make_unique<PostgresConnection>();
        if (!postgres->Open(target, why)) return false;
        connection_ = std::move(postgres);
    } else {
        auto sqlite = std::make_unique<SqliteConnection>();
        if (!sqlite->Open(target, why)) return false;
        connection_ = std::move(sqlite);
    }
    if (PrepareSchema(*connection_, error)) return true;
    why = "cannot set up the database: " + error;
    return false;
}

bool ServiceDatabase::LockNameForTransaction(const std::string& name) {
    if (Kind() == DatabaseKind::Sqlite) return true;
    return Statement(*this, "SELECT pg_advisory_xact_lock(hashtextextended(?1, 0))").Bind(1, name).Run();
}

bool ServiceDatabase::TryHold(const std::string& name) {
    if (Kind() == DatabaseKind::Sqlite) return true;
    Statement hold(*this, "SELECT pg_try_advisory_lock(hashtextextended(?1, 0))");
    return hold.Bind(1, name).Step() && hold.Text(0) == "t";
}

void ServiceDatabase::Release(const std::string& name) {
    if (Kind() == DatabaseKind::Sqlite) return;
    Statement(*this, "SELECT pg_advisory_unlock(hashtextextended(?1, 0))").Bind(1, name).Run();
}

std::string UpsertSql(const std::string& table, const std::string& columns, const std::string& source) {
    std::string sql = "INSERT INTO " + table + " (" + columns + ") " + source;
    std::istringstream names(columns);
    std::string name;
    std::getline(names, name, ',');
    sql += " ON CONFLICT (" + name + ") DO UPDATE SET ";
    bool first = true;
    while (std::getline(names, name, ',')) {
        name.erase(0, name.find_first_not_of(' '));
        sql += (first ? "" : ", ") + name + " = excluded." + name;
        first = false;
    }
    return sql;
}

}  // namespace service
