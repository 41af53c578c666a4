// Slows down password guessing: counts the failed logins of a key (an account, or an
// address) and, beyond the free ones, makes the key wait before its next attempt, each
// wait twice the last up to a cap. It only answers and counts, so a caller refuses a
// waiting key at once instead of holding a request thread. Safe to use from several
// threads; its memory is bounded by the rules' max_keys.
#pragma once

#include "service/AccountLimits.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace service {

class LoginThrottle {
public:
    LoginThrottle(const ThrottleRules& rules, ThrottleClock clock);

    // Milliseconds until `key` may try again; 0 when it may now.
    int64_t WaitMs(const std::string& key);
    // A failed login of `key`: counted, and beyond the free failures it starts a wait.
    void Failure(const std::string& key);
    // A right password: `key`'s failures are forgotten.
    void Success(const std::string& key);
    // Keys remembered now.
    size_t Size();

private:
    struct Entry {
        int failures = 0;
        int64_t last_failure = 0;
        int64_t wait_until = 0;
    };

    bool Stale(const Entry& entry, int64_t now) const { return now - entry.last_failure >= rules_.forget_ms; }
    // Frees a place for one more key: the stale keys go, and if none was, the one whose
    // last failure is the oldest.
    void MakeRoom(int64_t now);

    const ThrottleRules rules_;
    const ThrottleClock clock_;
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

}  // namespace service
