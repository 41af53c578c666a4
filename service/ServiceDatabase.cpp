#include "service/ServiceDatabase.h"

#include "service/DatabaseSchema.h"
#include "service/PostgresConnection.h"
#include "service/SqliteConnection.h"

#include <algorithm>
#include <sstream>
#include <utility>

namespace service {

namespace {

// The connections this thread holds, by database (a copy between two databases holds one
// of each).
thread_local std::vector<std::pair<const ServiceDatabase*, DatabaseConnection*>> held;

std::unique_ptr<DatabaseConnection> Connect(const std::string& target, std::string& why) {
    if (IsPostgresUrl(target)) {
        auto postgres = std::make_unique<PostgresConnection>();
        if (!postgres->Open(target, why)) return nullptr;
        return postgres;
    }
    auto sqlite = std::make_unique<SqliteConnection>();
    if (!sqlite->Open(target, why)) return nullptr;
    return sqlite;
}

}  // namespace

DatabaseLock::DatabaseLock(ServiceDatabase& db, DatabaseConnection& connection) : db_(&db), connection_(&connection) {
    held.emplace_back(db_, connection_);
}

DatabaseLock::DatabaseLock(DatabaseLock&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), connection_(std::exchange(other.connection_, nullptr)) {}

DatabaseLock::~DatabaseLock() {
    if (!db_) return;
    std::erase(held, std::make_pair(static_cast<const ServiceDatabase*>(db_), connection_));
    db_->Give(*connection_);
}

bool ServiceDatabase::Open(const std::string& target, std::string& why) {
    const size_t count = IsPostgresUrl(target) ? kPostgresConnections : 1;
    for (size_t i = 0; i < count; ++i) {
        auto connection = Connect(target, why);
        if (!connection) return false;
        // The first sets up the tables, before the others are used.
        std::string error;
        if (i == 0 && !PrepareSchema(*connection, error)) {
            why = "cannot set up the database: " + error;
            return false;
        }
        free_.push_back(connection.get());
        pool_.push_back(std::move(connection));
    }
    if (count > 1 && !(names_ = Connect(target, why))) return false;
    return true;
}

DatabaseLock ServiceDatabase::Lock() {
    std::unique_lock<std::mutex> guard(mutex_);
    freed_.wait(guard, [this] { return !free_.empty(); });
    DatabaseConnection* connection = free_.back();
    free_.pop_back();
    return DatabaseLock(*this, *connection);
}

void ServiceDatabase::Give(DatabaseConnection& connection) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        free_.push_back(&connection);
    }
    freed_.notify_one();
}

DatabaseConnection& ServiceDatabase::Connection() {
    for (auto it = held.rbegin(); it != held.rend(); ++it) {
        if (it->first == this) return *it->second;
    }
    // Callers hold Lock(). Without it a statement runs on the first connection, which
    // only a caller alone with an SQLite database (a start-up step) may do.
    return *pool_.front();
}

bool ServiceDatabase::LockNameForTransaction(const std::string& name) {
    if (Kind() == DatabaseKind::Sqlite) return true;
    return Statement(*this, "SELECT pg_advisory_xact_lock(hashtextextended(?1, 0))").Bind(1, name).Run();
}

bool ServiceDatabase::Hold(const char* sql, const std::string& name) {
    std::lock_guard<std::mutex> guard(names_mutex_);
    auto statement = names_->Prepare(sql);
    statement->Bind(1, name);
    return statement->Step() && statement->Text(0) == "t";
}

bool ServiceDatabase::TryHold(const std::string& name) {
    if (Kind() == DatabaseKind::Sqlite) return true;
    return Hold("SELECT pg_try_advisory_lock(hashtextextended(?1, 0))", name);
}

void ServiceDatabase::Release(const std::string& name) {
    if (Kind() == DatabaseKind::Sqlite) return;
    Hold("SELECT pg_advisory_unlock(hashtextextended(?1, 0))", name);
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
