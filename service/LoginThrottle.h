// Slows down password guessing: counts the failed logins of a key (an account, or an
// address) and, beyond the free ones, makes the key wait before its next attempt, each
// wait twice the last up to a cap. It only answers and counts, so a caller refuses a
// waiting key at once instead of holding a request thread. The counts are kept in the
// service's database (table login_failure, one `scope` per throttle), so every service
// process on one database counts the same failures. At most the rules' max_keys keys
// are kept.
#pragma once

#include "service/AccountLimits.h"
#include "service/ServiceDatabase.h"

#include <cstdint>
#include <string>

namespace service {

class LoginThrottle {
public:
    LoginThrottle(ServiceDatabase& db, std::string scope, const ThrottleRules& rules, ThrottleClock clock);

    // Milliseconds until `key` may try again; 0 when it may now.
    int64_t WaitMs(const std::string& key);
    // A failed login of `key`: counted, and beyond the free failures it starts a wait.
    void Failure(const std::string& key);
    // A right password: `key`'s failures are forgotten.
    void Success(const std::string& key);
    // Keys remembered now.
    size_t Size();

private:
    // Keeps at most max_keys keys: the stale keys go, and if none was, the ones whose
    // last failure is the oldest.
    void Bound(int64_t now);

    ServiceDatabase& db_;
    const std::string scope_;
    const ThrottleRules rules_;
    const ThrottleClock clock_;
};

}  // namespace service
