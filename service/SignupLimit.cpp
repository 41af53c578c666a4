#include "service/SignupLimit.h"

#include <utility>

namespace service {

SignupLimit::SignupLimit(ServiceDatabase& db, const SignupRules& rules, ThrottleClock clock)
    : db_(db), rules_(rules), clock_(std::move(clock)) {}

bool SignupLimit::Take(const std::string& key) {
    const int64_t now = clock_();
    auto lock = db_.Lock();
    if (!db_.Begin()) return false;
    if (TakeInTransaction(key, now) && db_.Commit()) return true;
    db_.Rollback();
    return false;
}

bool SignupLimit::TakeInTransaction(const std::string& key, int64_t now) {
    // Sign-ups of one address counted by several processes at once take turns.
    if (!db_.LockNameForTransaction("signup:" + key)) return false;
    Statement expire(db_, "DELETE FROM signup WHERE key = ?1 AND taken <= ?2");
    if (!expire.Bind(1, key).Bind(2, now - rules_.window_ms).Run()) return false;
    Statement count(db_, "SELECT count(*) FROM signup WHERE key = ?1");
    if (!count.Bind(1, key).Step() || count.Int(0) >= rules_.max_accounts) return false;
    return Statement(db_, "INSERT INTO signup (key, taken) VALUES (?1, ?2)").Bind(1, key).Bind(2, now).Run() &&
           Bound(now);
}

void SignupLimit::GiveBack(const std::string& key) {
    auto lock = db_.Lock();
    Statement(db_, "DELETE FROM signup WHERE id = (SELECT max(id) FROM signup WHERE key = ?1)").Bind(1, key).Run();
}

size_t SignupLimit::Size() {
    auto lock = db_.Lock();
    Statement count(db_, "SELECT count(DISTINCT key) FROM signup");
    return count.Step() ? static_cast<size_t>(count.Int(0)) : 0;
}

bool SignupLimit::Bound(int64_t now) {
    const auto size = [this] {
        Statement count(db_, "SELECT count(DISTINCT key) FROM signup");
        return count.Step() ? count.Int(0) : 0;
    };
    const auto max_keys = static_cast<int64_t>(rules_.max_keys);
    if (size() <= max_keys) return true;
    if (!Statement(db_, "DELETE FROM signup WHERE taken <= ?1").Bind(1, now - rules_.window_ms).Run()) return false;
    const int64_t over = size() - max_keys;
    if (over <= 0) return true;
    return Statement(db_,
                     "DELETE FROM signup WHERE key IN"
                     " (SELECT key FROM signup GROUP BY key ORDER BY max(taken) LIMIT ?1)")
        .Bind(1, over)
        .Run();
}

}  // namespace service
