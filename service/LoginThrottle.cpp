#include "service/LoginThrottle.h"

#include "config/DiagLog.h"

#include <algorithm>
#include <utility>

namespace service {

LoginThrottle::LoginThrottle(ServiceDatabase& db, std::string scope, const ThrottleRules& rules, ThrottleClock clock)
    : db_(db), scope_(std::move(scope)), rules_(rules), clock_(std::move(clock)) {}

int64_t LoginThrottle::WaitMs(const std::string& key) {
    const int64_t now = clock_();
    auto lock = db_.Lock();
    Statement find(db_, "SELECT last_failure, wait_until FROM login_failure WHERE scope = ?1 AND key = ?2");
    if (!find.Bind(1, scope_).Bind(2, key).Step()) return 0;
    if (now - find.Int(0) >= rules_.forget_ms) {
        Statement(db_, "DELETE FROM login_failure WHERE scope = ?1 AND key = ?2").Bind(1, scope_).Bind(2, key).Run();
        return 0;
    }
    return std::max<int64_t>(0, find.Int(1) - now);
}

void LoginThrottle::Failure(const std::string& key) {
    const int64_t now = clock_();
    // The count stops growing long after the wait has reached its cap: it cannot overflow.
    const int64_t cap = rules_.free_failures + 62;
    auto lock = db_.Lock();
    // One statement counts, so failures counted at once by several processes all count.
    Statement count(db_,
                    "INSERT INTO login_failure (scope, key, failures, last_failure, wait_until) VALUES (?1, ?2, 1, ?3, 0)"
                    " ON CONFLICT (scope, key) DO UPDATE SET"
                    " failures = CASE WHEN ?3 - login_failure.last_failure >= ?4 THEN 1"
                    " WHEN login_failure.failures < ?5 THEN login_failure.failures + 1"
                    " ELSE login_failure.failures END,"
                    " wait_until = CASE WHEN ?3 - login_failure.last_failure >= ?4 THEN 0"
                    " ELSE login_failure.wait_until END, last_failure = ?3"
                    " RETURNING failures");
    if (!count.Bind(1, scope_).Bind(2, key).Bind(3, now).Bind(4, rules_.forget_ms).Bind(5, cap).Step()) {
        DIAG("LoginThrottle", 0, "ERR:a failed login cannot be counted");
        return;
    }
    const int64_t beyond = count.Int(0) - rules_.free_failures;
    count.Run();
    if (beyond > 0) {
        int64_t wait = rules_.first_wait_ms;
        for (int64_t doubling = 1; doubling < beyond && wait < rules_.max_wait_ms; ++doubling) wait *= 2;
        Statement(db_, "UPDATE login_failure SET wait_until = ?3 WHERE scope = ?1 AND key = ?2")
            .Bind(1, scope_)
            .Bind(2, key)
            .Bind(3, now + std::min(wait, rules_.max_wait_ms))
            .Run();
    }
    Bound(now);
}

void LoginThrottle::Success(const std::string& key) {
    auto lock = db_.Lock();
    Statement(db_, "DELETE FROM login_failure WHERE scope = ?1 AND key = ?2").Bind(1, scope_).Bind(2, key).Run();
}

size_t LoginThrottle::Size() {
    auto lock = db_.Lock();
    Statement count(db_, "SELECT count(*) FROM login_failure WHERE scope = ?1");
    return count.Bind(1, scope_).Step() ? static_cast<size_t>(count.Int(0)) : 0;
}

void LoginThrottle::Bound(int64_t now) {
    const auto size = [this] {
        Statement count(db_, "SELECT count(*) FROM login_failure WHERE scope = ?1");
        return count.Bind(1, scope_).Step() ? count.Int(0) : 0;
    };
    const auto max_keys = static_cast<int64_t>(rules_.max_keys);
    if (size() <= max_keys) return;
    Statement(db_, "DELETE FROM login_failure WHERE scope = ?1 AND last_failure <= ?2")
        .Bind(1, scope_)
        .Bind(2, now - rules_.forget_ms)
        .Run();
    const int64_t over = size() - max_keys;
    if (over <= 0) return;
    Statement(db_,
              "DELETE FROM login_failure WHERE scope = ?1 AND key IN"
              " (SELECT key FROM login_failure WHERE scope = ?1 ORDER BY last_failure LIMIT ?2)")
        .Bind(1, scope_)
        .Bind(2, over)
        .Run();
}

}  // namespace service
