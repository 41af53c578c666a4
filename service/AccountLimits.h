// How hard the service makes password guessing and sign-up floods: every limit of the
// login and sign-up throttles, in one place.
//
// Logins. A wrong password or an unknown e-mail counts as a failure against the address
// it came from; a wrong password for a real account counts against that account too.
// The first failures of an account (5) or an address (20: many people may share one
// behind a home router, an office or a proxy) cost nothing. Each further failure makes
// that account or address wait before its next attempt: 1 s after the first, doubling
// with each failure up to 5 minutes. While it waits, every login for the account or from
// the address is refused at once, without checking the password. After the wait the
// right password works and clears the account's count; the address's count stays (else
// one known password would wipe out a guessing run from the same place). A count is
// forgotten one hour after its last failure. At the cap a guesser gets one try per
// 5 minutes per account and per address: about 300 a day.
//
// Sign-ups. At most 5 new accounts per address in any hour; more are refused.
//
// An IPv6 address counts by its /64 network (see AddressGroup). Each table keeps at most
// 50,000 entries (a few MB), dropping the stalest first.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace service {

// Milliseconds since 1970; tests pass a clock of their own. The times are kept in the
// database, where the service processes of several machines compare them: only the
// wall clock is the same on every machine.
using ThrottleClock = std::function<int64_t()>;

inline int64_t WallMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

struct ThrottleRules {
    int free_failures = 0;     // failures that start no wait
    int64_t first_wait_ms = 0;  // the wait after the first failure beyond the free ones
    int64_t max_wait_ms = 0;    // waits double up to this
    int64_t forget_ms = 0;      // a count is forgotten this long after its last failure
    size_t max_keys = 0;        // accounts or addresses remembered at most
};

struct SignupRules {
    int max_accounts = 0;  // accounts one address may create within a window
    int64_t window_ms = 0;
    size_t max_keys = 0;  // addresses remembered at most
};

struct AccountLimits {
    ThrottleRules account_logins;
    ThrottleRules address_logins;
    SignupRules signups;
};

inline constexpr int64_t kSecondMs = 1000;
inline constexpr int64_t kHourMs = 60 * 60 * kSecondMs;

inline constexpr AccountLimits kAccountLimits{
    {5, kSecondMs, 5 * 60 * kSecondMs, kHourMs, 50000},
    {20, kSecondMs, 5 * 60 * kSecondMs, kHourMs, 50000},
    {5, kHourMs, 50000},
};

// A count must outlive the longest wait, or a waiting key could start afresh.
static_assert(kAccountLimits.account_logins.forget_ms > kAccountLimits.account_logins.max_wait_ms);
static_assert(kAccountLimits.address_logins.forget_ms > kAccountLimits.address_logins.max_wait_ms);

}  // namespace service
