#include "service/PostgresConnection.h"

#include "config/DiagLog.h"

#include <cctype>
#include <cstdlib>
#include <libpq-fe.h>
#include <optional>
#include <vector>

namespace service {
namespace {

constexpr const char* kModule = "ServiceDatabase";

struct ResultDeleter {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// Every value goes as text and every answer comes as text: the stores read numbers and
// texts only, and the server converts a parameter to its column's type.
class PostgresStatement : public StatementBackend {
public:
    PostgresStatement(PostgresConnection& connection, PGconn* conn, const char* sql)
        : connection_(connection), conn_(conn), sql_(PostgresPlaceholders(sql)) {}

    bool Ok() const override { return conn_ != nullptr; }
    void Bind(int index, int64_t value) override { Set(index, std::to_string(value)); }
    void Bind(int index, std::string_view text) override { Set(index, std::string(text)); }
    void BindNull(int index) override { Set(index, std::nullopt); }
    bool IsNull(int column) const override { return PQgetisnull(result_.get(), row_, column) != 0; }
    bool Step() override {
        if (!result_ && !Execute()) return false;
        ++row_;
        return row_ < PQntuples(result_.get());
    }
    bool Run() override { return result_ ? ok_ : Execute(); }
    int64_t Int(int column) const override {
        return PQgetisnull(result_.get(), row_, column) ? 0 : std::strtoll(PQgetvalue(result_.get(), row_, column), nullptr, 10);
    }
    std::string Text(int column) const override {
        return std::string(PQgetvalue(result_.get(), row_, column),
                           static_cast<size_t>(PQgetlength(result_.get(), row_, column)));
    }

private:
    void Set(int index, std::optional<std::string> value) {
        if (index < 1) return;
        if (params_.size() < static_cast<size_t>(index)) params_.resize(static_cast<size_t>(index));
        params_[static_cast<size_t>(index - 1)] = std::move(value);
    }

    bool Execute() {
        std::vector<const char*> values;
        for (const auto& param : params_) values.push_back(param ? param->c_str() : nullptr);
        result_.reset(PQexecParams(conn_, sql_.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                                   nullptr, nullptr, 0));
        const ExecStatusType status = PQresultStatus(result_.get());
        ok_ = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
        if (!ok_) DIAG(kModule, 0, "ERR:SQL error: %s", PQerrorMessage(conn_));
        if (PQstatus(conn_) != CONNECTION_OK) connection_.EnsureConnected();
        return ok_;
    }

    PostgresConnection& connection_;
    PGconn* conn_;
    std::string sql_;
    std::vector<std::optional<std::string>> params_;
    Result result_;
    int row_ = -1;
    bool ok_ = false;
};

// The server's notices ("already exists, skipping") are no news for the service.
void IgnoreNotice(void*, const char*) {}

}  // namespace

bool IsPostgresUrl(const std::string& target) {
    return target.rfind("postgresql://", 0) == 0 || target.rfind("postgres://", 0) == 0;
}

std::string PostgresPlaceholders(const char* sql) {
    std::string out;
    for (const char* c = sql; *c; ++c) {
        out += (*c == '?' && std::isdigit(static_cast<unsigned char>(c[1]))) ? '$' : *c;
    }
    return out;
}

PostgresConnection::~PostgresConnection() {
    if (conn_) PQfinish(conn_);
}

bool PostgresConnection::Open(const std::string& url, std::string& why) {
    conn_ = PQconnectdb(url.c_str());
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
        why = "cannot connect to the database: " + std::string(conn_ ? PQerrorMessage(conn_) : "out of memory");
        while (!why.empty() && why.back() == '\n') why.pop_back();
        return false;
    }
    PQsetNoticeProcessor(conn_, IgnoreNotice, nullptr);
    return true;
}

bool PostgresConnection::EnsureConnected() {
    if (PQstatus(conn_) == CONNECTION_OK) return true;
    if (in_transaction_) return false;
    PQreset(conn_);
    const bool ok = PQstatus(conn_) == CONNECTION_OK;
    DIAG(kModule, 0, ok ? "INF:connected to the database again" : "ERR:the database cannot be reached");
    return ok;
}

std::unique_ptr<StatementBackend> PostgresConnection::Prepare(const char* sql) {
    EnsureConnected();
    return std::make_unique<PostgresStatement>(*this, conn_, sql);
}

bool PostgresConnection::Exec(const char* sql, std::string& why) {
    EnsureConnected();
    Result result(PQexec(conn_, sql));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return true;
    why = PQerrorMessage(conn_);
    while (!why.empty() && why.back() == '\n') why.pop_back();
    return false;
}

bool PostgresConnection::Command(const char* sql, const char* tag) {
    Result result(PQexec(conn_, sql));
    const bool ok = PQresultStatus(result.get()) == PGRES_COMMAND_OK && std::string(PQcmdStatus(result.get())) == tag;
    if (!ok) DIAG(kModule, 0, "ERR:%s failed: %s", sql, PQerrorMessage(conn_));
    return ok;
}

bool PostgresConnection::Begin() {
    EnsureConnected();
    in_transaction_ = Command("BEGIN", "BEGIN");
    return in_transaction_;
}

// A transaction that met an error answers COMMIT with ROLLBACK: that is a failure.
bool PostgresConnection::Commit() {
    const bool ok = Command("COMMIT", "COMMIT");
    in_transaction_ = false;
    EnsureConnected();
    return ok;
}

void PostgresConnection::Rollback() {
    Command("ROLLBACK", "ROLLBACK");
    in_transaction_ = false;
    EnsureConnected();
}

}  // namespace service
